// Sessions on the wire: the station binary logging callers in and off,
// carrying their chat, refusing what it must and timing callers out, checked
// byte for byte and in the files it leaves behind.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "server/core/dates.h"
#include "server/core/field_codec.h"
#include "server/core/record_layouts.h"
#include "support/live_station.h"

namespace tellarium {
namespace {

using namespace std::chrono_literals;
using testing::Caller;

const std::string P = "-=> QVS-00: ";
const std::string kThreeBreaks = "\r\n\r\n\r\n";
const std::string kTyped = "\r\n\r\n";  // what a typed login line of two or more characters gets first
const std::string kRedBlinkBold = "\x1b[5;1;31;40m";
const std::string kWhiteBoldReset = "\x1b[0;1;37;40m";
const std::string kGuestWelcome = "Welcome Non-Member.\r\n For Help type /?\r\n";
const std::string kMemberWelcome = " \r\nWelcome back, Member.\r\n";
const std::string kHelpHint = P + "Type " + kRedBlinkBold + "/?" + kWhiteBoldReset + " For Help.\r\n";
const std::string kMailNotice = P + kRedBlinkBold + "You have email." + kWhiteBoldReset + "\r\n";

// Calls today and in total are the same on a new station.
std::string Calls(int n) {
  return P + "You are caller #" + std::to_string(n) + " for today.\r\n System has received " + std::to_string(n) +
         " total calls.\r\n";
}
std::string GuestLogin(int call) { return kThreeBreaks + kGuestWelcome + Calls(call) + kHelpHint; }
std::string MemberLogin(int call) { return kTyped + kThreeBreaks + kMemberWelcome + Calls(call); }

// What chat users read of other lines: a caller greeted, a login (with the
// bell), a logoff; a D-Dial link reads the raw announcement at once.
std::string NewCaller(int line) { return P + "Login #" + std::to_string(line) + ".\r\n\r\n"; }
std::string LoginOf(const std::string& tag) { return P + "\x07Login\r\n " + tag + "\r\n"; }
std::string LogoffOf(const std::string& tag) { return P + "Logoff\r\n " + tag + "\r\n"; }
std::string ToLink(const std::string& mark, const std::string& text) { return mark + P + text + "\r\n"; }

std::string Today() { return DateText(platform::LocalNow()); }

class SessionWire : public testing::LiveStationTest {
 protected:
  // The caller reads exactly `bytes` next.
  static void Reads(Caller& caller, const std::string& bytes) {
    EXPECT_EQ(caller.ReadUntil(bytes, 10s), bytes);
  }
  static void AllRead(const std::vector<Caller*>& callers, const std::string& bytes) {
    for (Caller* caller : callers) Reads(*caller, bytes);
  }
  // `bytes` are the last the caller reads before the station hangs up.
  static void ReadsThenClosed(Caller& caller, const std::string& bytes) {
    Reads(caller, bytes);
    EXPECT_TRUE(caller.ReadToEnd());
    EXPECT_EQ(caller.Rest(), "");
  }

  std::unique_ptr<Caller> LogIn(int line, const std::string& typed, const std::string& expected) {
    auto caller = Prompted(line);
    caller->Send(typed + "\r");
    Reads(*caller, expected);
    return caller;
  }

  // The next caller, once the station has freed `line` and gives it again.
  std::unique_ptr<Caller> NextCallerOn(int line) {
    std::string greeting;
    for (int attempt = 0; attempt < 100; ++attempt) {
      auto caller = std::make_unique<Caller>(ports_.main);
      greeting = caller->ReadUntil(testing::kPressEnter, 5s);
      if (greeting == testing::Greeting(line)) return caller;
      std::this_thread::sleep_for(50ms);
    }
    ADD_FAILURE() << "line " << line << " was never given again; last greeting: " << greeting;
    return std::make_unique<Caller>(ports_.main);
  }

