#include <gtest/gtest.h>

#include <new>

#include "server/core/dates.h"
#include "server/core/error_trap.h"
#include "server/core/text_fields.h"
#include "support/scratch_directory.h"

namespace tellarium {
namespace {

ErrorNumber RaisedBy(const std::function<void()>& statement) {
  try {
    statement();
  } catch (const RunTimeError& error) {
    return error.number();
  }
  return ErrorNumber{0};
}

TEST(FieldCutter, CutsAtEachBarAndStopsWhenNoneIsLeft) {
  FieldCutter cutter("a||b c|tail");
  EXPECT_EQ(cutter.Next(), "a");
  EXPECT_EQ(cutter.Next(), "");
  EXPECT_EQ(cutter.Next(), "b c");
  EXPECT_EQ(cutter.Next(), std::nullopt);
}

TEST(LeadingNumber, ReadsSignAndLeadingDigitsOnly) {
  EXPECT_EQ(LeadingNumber("42"), 42);
  EXPECT_EQ(LeadingNumber("-1"), -1);
  EXPECT_EQ(LeadingNumber("  17abc"), 17);
  EXPECT_EQ(LeadingNumber(""), 0);
  EXPECT_EQ(LeadingNumber(" "), 0);
  EXPECT_EQ(LeadingNumber("-"), 0);
  EXPECT_EQ(LeadingNumber("abc12"), 0);
  EXPECT_GT(LeadingNumber("99999999999999999999999"), int64_t{1} << 32);
}

TEST(LeadingNumber, NarrowingRaisesOverflow) {
  EXPECT_EQ(ToInt16(-32768), -32768);
  EXPECT_EQ(RaisedBy([] { ToInt16(32768); }), ErrorNumber::kOverflow);
  EXPECT_EQ(RaisedBy([] { ToInt32(LeadingNumber("99999999999")); }), ErrorNumber::kOverflow);
}

TEST(ReadFlag, TakesTrueFalseOrNumbers) {
  EXPECT_TRUE(ReadFlag("True"));
  EXPECT_TRUE(ReadFlag(" true "));
  EXPECT_FALSE(ReadFlag("False"));
  EXPECT_TRUE(ReadFlag("-1"));
  EXPECT_TRUE(ReadFlag("5"));
  EXPECT_FALSE(ReadFlag("0"));
  EXPECT_EQ(RaisedBy([] { ReadFlag(" "); }), ErrorNumber::kTypeMismatch);
  EXPECT_EQ(RaisedBy([] { ReadFlag("Yes"); }), ErrorNumber::kTypeMismatch);
  EXPECT_EQ(FlagText(true), "True");
  EXPECT_EQ(FlagText(false), "False");
}

TEST(Dates, DayCountsFollowTheEighteenNinetyNineEpoch) {
  EXPECT_EQ(DayCount(1899, 12, 30), 0);
  EXPECT_EQ(DayCount(1980, 1, 1), 29221);
  EXPECT_EQ(DayCountText(29221), "1/1/1980");
  EXPECT_EQ(DayCountText(DayCount(2026, 12, 6) + 0.75), "12/6/2026 6:00:00 PM");
  EXPECT_EQ(ParseDayCount("1/1/1980"), 29221);
  EXPECT_EQ(ParseDayCount("1/1/80"), 29221);
  EXPECT_EQ(ParseDayCount("12-6-2026 6:00:00 PM"), DayCount(2026, 12, 6) + 0.75);
  EXPECT_EQ(RaisedBy([] { ParseDayCount("2/30/2000"); }), ErrorNumber::kTypeMismatch);
  EXPECT_EQ(RaisedBy([] { ParseDayCount("soon"); }), ErrorNumber::kTypeMismatch);
  EXPECT_EQ(RaisedBy([] { DayCountText(1e300); }), ErrorNumber::kOverflow);
}

TEST(ErrorTrap, SkipsEachFailingStatementAndCarriesOn) {
  testing::ScratchDirectory scratch;
  scratch.Enter();
  bool debugMode = false;
  const ErrorTrap trap("Example", debugMode);
  int completed = 0;
  trap([] { Raise(ErrorNumber::kTypeMismatch); });
  trap([&] { ++completed; });
  // Whatever a statement throws is trapped, as the run-time error it stands for.
  trap([] { (void)std::string("ab").substr(3); });
  trap([] { throw std::bad_alloc(); });
  trap([] { throw 42; });
  EXPECT_EQ(completed, 1);
  EXPECT_EQ(testing::ReadFile("error.log"),
            "Routine: Example\r\nError:Type mismatch ( 13)\r\n"
            "Routine: Example\r\nError:Subscript out of range ( 9)\r\n"
            "Routine: Example\r\nError:Out of memory ( 7)\r\n"
            "Routine: Example\r\nError:Invalid procedure call or argument ( 5)\r\n");
  debugMode = true;
  EXPECT_THROW(trap([] { Raise(ErrorNumber::kOverflow); }), RunTimeError);
}

}  // namespace
}  // namespace tellarium
