// What no caller reaches: the field codec at its edges, the data file layer,
// the text fields of client packets and the error trap.
#include <gtest/gtest.h>

#include <functional>
#include <new>

#include "server/core/dates.h"
#include "server/core/error_trap.h"
#include "server/core/field_codec.h"
#include "server/core/record_layouts.h"
#include "server/core/text_fields.h"
#include "support/scratch_directory.h"

namespace tellarium {
namespace {

std::string Bytes(std::string_view bytes) { return std::string(bytes); }

ErrorNumber RaisedBy(const std::function<void()>& statement) {
  try {
    statement();
  } catch (const RunTimeError& error) {
    return error.number();
  }
  return ErrorNumber{0};
}

// Channel records as a file may hold them: what is read, and what is written back.
TEST(FieldCodec, ChannelRecordsReadAndWrittenBack) {
  const std::string lounge = "  Lounge" + std::string(32, ' ');
  struct Row {
    std::string stored, name;
    int16_t capacity, occupancy;
    bool flagA, flagB;
    std::string written;
  };
  const Row rows[] = {
      {lounge + Bytes({"\x1e\x00\xfe\xff\x02\x01\xff\xff\x00\x00", 10}), "Lounge", 30, -2, true, false, ""},
      // Any nonzero flag reads as true and is written as -1.
      {lounge + Bytes({"\0\0\0\0\0\0\x01\x00\x00\x80", 10}), "Lounge", 0, 0, true, true,
       lounge + Bytes({"\0\0\0\0\0\0\xff\xff\xff\xff", 10})},
      // A short record reads blanks and zeros; bytes past the record are not read.
      {"Ann", "Ann", 0, 0, false, false, "Ann" + std::string(37, ' ') + std::string(10, '\0')},
      {lounge + Bytes({"\x07\x00\0\0\0\0\0\0\0\0", 10}) + "next", "Lounge", 7, 0, false, false,
       lounge + Bytes({"\x07\x00\0\0\0\0\0\0\0\0", 10})},
  };
  for (const Row& row : rows) {
    ChannelInfo channel;
    channel.capacity = channel.occupancy = 99;
    channel.flagA = channel.flagB = true;
    Decode<ChannelRecord>(row.stored, channel);
    EXPECT_EQ(channel.name.Trimmed(), row.name) << row.stored;
    EXPECT_EQ(channel.capacity, row.capacity) << row.stored;
    EXPECT_EQ(channel.occupancy, row.occupancy) << row.stored;
    EXPECT_EQ(channel.flagA, row.flagA) << row.stored;
    EXPECT_EQ(channel.flagB, row.flagB) << row.stored;
    EXPECT_EQ(Encode<ChannelRecord>(channel), row.written.empty() ? row.stored : row.written);
  }
}

TEST(FieldCodec, NumbersDatesAndTextsAsWritten) {
  ServerConfig config;
  config.totalCalls = -70000;
  config.callsToday = 5;
  config.lastCallDate = "12-06-2026 and more";
  EXPECT_EQ(Encode<CallRecord>(config).substr(0, 18), Bytes({"\x90\xee\xfe\xff\x05\x00", 6}) + "12-06-2026  ");
  MessageSlot slot;
  slot.date = 29221.5;  // noon on 1 January 1980
  EXPECT_EQ(Encode<MessageSlotLayout>(slot).substr(2, 8), Bytes({"\0\0\0\0\x60\x89\xdc\x40", 8}));
  // Only blanks are trimmed.
  EXPECT_EQ(FixedText<6>(" \ta b ").Trimmed(), "\ta b");
  EXPECT_EQ(FixedText<6>(" a b ").TrimmedLeft(), "a b  ");
}

class RecordFileTest : public ::testing::Test {
 protected:
  void SetUp() override { scratch_.Enter(); }
  testing::ScratchDirectory scratch_;
};

TEST_F(RecordFileTest, RecordsAreWrittenInTheirSlotsAndReadAsFarAsTheFileGoes) {
  const DataFile file{"r.qvs", 8};
  EXPECT_EQ(ReadRecord(file, 1), "");
  EXPECT_FALSE(FileExists("r.qvs"));
  WriteRecord(file, 3, "ccc");
  WriteRecord(file, 1, "aaaaaaaa");
  WriteRecord(file, 3, "C");
  EXPECT_EQ(testing::ReadFile("r.qvs"), "aaaaaaaa" + std::string(8, '\0') + "Ccc");
  EXPECT_EQ(ReadRecord(file, 3), "Ccc");
  EXPECT_EQ(ReadRecord(file, 4), "");
  EXPECT_EQ(RaisedBy([&] { WriteRecord(file, 0, "x"); }), ErrorNumber::kBadRecordNumber);
  std::filesystem::create_directory("dir.qvs");
  EXPECT_EQ(RaisedBy([] { WriteRecord({"dir.qvs", 8}, 1, "x"); }), ErrorNumber::kPathFileAccessError);
}

TEST(TextFields, NumbersFlagsAndFieldsAsTyped) {
  const std::pair<const char*, int64_t> numbers[] = {{"42", 42}, {"-1", -1}, {"  17abc", 17}, {"", 0},
                                                     {" ", 0},   {"-", 0},   {"abc12", 0}};
  for (const auto& [text, value] : numbers) EXPECT_EQ(LeadingNumber(text), value) << '"' << text << '"';
  EXPECT_GT(LeadingNumber("99999999999999999999999"), int64_t{1} << 32);
  EXPECT_EQ(ToInt16(-32768), -32768);
  EXPECT_EQ(RaisedBy([] { ToInt16(32768); }), ErrorNumber::kOverflow);
  EXPECT_EQ(RaisedBy([] { ToInt32(LeadingNumber("99999999999")); }), ErrorNumber::kOverflow);
  const std::pair<const char*, bool> flags[] = {{"True", true}, {" true ", true}, {"False", false},
                                                {"-1", true},   {"5", true},      {"0", false}};
  for (const auto& [text, value] : flags) EXPECT_EQ(ReadFlag(text), value) << '"' << text << '"';
  for (const char* text : {" ", "Yes"}) EXPECT_EQ(RaisedBy([&] { ReadFlag(text); }), ErrorNumber::kTypeMismatch);
  FieldCutter cutter("a||b c|tail");
  for (const char* field : {"a", "", "b c"}) EXPECT_EQ(cutter.Next(), field);
  EXPECT_EQ(cutter.Next(), std::nullopt);
}

TEST(Dates, DayCountsFromThirtiethDecember1899) {
  EXPECT_EQ(DayCount(1899, 12, 30), 0);
  EXPECT_EQ(DayCountText(29221), "1/1/1980");
  EXPECT_EQ(DayCountText(DayCount(2026, 12, 6) + 0.75), "12/6/2026 6:00:00 PM");
  const std::pair<const char*, double> texts[] = {
      {"1/1/1980", 29221}, {"1/1/80", 29221}, {"12-6-2026 6:00:00 PM", DayCount(2026, 12, 6) + 0.75}};
  for (const auto& [text, count] : texts) EXPECT_EQ(ParseDayCount(text), count) << text;
  for (const char* text : {"2/30/2000", "soon"}) {
    EXPECT_EQ(RaisedBy([&] { ParseDayCount(text); }), ErrorNumber::kTypeMismatch) << text;
  }
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
