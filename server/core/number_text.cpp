#include "server/core/number_text.h"

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

}  // namespace tellarium
