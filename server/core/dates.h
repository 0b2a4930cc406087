// Dates and times as the server stores them: texts of the current date
// ("MM-DD-YYYY") and time ("HH:MM:SS"), and day counts (days since
// 30 December 1899, the fraction being the time of day).
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace tellarium {

std::string DateText(const std::tm& when);  // 12-06-2026
std::string TimeText(const std::tm& when);  // 09:05:01

double DayCount(int year, int month, int day);
double TodayDayCount();

// 1 January 1980: the date of free and system message slots.
inline const double kSlotBaseDate = DayCount(1980, 1, 1);

// A day count as a date text, e.g. 1/1/1980 (with " h:mm:ss AM" when it has a
// time of day). Raises Overflow for values outside the years 100 to 9999.
std::string DayCountText(double dayCount);

// Reads a date text such as 1/1/1980 or 12-6-26, optionally followed by a time
// of day; raises Type mismatch when the text is not a date.
double ParseDayCount(std::string_view text);

}  // namespace tellarium