  // A system-log line: its date and time stamp, then the line's identity and
  // the text (both as a regular expression).
  bool Logged(const std::string& entry) const {
    const std::regex stamped(R"(\d\d-\d\d-\d{4} \d{1,2}:\d\d [AP]M )" + entry + "\r");
    const std::string log = File("qvtalk.log");
    for (std::size_t at = 0; at < log.size();) {
      const std::size_t end = log.find('\n', at);
      if (std::regex_match(log.substr(at, end - at), stamped)) return true;
      if (end == std::string::npos) break;
      at = end + 1;
    }
    return false;
  }
};

template <class Layout>
typename Layout::Record RecordOf(const DataFile& file, int32_t number) {
  typename Layout::Record record;
  GetRecord<Layout>(file, number, record);
  return record;
}

// --- logins -----------------------------------------------------------------------

TEST_F(SessionWire, ABareEnterLogsAGuestInAndChatUsersHearOfTheNextCaller) {
  StartStation();
  auto first = Prompted(1);
  first->Send("\r");
  Reads(*first, GuestLogin(1) + LoginOf("#1(C1]:?) "));
  auto second = Prompted(2);
  Reads(*first, NewCaller(2));
  second->Send("\r\n");
  Reads(*second, GuestLogin(2) + LoginOf("#2(C1]:?) "));
  Reads(*first, LoginOf("#2(C1]:?) "));

  const ServerConfig stored = RecordOf<CallRecord>(kConfigFile, kCallRecordNumber);
  EXPECT_EQ(stored.callsToday, 2);
  EXPECT_EQ(stored.totalCalls, 2);
  EXPECT_TRUE(Logged(R"(\?:N/A - Logged on from 127\.0\.0\.1 on line #1\.)"));
  EXPECT_TRUE(Logged(R"(\?:N/A - Logged on from 127\.0\.0\.1 on line #2\.)"));
}

TEST_F(SessionWire, MembersTypeTheirAccountBeforeThePasswordAndAnythingElseIsAGuest) {
  AddMember({1, "Max", " Secret"});
  AddMember({2, "Ann", "Secret"});
  AddMember({3, "Bob", "Secret", 2});
  AddMember({4, "Cy", "Secret", 4});
  AddMember({5, "Dee", "Secret", 1, {0, 1}, 2});
  StartStation();
  struct Attempt {
    std::string typed;
    std::string answer;
    std::string tag;
  };
  const std::vector<Attempt> attempts = {
      {"001secret", MemberLogin(1), "#1[C1]:Max) #001"},
      {"002SECRET", MemberLogin(2), "#2[C1]:Ann) #002"},
      {"003 Secret ", MemberLogin(3), "#3<C1):Bob) #003"},
      {"004sEcReT}ignored", MemberLogin(4), "#4<C1>:Cy) #004"},
      {"005secret", MemberLogin(5) + kMailNotice, "#5[C1]:Dee) #005"},
      {"001wrong", kTyped + GuestLogin(6), "#6(C1]:?) "},  // no word of the wrong password
      {"123secret", kTyped + P + "Invalid Account\r\n" + GuestLogin(7), "#7(C1]:?) "},
  };
  std::vector<std::unique_ptr<Caller>> callers;
  for (std::size_t i = 0; i < attempts.size(); ++i) {
    SCOPED_TRACE(attempts[i].typed);
    callers.push_back(LogIn(static_cast<int>(i) + 1, attempts[i].typed, attempts[i].answer + LoginOf(attempts[i].tag)));
  }
}

TEST_F(SessionWire, AMemberWithoutALineKindStaysAtTheLoginAndItsNextLineIsANewAttempt) {
  AddMember({1, "Max", "secret", 1, {0, 2}});
  StartStation();
  auto observer = GuestLoggedIn(1);
  auto member = LogIn(2, "001secret", MemberLogin(2));
  Reads(*observer, NewCaller(2) + LoginOf("#2[C1]:Max) #001"));
  member->Send("\r");
  Reads(*member, GuestLogin(3) + LoginOf("#2(C1]:?) "));
  Reads(*observer, LoginOf("#2(C1]:?) "));
}

// The newcomer is told and cut off, chat users are told, the system log
// keeps the block, and the first session goes on.
TEST_F(SessionWire, ASecondLoginToAnAccountInUseIsRefusedAndLogged) {
  AddMember({1, "Max", "secret"});
  StartStation();
  auto first = LogIn(1, "001secret", MemberLogin(1) + LoginOf("#1[C1]:Max) #001"));
  auto guest = GuestLoggedIn(2);
  Reads(*first, NewCaller(2) + LoginOf("#2(C1]:?) "));
  auto second = Prompted(3);
  AllRead({first.get(), guest.get()}, NewCaller(3));
  second->Send("001SECRET\r");
  ReadsThenClosed(*second, kTyped + P + "Duplicate Account! ERROR! Logged!\r\n");
  AllRead({first.get(), guest.get()}, P + "Duplicate Account Use for #001!!\r\n\r\n");
  const std::regex block(
      "-->Duplicate Account Use<--\r\nAccount #001 @127\\.0\\.0\\.1 Line #1\r\n"
      R"(Time:\d{1,2}:\d\d:\d\d [AP]M <--> [A-Z][a-z]+day, [A-Z][a-z]+ \d\d, \d{4})"
      "\r\n-->Duplicate Account Use<--\r\n");
  EXPECT_TRUE(std::regex_search(File("qvtalk.log"), block)) << File("qvtalk.log");

  first->Send("still here\r");
  Reads(*guest, "#1[C1]:Max) still here\r\n");
  // The refusal was no call, and its line is free again.
  auto next = NextCallerOn(3);
  next->Send("\r\n");
  Reads(*next, testing::kPasswordPrompt);
  next->Send("\r");
  Reads(*next, GuestLogin(3));
}

TEST_F(SessionWire, LineZeroAdmitsOnlyLevelThreeAndAbove) {
  AddMember({2, "Ann", "pw", 2});
  AddMember({3, "Zed", "pw", 3});
  StartStation();
  const std::string guestRefusal = kThreeBreaks + P + "Logoff Due to:Insufficient clearance for this port!\r\n\r";
  const std::string memberRefusal = kTyped + kThreeBreaks + " \r\n" + P +
                                    "Logoff Due to:Insufficient Clearance For This Port!\r\n\r" + P +
                                    "Logoff Due to:KLICK!\r";
  ReadsThenClosed(*LogIn(0, "", guestRefusal), "");
  ReadsThenClosed(*LogIn(0, "002pw", memberRefusal), "");
  auto admitted = LogIn(0, "003pw", MemberLogin(1) + LoginOf("#0<C1]:Zed) #003"));
}

// Flags 6 to 9 make the four link kinds, at level 1 unless flag 5 keeps the
// account's level; the tags show both. D-Dial links read announcements at
// once: "}}" before a guest's, "}" before a member's.
TEST_F(SessionWire, LinkAccountsBecomeTheirLinkKinds) {
  AddMember({10, "Link", "pw", 3, {0, 1, 6}});
  AddMember({11, "Link", "pw", 3, {0, 1, 7}});
  AddMember({12, "Link", "pw", 3, {0, 1, 8}});
  AddMember({13, "Link", "pw", 3, {0, 1, 9}});
  AddMember({14, "Link", "pw", 3, {0, 1, 5, 6}});
  StartStation();
  auto observer = GuestLoggedIn(1);
  struct Kind {
    std::string typed;
    std::string tag;
    bool dDial;
  };
  const std::vector<Kind> kinds = {
      {"010pw", "#2[1]=Link) #010", true},           {"011pw", "#3[12]-Link) #011", true},
      {"012pw", "#4[123456789]-Link) #012", true},   {"013pw", "#5[RNGLSWX]+Link) #013", false},
      {"014pw", "#6<1]=Link) #014", true},
  };
  std::vector<std::unique_ptr<Caller>> links;
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    const Kind& kind = kinds[i];
    SCOPED_TRACE(kind.tag);
    const int line = static_cast<int>(i) + 2;
    const std::string own = kind.dDial ? ToLink("}", "Login^" + kind.tag) : "";
    links.push_back(LogIn(line, kind.typed, MemberLogin(line) + own));
    Reads(*observer, NewCaller(line) + LoginOf(kind.tag));
    if (i > 0) Reads(*links[0], ToLink("}", "Login^" + kind.tag));
  }
  auto guest = GuestLoggedIn(7);
  Reads(*links[0], ToLink("}}", "Login^#7(C1]:?) "));
  guest->Close();
  Reads(*links[0], ToLink("}}", "Logoff^#7(C1]:?) "));
  links[4]->Close();
  Reads(*links[0], ToLink("}", "Logoff^#6<1]=Link) #014"));
  Reads(*observer, NewCaller(7) + LoginOf("#7(C1]:?) ") + LogoffOf("#7(C1]:?) ") + LogoffOf("#6<1]=Link) #014"));
  EXPECT_TRUE(Logged(R"(Link:014 - Link Logged off\. \(Online 0 minutes\.\))"));
  // Only the guest made the list of last callers.
  EXPECT_EQ(RecordOf<LastCallerLayout>(kLastCallsFile, 1).account.Trimmed(), "N/A");
  EXPECT_FALSE(RecordOf<LastCallerLayout>(kLastCallsFile, 2).inUse);
}

// --- chat ---------------------------------------------------------------------------

TEST_F(SessionWire, ChatReachesTheChannelUnderTheSendersTagAndWaitsForTypists) {
  AddMember({2, "Max", "pw"});
  AddMember({3, "Eve", "pw", 2});
  StartStation();
  auto a = GuestLoggedIn(1);
  auto b = LogIn(2, "002pw", MemberLogin(2) + LoginOf("#2[C1]:Max) #002"));
  auto c = LogIn(3, "003pw", MemberLogin(3) + LoginOf("#3<C1):Eve) #003"));
  Reads(*a, NewCaller(2) + LoginOf("#2[C1]:Max) #002") + NewCaller(3) + LoginOf("#3<C1):Eve) #003"));
  Reads(*b, NewCaller(3) + LoginOf("#3<C1):Eve) #003"));

  // A terminal typing key by key is echoed as it types; the line comes back
  // to everyone on the channel, the sender included.
  for (const std::string key : {"h", "i"}) {
    a->Send(key);
    Reads(*a, key);
  }
  a->Send("\r");
  Reads(*a, "\r\n\r\n#1(C1]:?) hi\r\n");
  AllRead({b.get(), c.get()}, "#1(C1]:?) hi\r\n");

  // A whole line at once is not echoed; "}" and "~" never reach the chat.
  b->Send("hello} there~\r\n");
  Reads(*b, "\r\n\r\n#2[C1]:Max) hello there\r\n");
  AllRead({a.get(), c.get()}, "#2[C1]:Max) hello there\r\n");

  // Output for a caller in the middle of a line waits for its end.
  c->Send("wa");
  Reads(*c, "wa");
  a->Send("x\r");
  Reads(*a, "\r\n#1(C1]:?) x\r\n");
  Reads(*b, "#1(C1]:?) x\r\n");
  EXPECT_EQ(c->ReadUntil("x", 300ms), "");
  c->Send("it");
  Reads(*c, "it");
  c->Send("\r");
  Reads(*c, "\r\n\r\n#1(C1]:?) x\r\n#3<C1):Eve) wait\r\n");
  AllRead({a.get(), b.get()}, "#3<C1):Eve) wait\r\n");

  // An empty line is answered with a line break and sent to nobody.
  a->Send("\r");
  Reads(*a, "\r\n");
  a->Send("y\r");
  Reads(*a, "\r\n#1(C1]:?) y\r\n");
  AllRead({b.get(), c.get()}, "#1(C1]:?) y\r\n");
}

// --- logoffs --------------------------------------------------------------------------

TEST_F(SessionWire, LogoffsAreAnnouncedAndSavedToTheFiles) {
  AddMember({2, "Max", "pw"});
  StartStation();
  auto guest = GuestLoggedIn(1);
  auto member = LogIn(2, "002pw", MemberLogin(2) + LoginOf("#2[C1]:Max) #002"));
  auto observer = GuestLoggedIn(3);
  Reads(*member, NewCaller(3) + LoginOf("#3(C1]:?) "));

  guest->Close();
  AllRead({member.get(), observer.get()}, LogoffOf("#1(C1]:?) "));
  member->Send("/HMaxwell\r");
  Reads(*member, "\r\n\r\n" + P + "Handle Set.\r\n");
  // The farewell reaches the caller before the station hangs up.
  member->Send("/Q\r");
  const std::string farewell = member->ReadUntil("Thank you for using Tellarium!");
  EXPECT_TRUE(farewell.ends_with("\r\n" + P + "Thank you for using Tellarium!")) << farewell;
  ReadsThenClosed(*member, "");
  Reads(*observer, LogoffOf("#2[C1]:Maxwell) #002"));
  // The session's handle goes to the account, its file and the index.
  observer->Send("/SM\r");
  EXPECT_NE(observer->ReadUntil("002:Maxwell\r\n", 10s), "");

  EXPECT_EQ(std::filesystem::file_size(scratch_.path() / "lastcalls.qvs"), 10u * 61u);
  const LastCallerRecord latest = RecordOf<LastCallerLayout>(kLastCallsFile, 1);
  EXPECT_EQ(latest.handle.Trimmed(), "Maxwell");
  EXPECT_EQ(latest.account.Raw(), "002");
  EXPECT_EQ(latest.lineCode.Raw(), "2");
  EXPECT_TRUE(std::regex_match(latest.time.Raw(), std::regex(R"(\d\d:\d\d)"))) << latest.time.Raw();
  EXPECT_EQ(latest.date.Raw(), Today());
  EXPECT_TRUE(latest.inUse);
  const LastCallerRecord before = RecordOf<LastCallerLayout>(kLastCallsFile, 2);
  EXPECT_EQ(before.handle.Trimmed() + before.account.Raw() + before.lineCode.Raw(), "?N/A1");
  for (int32_t n = 3; n <= 10; ++n) EXPECT_FALSE(RecordOf<LastCallerLayout>(kLastCallsFile, n).inUse) << n;

  const UserRecord account = RecordOf<UserRecordLayout>({"user002.qvs", kAccountRecordLength}, kAccountRecord);
  EXPECT_EQ(account.handle.Trimmed(), "Maxwell");
  EXPECT_EQ(account.lastCallDate.Raw(), Today());
  EXPECT_EQ(account.lastCallTime.Raw().size(), 8u);
  EXPECT_EQ(account.counter1, 0);
  const ServerConfig calls = RecordOf<CallRecord>(kConfigFile, kCallRecordNumber);
  EXPECT_EQ(calls.lastCallDate.Raw(), Today());
  EXPECT_EQ(calls.lastCallTime.Raw().size(), 8u);
  EXPECT_EQ(calls.callsToday, 3);
  EXPECT_EQ(calls.totalCalls, 3);

  EXPECT_TRUE(Logged(R"(\?:N/A - Logged off\. \(Online 0 minutes\.\))"));
  EXPECT_TRUE(Logged(R"(Max:002 - Logged on from 127\.0\.0\.1 on line #2\.)"));
  EXPECT_TRUE(Logged(R"(Maxwell:002 - Logged off\. \(Online 0 minutes\.\))"));
}

// A caller who hangs up anywhere in the session leaves its line to the next.
TEST_F(SessionWire, AnAbruptDisconnectFreesTheLineInEveryState) {
  StartStation();
  struct Step {
    std::string sent;
    std::string answer;
  };
  const Step prompt{"\r\n", "-->"}, guest{"\r", " For Help.\r\n"};
  const std::vector<std::vector<Step>> states = {
      {},                                          // greeted
      {prompt},                                    // at the password prompt
      {prompt, {"secr", "****"}},                  // typing the password
      {prompt, guest},                             // chatting
      {prompt, guest, {"half a li", "half a li"}}, // in the middle of a chat line
  };
  auto caller = Greeted(1);
  for (const auto& steps : states) {
    for (const Step& step : steps) {
      caller->Send(step.sent);
      EXPECT_NE(caller->ReadUntil(step.answer, 10s), "") << step.answer << " after: " << caller->Rest();
    }
    caller->Close();
    caller = NextCallerOn(1);
  }
  caller->Send("\r\n");
  caller->ReadUntil("-->");
  caller->Send("\r");
  Reads(*caller, GuestLogin(3));  // two of the callers got as far as a login
}

// --- time-outs --------------------------------------------------------------------------

// Under a clock sixty times as fast, guests (limit 0 minutes) are marked at the
// first minute's tick; level 2 has no limit, and line 0 never times out even
// at level 3 with a limit of 0.
TEST_F(SessionWire, AMarkedCallerIsWarnedAndLoggedOffHalfAMinuteLater) {
#ifdef TELLARIUM_SANITIZED
  GTEST_SKIP() << "a preloaded clock does not go with the sanitizers";
#endif
  constexpr int kSpeed = 60;
  AddMember({2, "Max", "pw", 2});
  AddMember({3, "Zed", "pw", 3});
  {
    Server writer;
    writer.Startup();
    // D-Dial, level 3, QVS, level 1, level 2, level 0, level 4.
    writer.cfgparse("\x01" "6|-1|0|-1|-1|-1|0|-1|");
  }
  if (!StartStationSpedUp(7, kSpeed)) GTEST_SKIP() << "faketime is not installed";
  auto zero = LogIn(0, "003pw", MemberLogin(1) + LoginOf("#0<C1]:Zed) #003"));
  auto member = LogIn(1, "002pw", MemberLogin(2) + LoginOf("#1<C1):Max) #002"));
  auto guest = GuestLoggedIn(2);
  Reads(*zero, NewCaller(1) + LoginOf("#1<C1):Max) #002") + NewCaller(2) + LoginOf("#2(C1]:?) "));
  Reads(*member, NewCaller(2) + LoginOf("#2(C1]:?) "));

  // Until it is marked, the guest's lines reach the channel; the first line
  // typed once it is marked reaches nobody and brings the notice.
  const std::string notice = P + "#2 timeout. Logoff in 30 seconds.\r\n";
  std::string heard;
  const auto start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point warned;
  for (;;) {
    ASSERT_LT(std::chrono::steady_clock::now() - start, 30s) << "never warned";
    guest->Send("ping\r");
    Reads(*guest, "\r\n\r\n");
    const std::string reply = guest->ReadUntil("\r\n", 10s);
    if (reply == notice) {
      warned = std::chrono::steady_clock::now();
      break;
    }
    ASSERT_EQ(reply, "#2(C1]:?) ping\r\n");
    heard += reply;
    std::this_thread::sleep_for(100ms);
  }
  ASSERT_TRUE(guest->ReadToEnd(10s));
  const auto stationSeconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - warned).count() *
      kSpeed / 1000;
  EXPECT_EQ(guest->Rest(), "\r\n");
  RecordProperty("station_seconds_to_logoff", std::to_string(stationSeconds));
  EXPECT_GE(stationSeconds, 20);
  EXPECT_LE(stationSeconds, 120);
  AllRead({zero.get(), member.get()}, heard + notice + "\r\n" + LogoffOf("*2(C1]:?) "));
  EXPECT_TRUE(Logged(R"(\?:N/A - Timed Out\. \(Online \d+ minutes\.\))"));

  zero->Send("still here\r");
  Reads(*zero, "\r\n\r\n#0<C1]:Zed) still here\r\n");
  Reads(*member, "#0<C1]:Zed) still here\r\n");
}

}  // namespace
}  // namespace tellarium
