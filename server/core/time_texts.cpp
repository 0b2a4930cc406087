// The time and date texts of messages: a 12-hour time and a long date.
#include <algorithm>
#include <array>

#include "server/core/dates.h"
#include "server/core/server.h"
#include "server/core/text_fields.h"

namespace tellarium {
namespace {

constexpr std::array<const char*, 7> kWeekdays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                  "Thursday", "Friday", "Saturday"};
constexpr std::array<const char*, 12> kMonths = {"January", "February", "March",     "April",   "May",      "June",
                                                 "July",    "August",   "September", "October", "November", "December"};

// "hh:mm" or "hh:mm:ss" with the hour on a 12-hour clock and AM or PM after it.
std::string TwelveHourText(std::string_view a) {
  int64_t hour = LeadingNumber(a.substr(0, 2));
  std::string_view suffix = "AM";
  if (hour > 11) {
    hour -= 12;
    suffix = "PM";
  }
  if (hour == 0) hour = 12;
  std::string text = std::to_string(hour);
  text.append(a.substr(std::min<std::size_t>(2, a.size())));
  text.append(" ").append(suffix);
  return text;
}

// Day 1 of the day count, 31 December 1899, was a Sunday.
std::size_t WeekdayOf(double dayCount) {
  const long days = static_cast<long>(dayCount) - 1;
  return static_cast<std::size_t>((days % 7 + 7) % 7);
}

// "MM-DD-YYYY" as "Sunday, December 06, 2026": the day and year as written.
std::string LongDateText(std::string_view a) {
  const double dayCount = ParseDayCount(a);  // a text that is no date raises Type mismatch
  const auto month = static_cast<std::size_t>(LeadingNumber(a));
  std::string text = kWeekdays[WeekdayOf(dayCount)];
  text.append(", ").append(kMonths[month - 1]).append(" ");
  text.append(a.substr(std::min<std::size_t>(3, a.size()), 2)).append(", ");
  text.append(a.substr(a.size() >= 4 ? a.size() - 4 : 0));
  return text;
}

}  // namespace

std::string Server::tme(std::string_view a) {
  std::string text;
  Trap("tme")([&] { text = TwelveHourText(a); });
  return text;
}

std::string Server::dte(std::string_view a) {
  std::string text;
  Trap("DTE")([&] { text = LongDateText(a); });
  return text;
}

}  // namespace tellarium
