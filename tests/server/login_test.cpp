// The login decision on a started station with fake controls: what the wire
// cannot show (client lines, line state after a relog, callers leaving or
// arriving while the login lets events run, link levels).
#include <gtest/gtest.h>

#include <string>

#include "platform/loop.h"
#include "support/fake_control.h"
#include "support/server_fixture.h"

namespace tellarium {
namespace {

using testing::WriteMember;

const std::string kPrefix = "-=> QVS-00: ";
const std::string kThreeBreaks = "\r\n\r\n\r\n";
const std::string kRedBlinkBold = "\x1b[5;1;31;40m";
const std::string kWhiteBoldReset = "\x1b[0;1;37;40m";
const std::string kGuestWelcome = "Welcome Non-Member.\r\n For Help type /?\r\n";
const std::string kMemberWelcome = "Welcome back, Member.\r\n";
const std::string kHelpHint = kPrefix + "Type " + kRedBlinkBold + "/?" + kWhiteBoldReset + " For Help.\r\n";

std::string CallerNotice(int today, int total) {
  return kPrefix + "You are caller #" + std::to_string(today) + " for today.\r\n System has received " +
         std::to_string(total) + " total calls.\r\n";
}

class LoginTest : public testing::FakeStationTest {
 protected:
  // A caller at the password prompt.
  void Prompted(int16_t l, int16_t kind = kTelnetLine) {
    server.Connect(l, kLoggingIn, 1);
    Line(l).lineType = kind;
    Line(l).remoteAddress = "10.0.0." + std::to_string(l);
  }

