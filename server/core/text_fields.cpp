#include "server/core/text_fields.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "server/core/error_trap.h"
#include "server/core/fixed_text.h"

namespace tellarium {
namespace {

constexpr int64_t kSaturation = int64_t{1} << 40;  // far beyond any 32-bit field

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

// [sign] digits [. digits], nothing else.
bool IsPlainNumber(std::string_view text) {
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  const auto point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction = point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
  const bool wholeDigits = std::all_of(whole.begin(), whole.end(), IsDigit);
  const bool fractionDigits = std::all_of(fraction.begin(), fraction.end(), IsDigit);
  return wholeDigits && fractionDigits && whole.size() + fraction.size() > 0;
}

}  // namespace

std::optional<std::string> FieldCutter::Next() {
  const auto bar = rest_.find('|');
  if (bar == std::string_view::npos) return std::nullopt;
  std::string field(rest_.substr(0, bar));
  rest_.remove_prefix(bar + 1);
  return field;
}

int64_t LeadingNumber(std::string_view field) {
  field = TrimLeft(field);
  bool negative = false;
  if (!field.empty() && (field.front() == '-' || field.front() == '+')) {
    negative = field.front() == '-';
    field.remove_prefix(1);
  }
  int64_t value = 0;
  for (char c : field) {
    if (!IsDigit(c)) break;
    value = std::min(value * 10 + (c - '0'), kSaturation);
  }
  return negative ? -value : value;
}

int16_t ToInt16(int64_t value) {
  if (value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max()) {
    Raise(ErrorNumber::kOverflow);
  }
  return static_cast<int16_t>(value);
}

int32_t ToInt32(int64_t value) {
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
    Raise(ErrorNumber::kOverflow);
  }
  return static_cast<int32_t>(value);
}

bool ReadFlag(std::string_view field) {
  field = Trim(field);
  if (EqualsIgnoringCase(field, "True")) return true;
  if (EqualsIgnoringCase(field, "False")) return false;
  if (!IsPlainNumber(field)) Raise(ErrorNumber::kTypeMismatch);
  return std::any_of(field.begin(), field.end(), [](char c) { return c >= '1' && c <= '9'; });
}

std::string_view FlagText(bool value) { return value ? "True" : "False"; }

std::string_view LeadingDigits(std::string_view text) {
  return text.substr(0, std::min(text.size(), text.find_first_not_of("0123456789")));
}

}  // namespace tellarium
