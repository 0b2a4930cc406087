// The 12-hour time and long date texts of messages.
#include <gtest/gtest.h>

#include "support/server_fixture.h"

namespace tellarium {
namespace {

using TimeTextsTest = testing::ServerTest;

TEST_F(TimeTextsTest, TwelveHourTimes) {
  EXPECT_EQ(server.tme("13:05:09"), "1:05:09 PM");
  EXPECT_EQ(server.tme("00:30"), "12:30 AM");
  EXPECT_EQ(server.tme("00:00"), "12:00 AM");
  EXPECT_EQ(server.tme("12:00"), "12:00 PM");
  EXPECT_EQ(server.tme("11:59:59"), "11:59:59 AM");
  EXPECT_EQ(server.tme("23:59"), "11:59 PM");
  EXPECT_EQ(server.tme("09:15"), "9:15 AM");
}

TEST_F(TimeTextsTest, LongDates) {
  EXPECT_EQ(server.dte("12-06-2026"), "Sunday, December 06, 2026");
  EXPECT_EQ(server.dte("02-29-2024"), "Thursday, February 29, 2024");
  EXPECT_EQ(server.dte("01-01-1900"), "Monday, January 01, 1900");
  EXPECT_EQ(server.dte("07-04-1776"), "Thursday, July 04, 1776");
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(TimeTextsTest, TextThatIsNoDateIsAnErrorEntry) {
  EXPECT_EQ(server.dte("02-30-2026"), "");
  EXPECT_EQ(server.dte(""), "");
  EXPECT_EQ(ErrorLog(), "Routine: DTE\r\nError:Type mismatch ( 13)\r\n"
                        "Routine: DTE\r\nError:Type mismatch ( 13)\r\n");
}

}  // namespace
}  // namespace tellarium
