#include "server/core/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tellarium {

std::string NumberText(double value) {
  char digits[32];
  if (value == std::trunc(value) && std::fabs(value) < 1e15) {
    std::snprintf(digits, sizeof digits, "%.0f", value);
  } else {
    std::snprintf(digits, sizeof digits, "%.15G", value);
  }
  std::string text = digits;
  const std::size_t zero = text[0] == '-' ? 1 : 0;
  if (text.compare(zero, 2, "0.") == 0) text.erase(zero, 1);
  if (text == "-0") text = "0";
  return text;
}

std::string SignedNumberText(double value) {
  std::string text = NumberText(value);
  if (text[0] != '-') text.insert(0, " ");
  return text;
}

std::optional<int64_t> WholeNumberIn(std::string_view text, int64_t low, int64_t high) {
  int64_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size() || number < low || number > high) {
    return std::nullopt;
  }
  return number;
}

}  // namespace tellarium