  // The text typed at the prompt goes to the login; returns what the line was sent.
  std::string Login(int16_t l, const std::string& typed) {
    Line(l).substate = 2;
    server.inputLine[static_cast<std::size_t>(l)] = typed;
    server.LoginControl(l);
    return server.Port(l).TakeSent();
  }
};

// Today's and the total count are told apart, and a full counter stops nobody.
TEST_F(LoginTest, ACounterAtItsLimitIsAnOverflowAndTheLoginGoesOn) {
  server.config.callsToday = 32767;
  Prompted(1);
  const std::string sent = Login(1, "");
  EXPECT_EQ(sent, kThreeBreaks + kGuestWelcome + CallerNotice(32767, 1) + kHelpHint);
  EXPECT_EQ(Line(1).status, kChatUser);
  EXPECT_NE(ErrorLog().find("Routine: LoginControl\r\nError:Overflow ( 6)\r\n"), std::string::npos);
}

TEST_F(LoginTest, AGuestOnAClientLineSeesAFixedRowOfStarsAndNoColours) {
  Prompted(1, kClientLine);
  EXPECT_EQ(Login(1, ""), kThreeBreaks + std::string(23, '*') + "\r\n" + kGuestWelcome + CallerNotice(1, 1) +
                              kPrefix + "Type /? For Help.\r\n");
}

TEST_F(LoginTest, TheGuestMarkTypedAsAnAccountNeverLogsInAMember) {
  // A non-numeric account reads account 0, whose password this is.
  Prompted(1);
  EXPECT_EQ(Login(1, "N/Azarvo"), kThreeBreaks + kGuestWelcome + CallerNotice(1, 1) + kHelpHint);
  EXPECT_EQ(Line(1).level, 0);
  EXPECT_EQ(Line(1).handle.Trimmed(), "?");
}

TEST_F(LoginTest, AMemberWithStoredMailIsToldInColourOnATelnetLineOnly) {
  WriteMember(server, {1, "Max", "secret", 1, {kFlagInUse, kFlagChatUser}, 2});
  Prompted(1);
  Prompted(2, kClientLine);
  server.currentLine = 2;  // colours follow the line logging in, not currentLine
  EXPECT_EQ(Login(1, "001secret"), kThreeBreaks + " \r\n" + kMemberWelcome + CallerNotice(1, 1) + kPrefix +
                                       kRedBlinkBold + "You have email." + kWhiteBoldReset + "\r\n");
  EXPECT_EQ(Line(1).mailCount, 2);

  WriteMember(server, {2, "Ann", "pw", 1, {kFlagInUse, kFlagChatUser}, 1});
  server.currentLine = 1;
  EXPECT_EQ(Login(2, "002pw"),
            kThreeBreaks + " \r\n" + kMemberWelcome + CallerNotice(2, 2) + kPrefix + "You have email.\r\n");
  EXPECT_EQ(server.currentLine, 1);
}

TEST_F(LoginTest, TheSysOpAccountIsProtectedFromKills) {
  Prompted(1);
  Login(1, "000zarvo");
  EXPECT_EQ(Line(1).status, kChatUser);
  EXPECT_EQ(Line(1).level, 4);
  EXPECT_TRUE(Line(1).killProtected);
}

// A relog must not leave the previous session's partner, mail position or
// channel place behind.
TEST_F(LoginTest, ANewSessionKeepsNothingOfTheLinesLastOne) {
  WriteMember(server, {1, "Max", "secret", 1, {kFlagInUse, kFlagChatUser}, 3});
  Prompted(1);
  Login(1, "001secret");
  EXPECT_FALSE(Line(1).killProtected);
  Line(1).killProtected = true;
  Line(1).pairedLine = 4;
  Line(1).mailReadIndex = 2;
  Line(1).replyAccount = 7;
  Line(1).lineSpacing = true;
  Line(1).status = kLoggingIn;  // relogged
  Login(1, "");
  EXPECT_EQ(Line(1).account.Trimmed(), "N/A");
  EXPECT_EQ(Line(1).accountFlags, AccountFlags{});
  EXPECT_EQ(Line(1).mailCount, 0);
  EXPECT_FALSE(Line(1).killProtected);
  EXPECT_EQ(Line(1).pairedLine, -1);
  EXPECT_EQ(Line(1).mailReadIndex, 0);
  EXPECT_EQ(Line(1).replyAccount, -1);
  EXPECT_FALSE(Line(1).lineSpacing);
  EXPECT_EQ(server.channels[0].occupancy, 1);
}

// A member who may not chat stays at the login and takes no place on a channel.
TEST_F(LoginTest, AMemberWithoutALineKindIsNotCountedOnAChannel) {
  WriteMember(server, {1, "Max", "secret", 2, {kFlagInUse, kFlagMayLink}});
  Prompted(1);
  Login(1, "001secret");
  EXPECT_EQ(Line(1).status, kLoggingIn);
  EXPECT_EQ(server.channels[0].occupancy, 0);
}

TEST_F(LoginTest, ACallerWhoHangsUpDuringTheLoginLeavesTheLineFree) {
  WriteMember(server, {1, "Max", "secret"});
  for (const std::string typed : {"", "001secret"}) {
    SCOPED_TRACE(typed);
    Prompted(1);
    testing::AtNextPump hangUp([&] { server.Port(1).RaiseRecv(""); });
    Login(1, typed);
    EXPECT_EQ(Line(1).status, kOffline);
    EXPECT_EQ(Line(1).channel, 0);
    EXPECT_EQ(server.channels[0].occupancy, 0);
    EXPECT_EQ(server.config.callsToday, 0);
  }
}

// The caller hangs up and a new caller takes the line while the login lets
// events run: the login ends there and the newcomer is not logged in.
TEST_F(LoginTest, ALoginStopsWhenANewCallerTookTheLine) {
  WriteMember(server, {1, "Max", "secret"});
  Prompted(1);
  testing::AtNextPump hangUpAndCallAgain([&] {
    server.Port(1).state = tntlib::tntClosed;
    server.Port(1).RaiseRecv("");
    server.Listener().RaiseAccept(77);
  });
  const std::string sent = Login(1, "001secret");
  EXPECT_EQ(server.Port(1).accepted, std::vector<int32_t>{77});
  EXPECT_EQ(Line(1).status, kLoggingIn);
  EXPECT_NE(Line(1).account.Raw(), "001");
  EXPECT_EQ(sent.find("Welcome back"), std::string::npos) << sent;
  EXPECT_EQ(server.config.callsToday, 0);
}

// The last link flag decides the kind; flag 5 keeps the account's level, and
// without it a link is lowered to level 1 but never raised.
TEST_F(LoginTest, LinkKindAndLevelFollowTheFlags) {
  struct Case {
    int16_t level;
    std::initializer_list<int> flags;
    int16_t status;
    int16_t expectedLevel;
  };
  const Case cases[] = {
      {3, {kFlagInUse, kFlagDdlLink, kFlagQvsLink, kFlagLinkTest}, kQvsLink, 3},
      {0, {kFlagInUse, kFlagDdlLink}, kDDialLink, 0},
  };
  for (const Case& c : cases) {
    WriteMember(server, {10, "Link", "pw", c.level, c.flags});
    Prompted(1);
    Login(1, "010pw");
    EXPECT_EQ(Line(1).status, c.status);
    EXPECT_EQ(Line(1).level, c.expectedLevel);
  }
}

}  // namespace
}  // namespace tellarium
