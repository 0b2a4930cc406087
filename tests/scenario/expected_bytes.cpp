#include "scenario/expected_bytes.h"

#include <cctype>
#include <cstdint>
#include <stdexcept>

namespace tellarium::scenario {
namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }
bool Letter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool AmPm(char c) { return c == 'A' || c == 'P'; }

void AddByte(std::vector<Element>& out, char c) { out.push_back({c, {}, 1, 1}); }
void AddText(std::vector<Element>& out, const std::string& text) {
  for (char c : text) AddByte(out, c);
}
void AddRun(std::vector<Element>& out, bool (*inClass)(char), int least, int most) {
  out.push_back({0, inClass, least, most});
}

void AddHoursMinutes(std::vector<Element>& out) {
  AddRun(out, Digit, 1, 2);
  AddByte(out, ':');
  AddRun(out, Digit, 2, 2);
}

void AddAmPm(std::vector<Element>& out) {
  AddByte(out, ' ');
  AddRun(out, AmPm, 1, 1);
  AddByte(out, 'M');
}

void AddLittleEndian(std::vector<Element>& out, int64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) AddByte(out, static_cast<char>((value >> (8 * i)) & 0xFF));
}

// One brace: a wildcard or a stored field.
void AddBrace(std::vector<Element>& out, const std::string& brace) {
  const auto [head, rest] = FirstWord(brace);
  if (brace == "TIME") {
    AddHoursMinutes(out);
    AddByte(out, ':');
    AddRun(out, Digit, 2, 2);
    AddAmPm(out);
  } else if (brace == "HM") {
    AddHoursMinutes(out);
    AddAmPm(out);
  } else if (brace == "DATE") {
    AddRun(out, Letter, 6, 9);
    AddText(out, ", ");
    AddRun(out, Letter, 3, 9);
    AddByte(out, ' ');
    AddRun(out, Digit, 2, 2);
    AddText(out, ", ");
    AddRun(out, Digit, 4, 4);
  } else if (brace == "DAY") {
    AddRun(out, Digit, 2, 2);
    AddByte(out, '-');
    AddRun(out, Digit, 2, 2);
    AddByte(out, '-');
    AddRun(out, Digit, 4, 4);
  } else if (brace == "NUM") {
    AddRun(out, Digit, 1, 12);
  } else if (brace == "T" || brace == "F") {
    AddLittleEndian(out, brace == "T" ? -1 : 0, 2);
  } else if (head == "i16" || head == "i32") {
    AddLittleEndian(out, std::stoll(rest), head == "i16" ? 2 : 4);
  } else if (head == "rep") {
    const auto [count, text] = FirstWord(rest);
    const ExpectedBytes repeated(text);
    for (int n = std::stoi(count); n > 0; --n) repeated.AppendTo(out);
  } else if (!head.empty() && Digit(head[0])) {
    const std::size_t width = std::stoul(head);
    if (rest.size() > width) throw std::invalid_argument("{" + brace + "}: text wider than its field");
    AddText(out, rest + std::string(width - rest.size(), ' '));
  } else {
    throw std::invalid_argument("unknown {" + brace + "}");
  }
}

char Unescaped(char c, const std::string& text, std::size_t& at) {
  switch (c) {
    case 'r': return '\r';
    case 'n': return '\n';
    case 'e': return '\x1b';
    case 'a': return '\x07';
    case 't': return '\t';
    case 's': return ' ';
    case '0': return '\0';
    case '\\':
    case '{':
    case '}': return c;
    case 'x':
      if (at + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[at + 1])) ||
          !std::isxdigit(static_cast<unsigned char>(text[at + 2]))) {
        throw std::invalid_argument("\\x needs two hex digits");
      }
      at += 2;
      return static_cast<char>(std::stoi(text.substr(at - 1, 2), nullptr, 16));
    default: throw std::invalid_argument(std::string("unknown escape \\") + c);
  }
}

}  // namespace

std::pair<std::string, std::string> FirstWord(const std::string& text) {
  const std::size_t blank = text.find(' ');
  if (blank == std::string::npos) return {text, ""};
  return {text.substr(0, blank), text.substr(blank + 1)};
}

ExpectedBytes::ExpectedBytes(const std::string& text) {
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '\\' && at + 1 < text.size()) {
      ++at;
      AddByte(elements_, Unescaped(text[at], text, at));
    } else if (c == '{') {
      const std::size_t close = text.find('}', at);
      if (close == std::string::npos) throw std::invalid_argument("unclosed {");
      AddBrace(elements_, text.substr(at + 1, close - at - 1));
      at = close;
    } else {
      AddByte(elements_, c);
    }
  }
}

void ExpectedBytes::AppendTo(std::vector<Element>& out) const { out.insert(out.end(), elements_.begin(), elements_.end()); }

std::string ExpectedBytes::Bytes() const {
  std::string bytes;
  for (const Element& e : elements_) bytes += e.byte;
  return bytes;
}

ExpectedBytes::Outcome ExpectedBytes::Match(const std::string& received, std::size_t& length) const {
  return MatchFrom(0, received, 0, length);
}

// Runs take as many bytes as they can, giving some back when what follows
// does not match. Bytes not yet received may still complete a match.
ExpectedBytes::Outcome ExpectedBytes::MatchFrom(std::size_t element, const std::string& received, std::size_t at,
                                                std::size_t& end) const {
  if (element == elements_.size()) {
    end = at;
    return Outcome::kMatched;
  }
  const Element& e = elements_[element];
  if (!e.inClass) {
    if (at == received.size()) return Outcome::kNeedMore;
    if (received[at] != e.byte) return Outcome::kMismatch;
    return MatchFrom(element + 1, received, at + 1, end);
  }
  int taken = 0;
  while (taken < e.most && at + static_cast<std::size_t>(taken) < received.size() &&
         e.inClass(received[at + static_cast<std::size_t>(taken)])) {
    ++taken;
  }
  const bool runMayGrow = taken < e.most && at + static_cast<std::size_t>(taken) == received.size();
  Outcome best = runMayGrow ? Outcome::kNeedMore : Outcome::kMismatch;
  for (int n = taken; n >= e.least; --n) {
    const Outcome outcome = MatchFrom(element + 1, received, at + static_cast<std::size_t>(n), end);
    if (outcome == Outcome::kMatched) return outcome;
    if (outcome == Outcome::kNeedMore) best = Outcome::kNeedMore;
  }
  return best;
}

std::string Escaped(const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\x1b': out += "\\e"; break;
      case '\x07': out += "\\a"; break;
      case '\\': out += "\\\\"; break;
      default:
        if (u < 0x20 || u >= 0x7f) {
          out += "\\x";
          out += kHex[u >> 4];
          out += kHex[u & 0xF];
        } else {
          out += c;
        }
    }
  }
  return out;
}

}  // namespace tellarium::scenario
