// What no caller reaches: the codec and data files at their edges, text fields
// and dates beyond what packets carry, a new day at start.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "server/core/abuse_watch.h"
#include "server/core/dates.h"
#include "server/core/field_codec.h"
#include "server/core/proxy_header.h"
#include "server/core/record_layouts.h"
#include "server/core/text_fields.h"
#include "support/station_test.h"

namespace tellarium {
namespace {

using namespace std::literals;

ErrorNumber RaisedBy(const std::function<void()>& statement) {
  try {
    statement();
  } catch (const RunTimeError& error) {
    return error.number();
  }
  return ErrorNumber{0};
}

// Any nonzero flag reads as true and is written as -1; a short record reads
// blanks and zeros; bytes past the record are not read.
TEST(FieldCodec, RecordsReadAndWrittenBack) {
  const std::string lounge = "  Lounge" + std::string(32, ' '), seven = lounge + "\x07" + std::string(9, '\0');
  struct Row { std::string stored; int16_t capacity, occupancy; bool flagA, flagB; std::string written; };
  const Row rows[] = {
      {lounge + "\x1e\x00\xfe\xff\x02\x01\x01\x00\x00\x80"s, 30, -2, true, true,
       lounge + "\x1e\x00\xfe\xff\x02\x01\xff\xff\xff\xff"s},
      {"  Lounge", 0, 0, false, false, lounge + std::string(10, '\0')},
      {seven + "next", 7, 0, false, false, seven},
  };
  for (const Row& row : rows) {
    ChannelInfo channel{"x"sv, 99, 99, 99, true, true};
    Decode<ChannelRecord>(row.stored, channel);
    EXPECT_EQ(std::tuple(channel.name.Trimmed(), channel.capacity, channel.occupancy, channel.flagA, channel.flagB),
              std::tuple("Lounge", row.capacity, row.occupancy, row.flagA, row.flagB));
    EXPECT_EQ(Encode<ChannelRecord>(channel), row.written);
  }
}

TEST(DataFiles, RecordsAreWrittenInTheirSlotsAndReadAsFarAsTheFileGoes) {
  testing::ScratchDirectory scratch;
  scratch.Enter();
  const DataFile file{"r.qvs", 8};
  EXPECT_EQ(ReadRecord(file, 1), "");
  EXPECT_FALSE(FileExists("r.qvs"));
  WriteRecord(file, 3, "ccc");
  WriteRecord(file, 1, "aaaaaaaa");
  WriteRecord(file, 3, "C");
  EXPECT_EQ(testing::ReadFile("r.qvs"), "aaaaaaaa" + std::string(8, '\0') + "Ccc");
  EXPECT_EQ(ReadRecord(file, 3) + "|" + ReadRecord(file, 4), "Ccc|");
  EXPECT_EQ(RaisedBy([&] { WriteRecord(file, 0, "x"); }), ErrorNumber::kBadRecordNumber);
}

// Day counts run from 30 December 1899.
TEST(TextFields, NumbersFlagsAndDatesAsTyped) {
  const std::pair<const char*, int64_t> numbers[] = {{"42", 42}, {"  17abc", 17}, {" ", 0}, {"-", 0}, {"abc12", 0}};
  for (const auto& [text, value] : numbers) EXPECT_EQ(LeadingNumber(text), value) << '"' << text << '"';
  EXPECT_GT(LeadingNumber("99999999999999999999999"), int64_t{1} << 32);
  EXPECT_EQ(RaisedBy([] { ToInt32(LeadingNumber("99999999999")); }), ErrorNumber::kOverflow);
  const std::pair<const char*, bool> flags[] = {{" true ", true}, {"-1", true}, {"5", true}, {"0", false}};
  for (const auto& [text, value] : flags) EXPECT_EQ(ReadFlag(text), value) << '"' << text << '"';
  for (const char* text : {" ", "Yes"}) EXPECT_EQ(RaisedBy([&] { ReadFlag(text); }), ErrorNumber::kTypeMismatch);
  EXPECT_EQ(DayCount(1899, 12, 30), 0);
  EXPECT_EQ(DayCountText(DayCount(2026, 12, 6) + 0.75), "12/6/2026 6:00:00 PM");
  EXPECT_EQ(ParseDayCount("1/1/80"), DayCount(1980, 1, 1));
  EXPECT_EQ(ParseDayCount("12-6-2026 6:00:00 PM"), DayCount(2026, 12, 6) + 0.75);
  EXPECT_EQ(RaisedBy([] { ParseDayCount("2/30/2000"); }), ErrorNumber::kTypeMismatch);
  EXPECT_EQ(RaisedBy([] { DayCountText(1e300); }), ErrorNumber::kOverflow);
}

// The station started at noon on 6 December; config.qvs counts 9 calls, 5 today.
using NewDay = testing::StationTest;

TEST_F(NewDay, ClearsTodaysCallsAndStampsTheStartOnlyWhenTheDayChanged) {
  std::string file = testing::ReadFile("config.qvs");
  file.replace(2048, 6, "\x09\0\0\0\x05\0"s);
  testing::WriteFile("config.qvs", file);
  clock_.Advance(3600 * 1000);
  Server sameDay;
  sameDay.Startup();
  EXPECT_EQ(sameDay.config.callsToday, 5);
  EXPECT_EQ(testing::ReadFile("config.qvs"), file);
  clock_.Advance(24 * 3600 * 1000);
  Server nextDay;
  nextDay.Startup();
  EXPECT_EQ(nextDay.config.callsToday, 0);
  // The calls and the last call stay, but today's; the start is stamped.
  const std::string after = testing::ReadFile("config.qvs");
  EXPECT_EQ(after.substr(2048, 42), "\x09\0\0\0\0\0"s + file.substr(2048 + 6, 18) + "13:00:0012-07-2026");
  EXPECT_EQ(after.substr(0, 2048) + after.substr(2048 + 42), file.substr(0, 2048) + file.substr(2048 + 42));
}

// limits.conf: settings read at start; a line that cannot be read is named in
// error.log and its setting keeps its default.
class LimitsFile : public testing::StationTest {
 protected:
  void SetUp() override {
    testing::WriteFile("limits.conf", "# ours\nlines_per_address = 5 # a family\nexempt = 127.0.0.1, ::1\n"
                                      "login_timeout_s = 5\nbogus\n");
    StationTest::SetUp();
  }
};

TEST_F(LimitsFile, AreReadAtStartAndUnreadLinesNamed) {
  EXPECT_EQ(server.limits.linesPerAddress, 5);
  EXPECT_EQ(server.limits.exempt, (std::vector<std::string>{"127.0.0.1", "::1"}));
  EXPECT_EQ(server.limits.loginTimeoutS, 120);
  EXPECT_EQ(testing::ReadFile("error.log"), "limits.conf line 4: login_timeout_s = 5\r\nIts default is kept.\r\n"
                                            "limits.conf line 5: bogus\r\nIts default is kept.\r\n");
}

// A defence writes to the system log at most once a minute per address and kind.
TEST_F(LimitsFile, DefenceEntriesAreKeptToOneAMinutePerAddressAndKind) {
  const auto entries = [&] {
    return std::vector<std::string>(server.systemLog.begin(), server.systemLog.begin() + server.logCount);
  };
  for (const char* address : {"10.0.0.1", "10.0.0.1", "10.0.0.2"}) server.LogDefence(address, "test", address);
  server.LogDefence("10.0.0.1", "other", "other");
  Advance(60'000);
  server.LogDefence("10.0.0.1", "test", "again");
  ASSERT_EQ(entries().size(), 4u);
  EXPECT_EQ(entries()[0].substr(entries()[0].size() - 8), "10.0.0.1");
  EXPECT_TRUE(entries()[1].ends_with("10.0.0.2") && entries()[2].ends_with("other") && entries()[3].ends_with("again"));
}

// An account's failures past the allowed wait 1 s, doubling up to 30 s; an
// address is blocked by its fifth; each starts afresh when its window is over.
TEST(AbuseWatch, SlowsAccountsAndBlocksAddressesWithinTheirWindows) {
  Limits limits;
  AbuseWatch watch;
  std::vector<int64_t> delays;
  for (int64_t t = 0; t < 17; ++t) {
    delays.push_back(watch.NoteFailedLogin(limits, "10.0.0." + std::to_string(t), "000", t).answerDelayMs);
  }
  EXPECT_EQ(delays, (std::vector<int64_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1000, 2000, 4000, 8000, 16000, 30000, 30000}));
  EXPECT_EQ(watch.NoteFailedLogin(limits, "10.0.0.1", "000", 600'017).answerDelayMs, 0);
  std::vector<bool> blocks;
  for (int64_t t = 0; t < 5; ++t) blocks.push_back(watch.NoteFailedLogin(limits, "10.0.1.1", "001", t).blocksAddress);
  EXPECT_EQ(blocks, (std::vector<bool>{false, false, false, false, true}));
  EXPECT_EQ(watch.Screen(limits, "10.0.1.1", 0, 15 * 60'000 + 3), Refusal::kBlocked);
  EXPECT_EQ(watch.Screen(limits, "10.0.1.1", 0, 15 * 60'000 + 4), Refusal::kNone);
  EXPECT_EQ(watch.Screen(limits, "10.0.1.1", 3, 15 * 60'000 + 5), Refusal::kTooManyLines);
  for (int64_t t = 0; t < 10; ++t) EXPECT_EQ(watch.Screen(limits, "10.0.2.1", 0, t), Refusal::kNone);
  EXPECT_EQ(watch.Screen(limits, "10.0.2.1", 0, 9'999), Refusal::kTooManyConnections);
  EXPECT_EQ(watch.Screen(limits, "127.0.0.1", 31, 0), Refusal::kNone);
}

TEST(ProxyHeader, NamesTheCallerOrIsRefusedAsSoonAsItCannotBeOne) {
  using enum ProxyHeaderKind;
  const std::tuple<std::string, ProxyHeaderKind, std::string, std::size_t> rows[] = {
      {"PROX", kIncomplete, "", 0},
      {"PROXY TCP4 10.0.0.9 10.0.0.1 5000 23\r\nhi", kCaller, "10.0.0.9", 38},
      {"PROXY UNKNOWN\r\n", kUnknown, "", 15},
      {"GET / HTTP/1.1\r\n", kMalformed, "", 0},
      {"PROXY TCP4 ::1 10.0.0.1 5000 23\r\n", kMalformed, "", 0},
      {"PROXY TCP4 10.0.0.9 10.0.0.1 65536 23\r\n", kMalformed, "", 0},
      {"PROXY TCP4 10.0.0.9  10.0.0.1 5000 23\r\n", kMalformed, "", 0},
      {"PROXY " + std::string(101, '1'), kMalformed, "", 0},
  };
  for (const auto& [bytes, kind, caller, length] : rows) {
    const ProxyHeader header = ReadProxyHeader(bytes);
    EXPECT_EQ(std::tuple(header.kind, header.callerAddress, header.kind == kMalformed ? 0 : header.length),
              std::tuple(kind, caller, length)) << bytes;
  }
}

}  // namespace
}  // namespace tellarium
