#include "scenario/expected_bytes.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <cstdint>
#include <stdexcept>

namespace tellarium::scenario {
namespace {

// Escapes and the bytes they stand for; "\s" (a blank) and "\xHH" besides.
constexpr std::pair<char, char> kEscapes[] = {{'r', '\r'}, {'n', '\n'},  {'e', '\x1b'}, {'a', '\x07'},
                                              {'t', '\t'}, {'0', '\0'}, {'\\', '\\'}};

void AddByte(std::vector<Element>& out, char c) { out.push_back({c, {}, 1, 1}); }
void AddText(std::vector<Element>& out, const std::string& text) {
  for (char c : text) AddByte(out, c);
}

void AddLittleEndian(std::vector<Element>& out, int64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) AddByte(out, static_cast<char>((value >> (8 * i)) & 0xFF));
}

// "{digits 1-2}", "{letters 6}", "{oneof AP}": a run of one class of bytes.
void AddRun(std::vector<Element>& out, const std::string& kind, const std::string& counts) {
  std::function<bool(char)> inClass = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
  if (kind == "letters") inClass = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; };
  if (kind == "oneof") {
    out.push_back({0, [counts](char c) { return counts.find(c) != std::string::npos; }, 1, 1});
    return;
  }
  const int least = std::stoi(counts);
  const std::size_t dash = counts.find('-');
  out.push_back({0, inClass, least, dash == std::string::npos ? least : std::stoi(counts.substr(dash + 1))});
}

// One brace: a run of a class or a stored field.
void AddBrace(std::vector<Element>& out, const std::string& brace) {
  const auto [head, rest] = FirstWord(brace);
  if (head == "digits" || head == "letters" || head == "oneof") {
    AddRun(out, head, rest);
  } else if (brace == "T" || brace == "F") {
    AddLittleEndian(out, brace == "T" ? -1 : 0, 2);
  } else if (head == "i16" || head == "i32") {
    AddLittleEndian(out, std::stoll(rest), head == "i16" ? 2 : 4);
  } else if (head == "rep") {
    const auto [count, text] = FirstWord(rest);
    const ExpectedBytes repeated(text);
    for (int n = std::stoi(count); n > 0; --n) repeated.AppendTo(out);
  } else if (!head.empty() && std::isdigit(static_cast<unsigned char>(head[0]))) {
    const std::size_t width = std::stoul(head);
    if (rest.size() > width) throw std::invalid_argument("{" + brace + "}: text wider than its field");
    AddText(out, rest + std::string(width - rest.size(), ' '));
  } else {
    throw std::invalid_argument("unknown {" + brace + "}");
  }
}

char Unescaped(char c, const std::string& text, std::size_t& at) {
  for (const auto& [name, byte] : kEscapes) {
    if (c == name) return byte;
  }
  if (c == 's') return ' ';
  if (c == '{' || c == '}') return c;
  if (c != 'x') throw std::invalid_argument(std::string("unknown escape \\") + c);
  if (at + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[at + 1])) ||
      !std::isxdigit(static_cast<unsigned char>(text[at + 2]))) {
    throw std::invalid_argument("\\x needs two hex digits");
  }
  at += 2;
  return static_cast<char>(std::stoi(text.substr(at - 1, 2), nullptr, 16));
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
    const auto* named = std::find_if(std::begin(kEscapes), std::end(kEscapes), [c](const auto& e) { return e.second == c; });
    if (named != std::end(kEscapes)) {
      out += {'\\', named->first};
    } else if (u < 0x20 || u >= 0x7f) {
      out += {'\\', 'x', kHex[u >> 4], kHex[u & 0xF]};
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace tellarium::scenario
