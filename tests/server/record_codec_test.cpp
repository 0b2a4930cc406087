#include <gtest/gtest.h>

#include "server/core/error_trap.h"
#include "server/core/field_codec.h"
#include "server/core/fixed_text.h"
#include "server/core/record_layouts.h"
#include "support/scratch_directory.h"

namespace tellarium {
namespace {

TEST(FixedText, CutsToWidthPadsWithBlanksAndTrimsBothEnds) {
  FixedText<5> text("  abcdefg");
  EXPECT_EQ(text.Raw(), "  abc");
  EXPECT_EQ(text.Trimmed(), "abc");
  text = "x";
  EXPECT_EQ(text.Raw(), "x    ");
  EXPECT_EQ(FixedText<6>(" a b ").TrimmedLeft(), "a b  ");
  EXPECT_EQ(FixedText<6>(" a b ").TrimmedRight(), " a b");
  EXPECT_EQ(FixedText<3>("").Trimmed(), "");
  // Only blanks are trimmed.
  EXPECT_EQ(FixedText<4>("\tab").Trimmed(), "\tab");
}

TEST(FieldCodec, RecordsHaveTheirStoredSizes) {
  EXPECT_EQ(EncodedSize<UserRecordLayout>(), 292u);
  EXPECT_EQ(EncodedSize<MessageSlotLayout>(), 4192u);
  EXPECT_EQ(EncodedSize<LastCallerLayout>(), 61u);
  EXPECT_EQ(EncodedSize<ChannelRecord>(), 50u);
  EXPECT_EQ(EncodedSize<EmailLayout>(), 318u);
  EXPECT_EQ(EncodedSize<StationRecord>(), 200u);
  EXPECT_EQ(EncodedSize<OptionsRecord>(), 10u);
  EXPECT_EQ(EncodedSize<CallRecord>(), 42u);
  EXPECT_EQ(EncodedSize<TimeLimitsRecord>(), 14u);
  EXPECT_EQ(EncodedSize<PortsRecord>(), 8u);
}

TEST(FieldCodec, WritesLittleEndianNumbersFlagsAsMinusOneAndZeroAndDates) {
  MessageSlot slot;
  slot.slotAccount = -2;
  slot.date = 29221.5;
  slot.slotFlag1 = true;
  slot.enabled = false;
  slot.title = "T";
  const std::string bytes = Encode<MessageSlotLayout>(slot);
  EXPECT_EQ(bytes.substr(0, 2), std::string("\xFE\xFF", 2));
  EXPECT_EQ(bytes.substr(2, 8), std::string("\x00\x00\x00\x00\x60\x89\xDC\x40", 8));
  EXPECT_EQ(bytes.substr(10, 6), std::string("\xFF\xFF\x00\x00\x00\x00", 6));
  EXPECT_EQ(bytes.substr(16, 2), "T ");
}

TEST(FieldCodec, ReadsAnyNonzeroFlagAsTrue) {
  ChannelInfo channel;
  std::string bytes(50, ' ');
  bytes.replace(46, 4, std::string("\x01\x00\x00\x80", 4));
  Decode<ChannelRecord>(bytes, channel);
  EXPECT_TRUE(channel.flagA);
  EXPECT_TRUE(channel.flagB);
  EXPECT_EQ(Encode<ChannelRecord>(channel).substr(46), std::string("\xFF\xFF\xFF\xFF", 4));
}

TEST(FieldCodec, ShortRecordReadsZerosAndBlanks) {
  UserRecord account;
  account.level = 3;
  account.flags.fill(true);
  account.password = "secret";
  Decode<UserRecordLayout>("Ann", account);
  EXPECT_EQ(account.handle.Raw(), "Ann" + std::string(37, ' '));
  EXPECT_EQ(account.password.Trimmed(), "");
  EXPECT_EQ(account.level, 0);
  for (bool flag : account.flags) EXPECT_FALSE(flag);
}

class RecordFileTest : public ::testing::Test {
 protected:
  void SetUp() override { scratch_.Enter(); }
  testing::ScratchDirectory scratch_;
};

TEST_F(RecordFileTest, WritesFromTheSlotStartAndLeavesOtherRecords) {
  const DataFile file{"r.qvs", 8};
  WriteRecord(file, 3, "ccc");
  EXPECT_EQ(testing::ReadFile("r.qvs"), std::string(16, '\0') + "ccc");
  WriteRecord(file, 1, "aaaaaaaa");
  WriteRecord(file, 3, "C");
  EXPECT_EQ(testing::ReadFile("r.qvs"), "aaaaaaaa" + std::string(8, '\0') + "Ccc");
  EXPECT_EQ(ReadRecord(file, 3), "Ccc");
  EXPECT_EQ(ReadRecord(file, 9), "");
}

TEST_F(RecordFileTest, MissingFileReadsEmptyWithoutCreatingIt) {
  EXPECT_EQ(ReadRecord({"none.qvs", 8}, 1), "");
  EXPECT_FALSE(FileExists("none.qvs"));
}

TEST_F(RecordFileTest, FailuresRaiseRunTimeErrors) {
  std::filesystem::create_directory("dir.qvs");
  EXPECT_FALSE(FileExists("dir.qvs"));
  try {
    WriteRecord({"dir.qvs", 8}, 1, "x");
    FAIL();
  } catch (const RunTimeError& error) {
    EXPECT_EQ(error.number(), ErrorNumber::kPathFileAccessError);
  }
  try {
    WriteRecord({"r.qvs", 8}, 0, "x");
    FAIL();
  } catch (const RunTimeError& error) {
    EXPECT_EQ(error.number(), ErrorNumber::kBadRecordNumber);
  }
}

}  // namespace
}  // namespace tellarium
