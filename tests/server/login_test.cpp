// The login decision on a started station with fake controls: guests,
// members, links, refusals, duplicates, and the call counters.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "platform/loop.h"
#include "server/core/field_codec.h"
#include "server/core/record_layouts.h"
#include "support/fake_control.h"

namespace tellarium {
namespace {

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

// The real login on a server whose other later routines are recorded.
class LoginServer : public testing::FakeControlServer {
 public:
  void LoginControl(int16_t line) override { Server::LoginControl(line); }
};

class LoginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_.Enter();
    server.Startup();
    server.CreateControls();
  }

  LineState& Line(int l) { return server.lines[static_cast<std::size_t>(l)]; }

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

  void WriteAccount(int16_t acc, const std::string& handle, const std::string& password, int16_t level,
                    std::initializer_list<int> flags, int32_t mailStored = 0) {
    server.currentAccount = UserRecord{};
    server.currentAccount.handle = handle;
    server.currentAccount.password = password;
    server.currentAccount.level = level;
    server.currentAccount.mailStored = mailStored;
    for (int flag : flags) server.currentAccount.flags[static_cast<std::size_t>(flag)] = true;
    server.uwrite(acc);
  }

  ServerConfig StoredCallRecord() {
    ServerConfig stored;
    GetRecord<CallRecord>(kConfigFile, kCallRecordNumber, stored);
    return stored;
  }

  std::string LastLogEntry() { return server.systemLog[static_cast<std::size_t>(server.logCount - 1)]; }

  testing::ScratchDirectory scratch_;
  LoginServer server;
};

// --- guests ------------------------------------------------------------------

TEST_F(LoginTest, BareEnterLogsAGuestInAndCountsTheCall) {
  Prompted(1);
  server.Port(1).RaiseRecv("\r");
  EXPECT_EQ(server.Port(1).TakeSent(), kThreeBreaks + kGuestWelcome + CallerNotice(1, 1) + kHelpHint);

  const LineState& line = Line(1);
  EXPECT_EQ(line.status, kChatUser);
  EXPECT_EQ(line.substate, kOnChannel);
  EXPECT_EQ(line.handle.Trimmed(), "?");
  EXPECT_EQ(line.account.Trimmed(), "N/A");
  EXPECT_EQ(line.level, 0);
  EXPECT_EQ(line.channel, 1);
  EXPECT_EQ(server.channels[0].occupancy, 1);
  EXPECT_EQ(line.replyAccount, -1);
  EXPECT_EQ(line.pairedLine, -1);
  EXPECT_TRUE(line.beepFlag && line.privateMsgBeep && line.loginBeep);
  EXPECT_FALSE(line.lineSpacing);
  EXPECT_TRUE(line.loginAnnounced);
  EXPECT_EQ(server.inputLine[1], "");

  EXPECT_EQ(server.config.callsToday, 1);
  EXPECT_EQ(server.config.totalCalls, 1);
  const ServerConfig stored = StoredCallRecord();
  EXPECT_EQ(stored.callsToday, 1);
  EXPECT_EQ(stored.totalCalls, 1);
  const std::string entry = LastLogEntry();
  EXPECT_NE(entry.find(" ?:N/A - Logged on from 10.0.0.1 on line #1."), std::string::npos) << entry;
}

TEST_F(LoginTest, EveryCompletedLoginCountsOneCall) {
  server.config.callsToday = 4;
  server.config.totalCalls = 41;
  Prompted(1);
  Prompted(2);
  EXPECT_EQ(Login(1, ""), kThreeBreaks + kGuestWelcome + CallerNotice(5, 42) + kHelpHint);
  EXPECT_EQ(Login(2, ""), kThreeBreaks + kGuestWelcome + CallerNotice(6, 43) + kHelpHint);
  EXPECT_EQ(StoredCallRecord().totalCalls, 43);
}

TEST_F(LoginTest, ACounterAtItsLimitIsAnOverflowAndTheLoginGoesOn) {
  server.config.callsToday = 32767;
  Prompted(1);
  const std::string sent = Login(1, "");
  EXPECT_EQ(sent, kThreeBreaks + kGuestWelcome + CallerNotice(32767, 1) + kHelpHint);
  EXPECT_EQ(Line(1).status, kChatUser);
  EXPECT_NE(testing::ReadFile("error.log").find("Routine: LoginControl\r\nError:Overflow ( 6)\r\n"), std::string::npos);
}

TEST_F(LoginTest, AGuestOnAClientLineSeesAFixedRowOfStarsAndNoColours) {
  Prompted(1, kClientLine);
  EXPECT_EQ(Login(1, ""), kThreeBreaks + std::string(23, '*') + "\r\n" + kGuestWelcome + CallerNotice(1, 1) +
                              kPrefix + "Type /? For Help.\r\n");
}

