#include <gtest/gtest.h>

#include "server/core/field_codec.h"
#include "server/core/record_layouts.h"
#include "support/fake_control.h"
#include "support/server_fixture.h"

namespace tellarium {
namespace {

constexpr std::size_t kRecord = 4096;

class Email : public testing::FakeStationTest {
 protected:
  void SetUp() override {
    testing::FakeStationTest::SetUp();
    server.currentEmail.fromHandle = "Ann";
    server.currentEmail.fromAccount = "012";
    server.currentEmail.sentTime = "13:05";
    server.currentEmail.sentDate = "12-06-2026";
    server.currentEmail.body = "Hello there";
  }
  // What the e-mail command does before Esend: the recipient counts the mail.
  void CountMailFor(int16_t acc) {
    server.uread(acc);
    ++server.currentAccount.mailStored;
    server.uwrite(acc);
  }
  void OnlineAs(int16_t l, const std::string& account) {
    server.Connect(l, kChatUser);
    server.lines[static_cast<std::size_t>(l)].account = account;
  }
  std::string SentToAnyLine() {
    std::string all;
    for (int l = 0; l <= kMaxMainLines; ++l) all += server.Port(l).TakeSent();
    return all;
  }
};

TEST_F(Email, MailToAnAccountWithoutAFileIsDropped) {
  OnlineAs(3, "005");
  server.currentAccount.mailStored = 1;
  server.Esend(5);
  EXPECT_FALSE(FileExists("user005.qvs"));
  EXPECT_EQ(SentToAnyLine(), "");
  EXPECT_EQ(server.lines[3].mailCount, 0);
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(Email, MailToAnOfflineMemberIsStoredAfterTheAccountAndItsAutobiography) {
  testing::WriteMember(server, {5, "Bob", ""});
  CountMailFor(5);
  server.Esend(5);
  const std::string first = Encode<EmailLayout>(server.currentEmail);
  ASSERT_EQ(first.size(), 318u);
  server.currentEmail.body = "Second";
  CountMailFor(5);
  server.Esend(5);

  const std::string file = testing::ReadFile("user005.qvs");
  ASSERT_EQ(file.size(), 3 * kRecord + 318);
  EXPECT_EQ(file.substr(2 * kRecord, 318), first);
  EXPECT_EQ(file.substr(3 * kRecord), Encode<EmailLayout>(server.currentEmail));
  server.uread(5);
  EXPECT_EQ(server.currentAccount.handle.Trimmed(), "Bob");
  EXPECT_EQ(server.currentAccount.mailStored, 2);
  EXPECT_EQ(SentToAnyLine(), "");
}

TEST_F(Email, OnlyTheFirstOnlineLineOfTheAccountIsTold) {
  testing::WriteMember(server, {5, "Bob", ""});
  OnlineAs(2, "006");
  OnlineAs(3, "005");
  OnlineAs(4, "005");
  CountMailFor(5);
  server.Esend(5);
  EXPECT_EQ(server.Port(3).TakeSent(), "-=> QVS-00: You have received email.\r\n");
  EXPECT_EQ(server.lines[3].mailCount, 1);
  EXPECT_EQ(server.lines[4].mailCount, 0);
  EXPECT_EQ(server.lines[2].mailCount, 0);
  EXPECT_EQ(SentToAnyLine(), "");
  EXPECT_EQ(testing::ReadFile("user005.qvs").substr(2 * kRecord), Encode<EmailLayout>(server.currentEmail));
}

// Mail that the sender did not count would land on record 2 or 1.
TEST_F(Email, UncountedMailNeverOverwritesTheAccount) {
  testing::WriteMember(server, {5, "Bob", ""});
  server.uread(5);
  const std::string before = testing::ReadFile("user005.qvs");
  OnlineAs(3, "005");
  server.Esend(5);
  EXPECT_EQ(testing::ReadFile("user005.qvs"), before);
  EXPECT_EQ(ErrorLog(), "Routine: Esend\r\nError:Bad record number ( 63)\r\n");
  EXPECT_EQ(server.lines[3].mailCount, 1);
}

TEST_F(Email, ACountAtItsLimitIsLoggedAndNotRaised) {
  testing::WriteMember(server, {5, "Bob", ""});
  CountMailFor(5);
  OnlineAs(3, "005");
  server.lines[3].mailCount = 32767;
  server.Esend(5);
  EXPECT_EQ(server.lines[3].mailCount, 32767);
  EXPECT_EQ(ErrorLog(), "Routine: Esend\r\nError:Overflow ( 6)\r\n");
}

}  // namespace
}  // namespace tellarium
