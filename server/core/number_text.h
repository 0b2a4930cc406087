// Numbers as messages and logs write them: plain decimal digits, or with the
// one leading blank that marks a non-negative number.
#pragma once

#include <string>

namespace tellarium {

// 17 as "17", 2.5 as "2.5", 0.25 as ".25" (no zero before the point).
std::string NumberText(double value);

// 17 as " 17", -3 as "-3".
std::string SignedNumberText(double value);

}  // namespace tellarium