TEST_F(LoginTest, AWrongPasswordIsASilentGuestLogin) {
  WriteAccount(1, "Max", "Secret", 1, {kFlagInUse, kFlagChatUser});
  Prompted(1);
  EXPECT_EQ(Login(1, "001wrong"), kThreeBreaks + kGuestWelcome + CallerNotice(1, 1) + kHelpHint);
  EXPECT_EQ(Line(1).account.Trimmed(), "N/A");
  EXPECT_EQ(Line(1).level, 0);
}

TEST_F(LoginTest, AnUnknownAccountIsToldAndLoggedInAsGuest) {
  Prompted(1);
  EXPECT_EQ(Login(1, "123secret"),
            kPrefix + "Invalid Account\r\n" + kThreeBreaks + kGuestWelcome + CallerNotice(1, 1) + kHelpHint);
  EXPECT_EQ(Line(1).handle.Trimmed(), "?");
  EXPECT_EQ(Line(1).status, kChatUser);
}

TEST_F(LoginTest, TheGuestMarkTypedAsAnAccountNeverLogsInAMember) {
  // A non-numeric account reads account 0, whose password this is.
  Prompted(1);
  EXPECT_EQ(Login(1, "N/Azarvo"), kThreeBreaks + kGuestWelcome + CallerNotice(1, 1) + kHelpHint);
  EXPECT_EQ(Line(1).level, 0);
  EXPECT_EQ(Line(1).handle.Trimmed(), "?");
}

// --- members -------------------------------------------------------------------

TEST_F(LoginTest, AMemberLogsInWithThePasswordInAnyCase) {
  for (const std::string typed : {"001secret", "001SECRET", "001 Secret ", "001Secret}ignored", "001sEcReT}"}) {
    SCOPED_TRACE(typed);
    WriteAccount(1, "Max", " Secret", 1, {kFlagInUse, kFlagChatUser});
    Prompted(1);
    Line(1).account = "";
    const std::string sent = Login(1, typed);
    EXPECT_EQ(sent.substr(0, kThreeBreaks.size() + 3 + kMemberWelcome.size()),
              kThreeBreaks + " \r\n" + kMemberWelcome);
    EXPECT_EQ(Line(1).status, kChatUser);
    EXPECT_EQ(Line(1).handle.Trimmed(), "Max");
    EXPECT_EQ(Line(1).account.Raw(), "001");
    EXPECT_EQ(Line(1).level, 1);
    EXPECT_EQ(Line(1).channel, 1);
    EXPECT_FALSE(Line(1).killProtected);
  }
}

TEST_F(LoginTest, AMemberWithoutMailHearsNoNotice) {
  WriteAccount(1, "Max", "secret", 1, {kFlagInUse, kFlagChatUser});
  Prompted(1);
  EXPECT_EQ(Login(1, "001secret"), kThreeBreaks + " \r\n" + kMemberWelcome + CallerNotice(1, 1));
  EXPECT_EQ(Line(1).mailCount, 0);
  EXPECT_TRUE(Line(1).accountFlags[kFlagChatUser]);
}

