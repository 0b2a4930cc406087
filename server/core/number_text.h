// Numbers as messages and logs write them: plain decimal digits, or with the
// one leading blank that marks a non-negative number.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tellarium {

// 17 as "17", 2.5 as "2.5", 0.25 as ".25" (no zero before the point).
std::string NumberText(double value);

// 17 as " 17", -3 as "-3".
std::string SignedNumberText(double value);

// The whole number the text is, all of it decimal digits (with a leading
// "-"), when it lies from low to high; otherwise nothing.
std::optional<int64_t> WholeNumberIn(std::string_view text, int64_t low, int64_t high);

}  // namespace tellarium
