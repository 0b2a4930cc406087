#include <gtest/gtest.h>

#include "server/core/field_codec.h"
#include "server/core/record_layouts.h"
#include "support/server_fixture.h"

namespace tellarium {
namespace {

using AccountFiles = testing::ServerTest;

constexpr char kSysOpTextForm[] =
    "4|||0||True|True|False|False|False|False|False|True|False|True|False|SysOp|zarvo||||";

TEST_F(AccountFiles, AfixWritesThreeDigits) {
  EXPECT_EQ(server.afix(0), "000");
  EXPECT_EQ(server.afix(7), "007");
  EXPECT_EQ(server.afix(42), "042");
  EXPECT_EQ(server.afix(512), "512");
  EXPECT_EQ(server.afix(1000), "1000");
}

TEST_F(AccountFiles, MissingFileReadsAsUnusedAccountKeepingDateTexts) {
  server.currentAccount.flags.fill(true);
  server.currentAccount.level = 3;
  server.currentAccount.mailStored = 9;
  server.currentAccount.lastCallDate = "01-02-2003";
  server.uread(17);
  const UserRecord& a = server.currentAccount;
  EXPECT_EQ(a.handle.Trimmed(), "User #017");
  for (bool flag : a.flags) EXPECT_FALSE(flag);
  EXPECT_EQ(a.level, 0);
  EXPECT_EQ(a.mailStored, 0);
  EXPECT_EQ(a.lastCallDate.Trimmed(), "01-02-2003");
  EXPECT_FALSE(FileExists("user017.qvs"));
}

TEST_F(AccountFiles, WriteCutsLongTextsAndKeepsOtherRecords) {
  testing::WriteFile("user042.qvs", std::string(4096, 'x') + "|autobiography");
  server.currentAccount.handle = std::string(45, 'h');
  server.currentAccount.flags[kFlagInUse] = true;
  server.uwrite(42);
  const std::string file = testing::ReadFile("user042.qvs");
  EXPECT_EQ(file.substr(0, 40), std::string(40, 'h'));
  EXPECT_EQ(file.substr(292, 3804), std::string(3804, 'x'));
  EXPECT_EQ(file.substr(4096), "|autobiography");
  server.currentAccount = UserRecord{};
  server.uread(42);
  EXPECT_EQ(server.currentAccount.handle.Trimmed(), std::string(40, 'h'));
  EXPECT_TRUE(server.currentAccount.flags[kFlagInUse]);
}

TEST_F(AccountFiles, TextFormOfTheDefaultSysOpAccount) {
  UserRecord& a = server.currentAccount;
  a.level = 4;
  a.handle = "SysOp";
  a.password = "zarvo";
  for (int flag : {0, 1, 2, 3}) a.flags[static_cast<std::size_t>(flag)] = true;
  const std::string before = Encode<UserRecordLayout>(a);
  EXPECT_EQ(server.uassemble(), kSysOpTextForm);
  EXPECT_EQ(Encode<UserRecordLayout>(a), before);
}

TEST_F(AccountFiles, ParseThenAssembleGivesTheSameForm) {
  server.uparse(kSysOpTextForm);
  const UserRecord& a = server.currentAccount;
  EXPECT_EQ(a.level, 4);
  EXPECT_EQ(a.handle.Trimmed(), "SysOp");
  EXPECT_EQ(a.password.Trimmed(), "zarvo");
  EXPECT_EQ(server.uassemble(), kSysOpTextForm);
  const std::string other = "2| p2 |p3|123456|p4|False|True|True|False|True|False|True|False|True|False|True|Ann|pw|p1|p5|p6|";
  server.uparse(other);
  EXPECT_EQ(a.profile2.Raw().substr(0, 5), " p2  ");
  EXPECT_EQ(server.uassemble(), "2|p2|p3|123456|p4|False|True|True|False|True|False|True|False|True|False|True|Ann|pw|p1|p5|p6|");
  EXPECT_FALSE(a.flags[0]);
  EXPECT_TRUE(a.flags[3]);
  EXPECT_TRUE(a.flags[4]);
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(AccountFiles, EmptyTextFieldReadsAsBlanks) {
  server.currentAccount.profile3 = "old";
  server.uparse("1|a||");
  EXPECT_EQ(server.currentAccount.profile3.Raw(), std::string(40, ' '));
}

TEST_F(AccountFiles, BadFlagIsLoggedAndKeepsItsValueThenParsingGoesOn) {
  server.currentAccount.flags[kFlagInUse] = true;
  server.uparse("1|||0||maybe|True|");
  EXPECT_TRUE(server.currentAccount.flags[kFlagInUse]);
  EXPECT_TRUE(server.currentAccount.flags[3]);
  EXPECT_EQ(ErrorLog(), "Routine: Uparse\r\nError:Type mismatch ( 13)\r\n");
}

TEST_F(AccountFiles, OverflowingLevelIsLoggedAndMissingFieldsStopTheParse) {
  server.currentAccount.level = 2;
  server.currentAccount.profile2 = "kept";
  server.uparse("70000");
  EXPECT_EQ(server.currentAccount.level, 2);
  server.uparse("70000|new|");
  EXPECT_EQ(server.currentAccount.level, 2);
  EXPECT_EQ(server.currentAccount.profile2.Trimmed(), "new");
  EXPECT_EQ(ErrorLog(), "Routine: Uparse\r\nError:Overflow ( 6)\r\n");
}

}  // namespace
}  // namespace tellarium
