// The user and information commands on the real binary, byte for byte: what
// each caller may ask, what those who may not are told, and what the other
// callers see.
#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "support/live_station.h"

namespace tellarium {
namespace {

using testing::Caller;
using testing::Member;

const std::string kPrefix = "-=> QVS-00: ";
const std::string kUnrecognized = kPrefix + "Unrecognized Command. /? For Menu.\r\n";
const std::string kInsufficient = kPrefix + "Insufficient Security Clearance.\r\n";
// What the caller's own typing of a command of two or more characters brings.
const std::string kBreaks = "\r\n\r\n";

// A pattern for a text holding times and dates the test cannot know: "{TIME}"
// stands for "9:46:30 PM", "{DATE}" for "Sunday, December 06, 2026".
std::regex Pattern(const std::string& text) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  std::string pattern = std::regex_replace(text, special, R"(\$&)");
  for (const auto& [mark, replacement] :
       {std::pair<std::string, std::string>{R"(\{TIME\})", R"(1?\d:\d\d(:\d\d)? [AP]M)"},
        {R"(\{DATE\})", R"(\w+day, \w+ \d\d, \d{4})"}}) {
    for (std::size_t at; (at = pattern.find(mark)) != std::string::npos;) pattern.replace(at, mark.size(), replacement);
  }
  return std::regex(pattern);
}

class CommandTest : public testing::LiveStationTest {
 protected:
  void SetUp() override {
    LiveStationTest::SetUp();
    AddMember({1, "Max", "secret", 1});
    AddMember({2, "Ann", "secret", 2});
    AddMember({3, "Bo", "secret", 3});
  }