TEST_F(LoginTest, AMemberWithStoredMailIsToldInColourOnATelnetLineOnly) {
  WriteAccount(1, "Max", "secret", 1, {kFlagInUse, kFlagChatUser}, 2);
  Prompted(1);
  Prompted(2, kClientLine);
  server.currentLine = 2;  // colours follow the line logging in, not currentLine
  EXPECT_EQ(Login(1, "001secret"), kThreeBreaks + " \r\n" + kMemberWelcome + CallerNotice(1, 1) + kPrefix +
                                       kRedBlinkBold + "You have email." + kWhiteBoldReset + "\r\n");
  EXPECT_EQ(Line(1).mailCount, 2);

  WriteAccount(2, "Ann", "pw", 1, {kFlagInUse, kFlagChatUser}, 1);
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

TEST_F(LoginTest, AMemberWithNoLineKindFlagStaysLoggingIn) {
  WriteAccount(1, "Max", "secret", 2, {kFlagInUse, kFlagMayLink});
  Prompted(1);
  EXPECT_EQ(Login(1, "001secret"), kThreeBreaks + " \r\n" + kMemberWelcome + CallerNotice(1, 1));
  EXPECT_EQ(Line(1).status, kLoggingIn);
  EXPECT_EQ(Line(1).handle.Trimmed(), "Max");
  EXPECT_EQ(server.channels[0].occupancy, 0);

  // The next line typed is a new attempt.
  EXPECT_EQ(Login(1, "001nope"), kThreeBreaks + kGuestWelcome + CallerNotice(2, 2) + kHelpHint);
  EXPECT_EQ(Line(1).status, kChatUser);
  EXPECT_EQ(Line(1).account.Trimmed(), "N/A");
}

TEST_F(LoginTest, ANewSessionKeepsNothingOfTheLinesLastOne) {
  WriteAccount(1, "Max", "secret", 1, {kFlagInUse, kFlagChatUser}, 3);
  Prompted(1);
  Login(1, "001secret");
  Line(1).killProtected = true;
  Line(1).pairedLine = 4;
  Line(1).mailReadIndex = 2;
  Line(1).lineSpacing = true;
  Line(1).status = kLoggingIn;  // relogged
  Login(1, "");
  EXPECT_EQ(Line(1).account.Trimmed(), "N/A");
  EXPECT_EQ(Line(1).accountFlags, AccountFlags{});
  EXPECT_EQ(Line(1).mailCount, 0);
  EXPECT_FALSE(Line(1).killProtected);
  EXPECT_EQ(Line(1).pairedLine, -1);
  EXPECT_EQ(Line(1).mailReadIndex, 0);
  EXPECT_FALSE(Line(1).lineSpacing);
}

// Hangs the caller up the next time the server lets events run.
struct HangUp final : platform::MessageTarget {
  explicit HangUp(testing::FakeControl& caller) : port(caller) {
    platform::PostMessage(target_id(), platform::kFirstUserMessage);
  }
  void HandleMessage(uint32_t, uint64_t, int64_t) override { port.RaiseRecv(""); }
  testing::FakeControl& port;
};

TEST_F(LoginTest, ACallerWhoHangsUpDuringTheLoginLeavesTheLineFree) {
  WriteAccount(1, "Max", "secret", 1, {kFlagInUse, kFlagChatUser});
  for (const std::string typed : {"", "001secret"}) {
    SCOPED_TRACE(typed);
    Prompted(1);
    HangUp hangUp(server.Port(1));
    Login(1, typed);
    EXPECT_EQ(Line(1).status, kOffline);
    EXPECT_EQ(Line(1).channel, 0);
    EXPECT_EQ(server.channels[0].occupancy, 0);
    EXPECT_EQ(server.config.callsToday, 0);
  }
}

// --- links ---------------------------------------------------------------------

struct LinkKind {
  int flag;
  int16_t status;
  int16_t substate;
  std::string channels;
};

TEST_F(LoginTest, LinkFlagsMakeTheFourLinkKindsAtLevelOneUnlessFlagFive) {
  const LinkKind kinds[] = {{kFlagDdlLink, kDDialLink, 0, "1"},
                            {kFlagDclLink, kDDialLink, 1, "12"},
                            {kFlagQvlLink, kDDialLink, 2, "123456789"},
                            {kFlagQvsLink, kQvsLink, 0, "RNGLSWX"}};
  int16_t acc = 10;
  for (const LinkKind& kind : kinds) {
    SCOPED_TRACE(kind.channels);
    WriteAccount(acc, "Link", "pw", 3, {kFlagInUse, kFlagChatUser, kind.flag});
    Prompted(1);
    Login(1, server.afix(acc) + "pw");
    EXPECT_EQ(Line(1).status, kind.status);
    EXPECT_EQ(Line(1).substate, kind.substate);
    EXPECT_EQ(Line(1).linkChannels.Trimmed(), kind.channels);
    EXPECT_EQ(Line(1).level, 1);
    ++acc;
  }
}

TEST_F(LoginTest, ALaterLinkFlagOverridesAnEarlierOne) {
  WriteAccount(10, "Link", "pw", 3, {kFlagInUse, kFlagDdlLink, kFlagQvsLink, kFlagLinkTest});
  Prompted(1);
  Login(1, "010pw");
  EXPECT_EQ(Line(1).status, kQvsLink);
  EXPECT_EQ(Line(1).linkChannels.Trimmed(), "RNGLSWX");
  EXPECT_EQ(Line(1).level, 3);  // flag 5 keeps the account's level
}

TEST_F(LoginTest, ALinkWithoutFlagFiveIsNeverRaised) {
  WriteAccount(10, "Link", "pw", 0, {kFlagInUse, kFlagDdlLink});
  Prompted(1);
  Login(1, "010pw");
  EXPECT_EQ(Line(1).status, kDDialLink);
  EXPECT_EQ(Line(1).level, 0);
}

// --- refusals ------------------------------------------------------------------

TEST_F(LoginTest, ASecondLoginToAnAccountInUseIsClosedAndTheFirstGoesOn) {
  WriteAccount(1, "Max", "secret", 1, {kFlagInUse, kFlagChatUser});
  Prompted(1);
  Login(1, "001secret");
  Prompted(3);
  Login(3, "");  // a guest on channel 1 hears of it
  server.heldOutput[1].Clear();
  server.heldOutput[3].Clear();

  Prompted(2);
  EXPECT_EQ(Login(2, "001SECRET"), kPrefix + "Duplicate Account! ERROR! Logged!\r\n");
  EXPECT_EQ(server.Port(2).closes.size(), 1u);
  EXPECT_EQ(Line(2).status, kLoggingIn);
  EXPECT_EQ(Line(2).substate, 4);
  EXPECT_EQ(server.config.callsToday, 2);

  EXPECT_EQ(Line(1).status, kChatUser);
  EXPECT_EQ(Line(1).account.Raw(), "001");
  EXPECT_TRUE(server.Port(1).closes.empty());
  ASSERT_TRUE(server.heldOutput[3].HasMessage());
  EXPECT_EQ(server.heldOutput[3].TakeFirst(), kPrefix + "Duplicate Account Use for #001!!\r\n");

  const std::string entry = LastLogEntry();
  const std::string head = "-->Duplicate Account Use<--\r\nAccount #001 @10.0.0.1 Line #1\r\nTime:";
  EXPECT_EQ(entry.substr(0, head.size()), head) << entry;
  EXPECT_NE(entry.find(" <--> "), std::string::npos) << entry;
  EXPECT_EQ(entry.substr(entry.size() - 29), "\r\n-->Duplicate Account Use<--") << entry;
}

// The caller hangs up and a new caller takes the line while the login lets
// events run: the login ends there and the newcomer is not logged in.
TEST_F(LoginTest, ALoginStopsWhenANewCallerTookTheLine) {
  struct HangUpAndCallAgain final : platform::MessageTarget {
    explicit HangUpAndCallAgain(testing::FakeControlServer& s) : server(s) {
      platform::PostMessage(target_id(), platform::kFirstUserMessage);
    }
    void HandleMessage(uint32_t, uint64_t, int64_t) override {
      server.Port(1).state = tntlib::tntClosed;
      server.Port(1).RaiseRecv("");
      server.Listener().RaiseAccept(77);
    }
    testing::FakeControlServer& server;
  };
  WriteAccount(1, "Max", "secret", 1, {kFlagInUse, kFlagChatUser});
  Prompted(1);
  HangUpAndCallAgain caller(server);
  const std::string sent = Login(1, "001secret");
  EXPECT_EQ(server.Port(1).accepted, std::vector<int32_t>{77});
  EXPECT_EQ(Line(1).status, kLoggingIn);
  EXPECT_NE(Line(1).account.Raw(), "001");
  EXPECT_EQ(sent.find("Welcome back"), std::string::npos) << sent;
  EXPECT_EQ(server.config.callsToday, 0);
}

TEST_F(LoginTest, LineZeroRefusesGuestsAndMembersBelowLevelThree) {
  // What the logoff sends afterwards is its own business.
  auto head = [](const std::string& sent, const std::string& expected) { return sent.substr(0, expected.size()); };
  const std::string guestRefusal = kThreeBreaks + kPrefix + "Logoff Due to:Insufficient clearance for this port!\r\n\r";
  Prompted(0);
  EXPECT_EQ(head(Login(0, ""), guestRefusal), guestRefusal);
  EXPECT_EQ(Line(0).status, kOffline);
  EXPECT_EQ(server.Port(0).closes.size(), 1u);

  const std::string memberRefusal =
      kThreeBreaks + " \r\n" + kPrefix + "Logoff Due to:Insufficient Clearance For This Port!\r\n\r";
  WriteAccount(2, "Ann", "pw", 2, {kFlagInUse, kFlagChatUser});
  Prompted(0);
  EXPECT_EQ(head(Login(0, "002pw"), memberRefusal), memberRefusal);
  EXPECT_EQ(Line(0).status, kOffline);
  EXPECT_EQ(server.config.callsToday, 0);

  WriteAccount(3, "Bob", "pw", 3, {kFlagInUse, kFlagChatUser});
  Prompted(0);
  EXPECT_EQ(Login(0, "003pw"), kThreeBreaks + " \r\n" + kMemberWelcome + CallerNotice(1, 1));
  EXPECT_EQ(Line(0).status, kChatUser);
  EXPECT_EQ(Line(0).level, 3);
}

}  // namespace
}  // namespace tellarium
