// Text forms of fields exchanged with the graphical client: fields each ended
// by "|", numbers as decimal digits, flags as "True" or "False".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tellarium {

// Cuts "|"-ended fields off the front of a text.
class FieldCutter {
 public:
  explicit FieldCutter(std::string_view text) : rest_(text) {}
  // The text before the next "|", or nothing when no "|" is left.
  std::optional<std::string> Next();

 private:
  std::string_view rest_;
};

// The decimal value of a field's leading digits, after leading blanks and an
// optional sign; a field with no digits gives 0. Very long numbers saturate.
int64_t LeadingNumber(std::string_view field);

// The digits a text begins with.
std::string_view LeadingDigits(std::string_view text);

// Narrowing that raises Overflow when the value does not fit.
int16_t ToInt16(int64_t value);
int32_t ToInt32(int64_t value);

// "True"/"False" (any case, blanks around ignored) or a number, nonzero being
// true; anything else raises Type mismatch.
bool ReadFlag(std::string_view field);
std::string_view FlagText(bool value);

}  // namespace tellarium