  // Logs a caller in on `line` with what is typed at the prompt and reads up
  // to its own login announcement.
  std::unique_ptr<Caller> LoggedIn(int line, const std::string& typed = "") {
    auto caller = Prompted(line);
    caller->Send(typed + "\r\n");
    EXPECT_NE(caller->ReadUntil("\x07Login\r\n #" + std::to_string(line)), "");
    EXPECT_NE(caller->ReadUntil("\r\n"), "");
    return caller;
  }
  // Another caller's login or logoff announcement, seen by `caller`.
  static void SeeNotice(Caller& caller, const std::string& notice, int line) {
    EXPECT_NE(caller.ReadUntil(notice + "\r\n #" + std::to_string(line)), "");
    EXPECT_NE(caller.ReadUntil("\r\n"), "");
  }
  static void SeeLogin(Caller& caller, int line) { SeeNotice(caller, "\x07Login", line); }
  // What a command brings up to and including `last`, or, given `then`, up
  // to the first `then` after `last`.
  static std::string Ask(Caller& caller, const std::string& command, const std::string& last,
                         const std::string& then = "") {
    caller.Send(command + "\r\n");
    std::string answer = caller.ReadUntil(last);
    if (!then.empty()) answer += caller.ReadUntil(then);
    return answer;
  }
  static void ExpectAnswer(Caller& caller, const std::string& command, const std::string& answer) {
    EXPECT_EQ(Ask(caller, command, answer), (command.size() > 1 ? kBreaks : "\r\n") + answer) << command;
  }
  static void ExpectMatch(Caller& caller, const std::string& command, const std::string& pattern) {
    const std::string answer = Ask(caller, command, "\r\n-=> Time:", "\r\n");
    EXPECT_TRUE(std::regex_match(answer, Pattern(kBreaks + pattern))) << command << ":\n" << answer;
  }
};

TEST_F(CommandTest, DispatchAnswersAlike) {
  StartStation();
  auto guest = LoggedIn(1);
  ExpectAnswer(*guest, "/", kUnrecognized);
  ExpectAnswer(*guest, "/5 hello", kUnrecognized);
  ExpectAnswer(*guest, "/X", kUnrecognized);
  ExpectAnswer(*guest, "/b", kPrefix + "Beeps: Off\r\n");
  ExpectAnswer(*guest, "/B", kPrefix + "Beeps: On\r\n");
  ExpectAnswer(*guest, "/f", kPrefix + "Line Spacing: On\r\n");
  ExpectAnswer(*guest, "/F", kPrefix + "Line Spacing: Off\r\n");
  ExpectAnswer(*guest, "/bp", kPrefix + "/P Beep: Off\r\n");
  ExpectAnswer(*guest, "/bL", kPrefix + "Login Beep: Off\r\n");
  ExpectAnswer(*guest, "/BL", kPrefix + "Login Beep: On\r\n");
  // Commands of other work areas are not recognised on this station yet.
  ExpectAnswer(*guest, "/T2", kUnrecognized);
}

// A test build plants an exception nothing expects inside a command handler
// and inside a receive event: each is logged, and the station serves on.
TEST_F(CommandTest, UnexpectedExceptionsAreLoggedAndTheStationServesOn) {
  ::setenv("TELLARIUM_FAULT_COMMAND", "CRASH", 1);
  ::setenv("TELLARIUM_FAULT_RECEIVE", "BOOM", 1);
  StartStation();
  ::unsetenv("TELLARIUM_FAULT_COMMAND");
  ::unsetenv("TELLARIUM_FAULT_RECEIVE");
  auto guest = LoggedIn(1);
  guest->Send("/CRASH\r\n");
  guest->Send("BOOM\r\n");
  const std::string beeps = kPrefix + "Beeps: Off\r\n";
  EXPECT_EQ(Ask(*guest, "/B", beeps), kBreaks + kBreaks + beeps);
  EXPECT_EQ(File("error.log"),
            "Routine: CommandStack\r\nError:Subscript out of range ( 9)\r\n"
            "Routine: Port Recv\r\nError:Out of memory ( 7)\r\n");
  auto next = LoggedIn(2);
  SeeLogin(*guest, 2);
}

TEST_F(CommandTest, MenusAndInformationScreens) {
  testing::WriteFile(scratch_.path() / "mainmenu.qvs", testing::NumberedLines(12, "Main menu entry number "));
  testing::WriteFile(scratch_.path() / "sysopmenu.qvs", "Kill: /K\r\nLevel: /G\r\n");
  testing::WriteFile(scratch_.path() / "infoscreen.qvs", "1 Password\r\n2 Channels\r\n");
  StartStation();
  auto guest = LoggedIn(1);
  ExpectAnswer(*guest, "/?", testing::NumberedLines(12, "Main menu entry number "));
  ExpectAnswer(*guest, "/*?", kInsufficient);
  ExpectAnswer(*guest, "/i", kPrefix + "System Information Screens\r\n\r\n1 Password\r\n2 Channels\r\n");
  ExpectAnswer(*guest, "/I1", "Please create password.qvs\r\n");
  ExpectAnswer(*guest, "/I2",
               kPrefix + "Channel Information\r\n" + "Channel 1:Main Channel Max: 30 Current: 1\r\n" +
                   "Channel 2:Gaming Max: 30 Current: 0\r\nChannel 3:Main Link Max: 30 Current: 0\r\n" +
                   "Channel 4:Link Gaming Max: 30 Current: 0\r\nChannel 5:Private #1 Max: 2 Current: 0\r\n" +
                   "Channel 6:Private #2 Max: 2 Current: 0\r\nChannel 7:Channel 7 Max: 30 Current: 0\r\n" +
                   "Channel 8:Channel 8 Max: 30 Current: 0\r\nChannel 9:SysOp Conference Max: 30 Current: 0\r\n");
  ExpectAnswer(*guest, "/I3",
               "\r\n\r\n" + kPrefix + "Tellarium V1.40M\r\nThis is Tellarium Station #00\r\n" +
                   "Known as: Tellarium QVS-00\r\n");
  utsname system{};
  ::uname(&system);
  ExpectAnswer(*guest, "/I4",
               "\r\n\r\n" + kPrefix + "Server Data\r\nServer is Tellarium QVS-00\r\nOperating System:\r\n" +
                   system.sysname + " Version:" + system.release + " Build:" + system.version +
                   "\r\nRunning as: Service\r\nAddress: 127.0.0.1\r\nTELNET Login Port:" +
                   std::to_string(ports_.main) + "\r\nLines In Use: 1\r\nLines Available: 6\r\n" +
                   "Active Users This Station: 4\r\n");
  ExpectAnswer(*guest, "/I5",
               kPrefix + "Station Information:\r\nStation # :00\r\nName      :Tellarium\r\nOwner     :\r\n" +
                   "Network ID: QVS-00:Tellarium\r\n");
  const std::string stats = Ask(*guest, "/I6", "Last Call:", ".\r\n");
  EXPECT_TRUE(std::regex_match(stats, Pattern(kBreaks + kPrefix +
                                              "Station Stats:\r\nCalls Today:1\r\nTotal Calls:1\r\n"
                                              "Last Reboot:{TIME} on {DATE}.\r\nLast Call:{TIME} on {DATE}.\r\n")))
      << stats;
  ExpectAnswer(*guest, "/I7", kUnrecognized);
  const std::string time = Ask(*guest, "/sT", ".\r\n");
  EXPECT_TRUE(std::regex_match(time, Pattern(kBreaks + kPrefix + "Time: {TIME} on {DATE}.\r\n"))) << time;

  auto member = LoggedIn(2, "002secret");
  ExpectAnswer(*member, "/*?", "Kill: /K\r\nLevel: /G\r\n");
}

TEST_F(CommandTest, OnlineAndAddressLists) {
  StartStation();
  auto guest = LoggedIn(1);
  // Alone online: the last call follows the list.
  const std::string alone = Ask(*guest, "/s", " On ", "\r\n");
  EXPECT_TRUE(std::regex_match(alone, Pattern(kBreaks + kPrefix + "Online List\r\n\r\n#1(C1]:?) #N/A:0\r\n\r\n" +
                                              "-=> Time:{TIME} <--> Date:{DATE}\r\n" + kPrefix +
                                              "Last Call:{TIME} On {DATE}\r\n")))
      << alone;
  auto member = LoggedIn(2, "001secret");
  SeeLogin(*guest, 2);
  for (const char* command : {"/S", "/S1", "/S12", "/Sabc"}) {
    ExpectMatch(*member, command,
                kPrefix + "Online List\r\n\r\n#1(C1]:?) #N/A:0\r\n#2[C1]:Max) #001:0\r\n\r\n" +
                    "-=> Time:{TIME} <--> Date:{DATE}\r\n");
  }
  ExpectAnswer(*guest, "/S#", kUnrecognized);
  ExpectMatch(*member, "/s#",
              "Address List\r\n\r\n#1(C1]:?) #N/A@127.0.0.1 (Telnet)\r\n#2[C1]:Max) #001@127.0.0.1 (Telnet)\r\n\r\n"
              "-=> Time:{TIME} <--> Date:{DATE}\r\n");
}

TEST_F(CommandTest, AutobiographiesAreSetAndShown) {
  StartStation();
  auto guest = LoggedIn(1);
  ExpectAnswer(*guest, "/UI a guest", kInsufficient);
  {
    auto member = LoggedIn(2, "000zarvo");
    ExpectAnswer(*member, "/UI Likes chess.  ", kPrefix + "Autobiography Set.\r\n");
    member->Send("/Q\r\n");
    EXPECT_TRUE(member->ReadToEnd());
  }
  SeeLogin(*guest, 2);
  SeeNotice(*guest, "Logoff", 2);
  const std::string shown = Ask(*guest, "/S000", " at ", "chess.\r\n");
  EXPECT_TRUE(std::regex_match(shown, Pattern(kBreaks + kPrefix + "Autobiography for User #000:SysOp\r\n" +
                                              " Last Call {DATE} at {TIME}.\r\n Likes chess.\r\n")))
      << shown;
  ExpectAnswer(*guest, "/S500", kPrefix + "Invalid User Account.\r\n");
  EXPECT_EQ(File("user000.qvs").substr(4096, 16), "| Likes chess.  ");
}

TEST_F(CommandTest, TheMemberListPagesOverThirtyMembers) {
  for (int16_t account = 10; account < 40; ++account) AddMember({account, "Member" + std::to_string(account), "pw"});
  StartStation();
  auto guest = LoggedIn(1);
  std::string first = "Member List (000 to 028)\r\n\r\n000:SysOp\r\n001:Max\r\n002:Ann\r\n003:Bo\r\n";
  for (int account = 10; account <= 28; ++account) first += "0" + std::to_string(account) + ":Member" + std::to_string(account) + "\r\n";
  ExpectAnswer(*guest, "/SM", first + kPrefix + "/SC To Continue.\r\n");
  std::string second = "Member List (028 to 999)\r\n\r\n";
  for (int account = 28; account < 40; ++account) second += "0" + std::to_string(account) + ":Member" + std::to_string(account) + "\r\n";
  ExpectAnswer(*guest, "/sc", second + kPrefix + "End.\r\n");
  ExpectAnswer(*guest, "/SC", kPrefix + "Already at end of list.\r\n");
  // Another line keeps its own place.
  auto other = LoggedIn(2);
  ExpectAnswer(*other, "/SC", first + kPrefix + "/SC To Continue.\r\n");
}

TEST_F(CommandTest, HandlesOwnAndOthers) {
  StartStation();
  auto guest = LoggedIn(1);
  ExpectAnswer(*guest, "/H Wanderer", kPrefix + "Handle Set.\r\n");
  ExpectAnswer(*guest, "/H5 Other", kInsufficient);
  auto sysop = LoggedIn(2, "003secret");
  SeeLogin(*guest, 2);
  guest->Send("hi\r\n");
  EXPECT_EQ(sysop->ReadUntil("hi\r\n"), "#1(C1]:Wanderer) hi\r\n");
  ExpectAnswer(*sysop, "/H1Rover", kPrefix + "Handle set for #1\r\n");
  ExpectAnswer(*sysop, "/H4 Nobody", kPrefix + "Not Online.\r\n");
  ExpectAnswer(*sysop, "/H9 Nobody", kPrefix + "Invalid Line.\r\n");
  guest->Send("hello\r\n");
  EXPECT_EQ(sysop->ReadUntil("hello\r\n"), "#1(C1]:Rover) hello\r\n");
}

TEST_F(CommandTest, PostsReachEveryChatUser) {
  StartStation();
  auto guest = LoggedIn(1);
  auto member = LoggedIn(2, "001secret");
  SeeLogin(*guest, 2);
  ExpectAnswer(*guest, "/PS not allowed", kInsufficient);
  member->Send("/PS Meeting at noon\r\n");
  EXPECT_EQ(guest->ReadUntil("noon\r\n"), "S#2[C1]:Max)  Meeting at noon\r\n");
  EXPECT_EQ(member->ReadUntil("noon\r\n"), kBreaks + "S#2[C1]:Max)  Meeting at noon\r\n");
}

TEST_F(CommandTest, QuitEndsTheSessionAndTheLastCallersShowIt) {
  StartStation();
  auto watcher = LoggedIn(1);
  for (const char* typed : {"", "001secret"}) {
    auto leaving = LoggedIn(2, typed);
    SeeLogin(*watcher, 2);
    ExpectAnswer(*leaving, "/q",
                 "Thank you for calling Tellarium QVS-00\r\n Call again soon!\r\n" + kPrefix +
                     "Thank you for using Tellarium!");
    EXPECT_TRUE(leaving->ReadToEnd());
    SeeNotice(*watcher, "Logoff", 2);
  }
  const std::string last = Ask(*watcher, "/L", "#N/A @ ", "\r\n");
  EXPECT_TRUE(std::regex_match(last, Pattern(kBreaks + kPrefix + "Last 10 callers\r\n \r\n #1:Max #001 @ {TIME} on " +
                                             "{DATE}\r\n #2:? #N/A @ {TIME} on {DATE}\r\n")))
      << last;
}

}  // namespace
}  // namespace tellarium
