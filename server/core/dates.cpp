#include "server/core/dates.h"

#include <cmath>
#include <cstdio>
#include <optional>

#include "platform/clock.h"
#include "server/core/error_trap.h"

namespace tellarium {
namespace {

constexpr double kEarliestDayCount = -657434;  // 1 January 100
constexpr double kLatestDayCount = 2958466;    // 1 January 10000 (exclusive)
constexpr int kUnixEpochDayCount = 25569;      // 1 January 1970

// Days since 1 January 1970 of a civil date (proleptic Gregorian).
long DaysFromCivil(long year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const long era = (year >= 0 ? year : year - 399) / 400;
  const long yearOfEra = year - era * 400;
  const long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

struct CivilDate {
  long year;
  int month;
  int day;
};

CivilDate CivilFromDays(long days) {
  days += 719468;
  const long era = (days >= 0 ? days : days - 146096) / 146097;
  const long dayOfEra = days - era * 146097;
  const long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long mp = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

std::string TwelveHourTime(double fraction) {
  const long seconds = std::lround(fraction * 86400.0) % 86400;
  const long hour = seconds / 3600;
  const char* suffix = hour >= 12 ? "PM" : "AM";
  long hour12 = hour % 12;
  if (hour12 == 0) hour12 = 12;
  char text[24];
  std::snprintf(text, sizeof text, "%ld:%02ld:%02ld %s", hour12, seconds / 60 % 60, seconds % 60, suffix);
  return text;
}

// Reads an unsigned decimal number at the front of `text`.
std::optional<int> TakeNumber(std::string_view& text) {
  int value = 0;
  std::size_t digits = 0;
  while (digits < text.size() && digits < 5 && text[digits] >= '0' && text[digits] <= '9') {
    value = value * 10 + (text[digits] - '0');
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  text.remove_prefix(digits);
  return value;
}

bool TakeChar(std::string_view& text, std::string_view accepted) {
  if (text.empty() || accepted.find(text.front()) == std::string_view::npos) return false;
  text.remove_prefix(1);
  return true;
}

void SkipBlanks(std::string_view& text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
}

// "h:mm[:ss] [AM|PM]" as a fraction of a day.
std::optional<double> TakeTimeOfDay(std::string_view& text) {
  auto hour = TakeNumber(text);
  if (!hour || !TakeChar(text, ":")) return std::nullopt;
  auto minute = TakeNumber(text);
  std::optional<int> second = 0;
  if (TakeChar(text, ":")) second = TakeNumber(text);
  if (!minute || !second || *minute > 59 || *second > 59) return std::nullopt;
  SkipBlanks(text);
  int h = *hour;
  if (text == "AM" || text == "am" || text == "PM" || text == "pm") {
    if (h < 1 || h > 12) return std::nullopt;
    h = h % 12 + ((text[0] == 'P' || text[0] == 'p') ? 12 : 0);
    text = {};
  }
  if (h > 23) return std::nullopt;
  return (h * 3600 + *minute * 60 + *second) / 86400.0;
}

int DaysInMonth(long year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

std::string DateText(const std::tm& when) {
  char text[40];
  std::snprintf(text, sizeof text, "%02d-%02d-%04d", when.tm_mon + 1, when.tm_mday, when.tm_year + 1900);
  return text;
}

std::string TimeText(const std::tm& when) {
  char text[40];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", when.tm_hour, when.tm_min, when.tm_sec);
  return text;
}

double DayCount(int year, int month, int day) {
  return static_cast<double>(DaysFromCivil(year, month, day) + kUnixEpochDayCount);
}

double TodayDayCount() {
  const std::tm now = platform::LocalNow();
  return DayCount(now.tm_year + 1900, now.tm_mon + 1, now.tm_mday);
}

std::string DayCountText(double dayCount) {
  if (!(dayCount >= kEarliestDayCount && dayCount < kLatestDayCount)) Raise(ErrorNumber::kOverflow);
  const double whole = std::trunc(dayCount);
  const double fraction = std::fabs(dayCount - whole);
  if (whole == 0) return TwelveHourTime(fraction);
  const CivilDate date = CivilFromDays(static_cast<long>(whole) - kUnixEpochDayCount);
  std::string text = std::to_string(date.month) + "/" + std::to_string(date.day) + "/" + std::to_string(date.year);
  if (fraction != 0) text += " " + TwelveHourTime(fraction);
  return text;
}

double ParseDayCount(std::string_view text) {
  SkipBlanks(text);
  auto month = TakeNumber(text);
  const bool separated = TakeChar(text, "/-");
  auto day = TakeNumber(text);
  const bool separatedAgain = TakeChar(text, "/-");
  auto year = TakeNumber(text);
  if (!month || !separated || !day || !separatedAgain || !year) Raise(ErrorNumber::kTypeMismatch);
  long fullYear = *year;
  if (fullYear < 100) fullYear += fullYear < 30 ? 2000 : 1900;
  if (*month < 1 || *month > 12 || fullYear > 9999 || *day < 1 || *day > DaysInMonth(fullYear, *month)) {
    Raise(ErrorNumber::kTypeMismatch);
  }
  double result = DayCount(static_cast<int>(fullYear), *month, *day);
  SkipBlanks(text);
  if (!text.empty()) {
    const auto time = TakeTimeOfDay(text);
    if (!time || !text.empty()) Raise(ErrorNumber::kTypeMismatch);
    result += *time;
  }
  return result;
}

}  // namespace tellarium
