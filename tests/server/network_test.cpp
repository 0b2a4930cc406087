// The station on loopback: the real binary greeting, placing, refusing and
// negotiating with callers, its listeners failing, its memory under abuse;
// and the listeners moving with configuration group 5, run in-process.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "platform/loop.h"
#include "support/scratch_directory.h"
#include "support/live_station.h"

namespace tellarium {
namespace {

using testing::Caller;
using testing::CallWhenListening;
using testing::ScratchDirectory;
using testing::Station;
using testing::StationPorts;

const std::string IAC = "\xff";
const std::string WILL = "\xfb", WONT = "\xfc", DO = "\xfd", DONT = "\xfe";
using testing::Greeting;
using testing::kPressEnter;

using NetworkTest = testing::LiveStationTest;

TEST_F(NetworkTest, CallersGetTheLowestFreeLine) {
  StartStation(7);
  auto first = Greeted(1);
  auto second = Greeted(2);
  first->Close();
  // The station frees line 1 when it sees the close; until then a caller may
  // still get line 3.
  for (int attempt = 0; attempt < 100; ++attempt) {
    Caller next(ports_.main);
    const std::string greeting = next.ReadUntil(kPressEnter);
    if (greeting == Greeting(1)) return;
    EXPECT_EQ(greeting, Greeting(3));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  FAIL() << "line 1 was never given again";
}

TEST_F(NetworkTest, AFullStationTellsEveryCallerAndHangsUp) {
  StartStation(1);
  auto member = Greeted(1);
  std::vector<std::unique_ptr<Caller>> callers;
  for (int i = 0; i < 10; ++i) callers.push_back(std::make_unique<Caller>(ports_.main));
  for (auto& caller : callers) {
    EXPECT_EQ(caller->ReadUntil("\r\n"), "Sorry, the system is full. Try again later.\r\n");
    EXPECT_TRUE(caller->ReadToEnd());
    EXPECT_EQ(caller->Rest(), "");
  }
  member->Send("\r\n");  // the member is still served
  EXPECT_NE(member->ReadUntil("-->"), "");
}

TEST_F(NetworkTest, LineZeroServesOneCaller) {
  StartStation(7);
  auto first = Greeted(0);
  for (int i = 0; i < 3; ++i) {
    Caller refused(ports_.line0);
    EXPECT_EQ(refused.ReadUntil("\r\n"), "Sorry, line #0 is in use. Try the main ports.\r\n");
    EXPECT_TRUE(refused.ReadToEnd());
  }
}

// Each probe is followed by DO 24, always refused with WONT 24: what comes
// before that refusal is the probe's whole answer.
class OptionProbe {
 public:
  explicit OptionProbe(Caller& caller) : caller_(caller) {}
  std::string Answer(const std::string& probe) {
    const std::string sync = IAC + WONT + "\x18";
    caller_.Send(probe + IAC + DO + "\x18");
    const std::string reply = caller_.ReadUntil(sync);
    return reply.empty() ? "(no sync)" : reply.substr(0, reply.size() - sync.size());
  }

 private:
  Caller& caller_;
};

TEST_F(NetworkTest, OptionAnswers) {
  StartStation(7);
  auto caller = Greeted(1);
  OptionProbe probe(*caller);
  EXPECT_EQ(probe.Answer(IAC + DO + "\x03"), IAC + WILL + "\x03");
  EXPECT_EQ(probe.Answer(IAC + DO + "\x03"), "");
  EXPECT_EQ(probe.Answer(IAC + DO + "\x01"), IAC + WILL + "\x01");
  EXPECT_EQ(probe.Answer(IAC + DO + "\x01"), "");
  EXPECT_EQ(probe.Answer(IAC + DO + "\x22"), IAC + WONT + "\x22");
  EXPECT_EQ(probe.Answer(IAC + DO + "\x05"), IAC + WONT + "\x05");
  EXPECT_EQ(probe.Answer(IAC + DONT + "\x06"), IAC + WONT + "\x06");
  EXPECT_EQ(probe.Answer(IAC + DONT + "\x06"), "");
  EXPECT_EQ(probe.Answer(IAC + WILL + "\x01"), IAC + DONT + "\x01" + IAC + DONT + "\x01");
  EXPECT_EQ(probe.Answer(IAC + WILL + "\x22"), IAC + DONT + "\x22");
  EXPECT_EQ(probe.Answer(IAC + WILL + "\x1f"), IAC + DONT + "\x1f");
  EXPECT_EQ(probe.Answer(IAC + WONT + "\x20"), IAC + DONT + "\x20");
  EXPECT_EQ(probe.Answer(IAC + WONT + "\x20"), "");
  EXPECT_EQ(probe.Answer(IAC + "\xf1" + IAC + "\xf9"), "");  // NOP, GA

  auto fresh = Greeted(2);
  OptionProbe second(*fresh);
  EXPECT_EQ(second.Answer(IAC + WILL + "\x03"), IAC + DO + "\x03");
  EXPECT_EQ(second.Answer(IAC + WILL + "\x03"), "");
  EXPECT_EQ(second.Answer(IAC + DO + "\x03"), "");
}

TEST_F(NetworkTest, TheLoginStartsAndThePasswordIsMasked) {
  StartStation(7);
  auto caller = Greeted(1);
  caller->Send("\r\n");
  EXPECT_EQ(caller->ReadUntil("-->"), "Welcome to Tellarium QVS-00\r\nEnter PASSWORD or <RETURN>\r\n-->");
  for (const char* key : {"a", "}", "~", "b"}) {
    caller->Send(key);
    EXPECT_EQ(caller->ReadUntil("*"), "*") << key;
  }
}

TEST_F(NetworkTest, ConfigurationFromALineThatMayNotEditIsRefused) {
  StartStation(7);
  auto caller = Greeted(1);
  const std::string before = File("config.qvs");
  caller->Send("\x01" "3|9|9|9|9|\r\n");
  EXPECT_EQ(caller->ReadUntil("\r\n"), "-=> QVS-00: Insufficient Security Clearance.\r\n");
  caller->Send("\x01" "5|421|1|2|3|\r\n");
  EXPECT_EQ(caller->ReadUntil("\r\n"), "-=> QVS-00: Insufficient Security Clearance.\r\n");
  EXPECT_EQ(File("config.qvs"), before);
  Greeted(2);  // still on the old ports
}

TEST_F(NetworkTest, AListenerThatCannotOpenEndsTheStation) {
  for (const bool mainBlocked : {true, false}) {
    ScratchDirectory scratch;
    scratch.Enter();
    StationPorts ports;
    testing::WriteStationConfig(ports, 7);
    const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(mainBlocked ? ports.main : ports.line0));
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    Station station(TELLARIUM_BINARY, scratch.path().string());
    const int status = station.WaitForExit();
    ::close(holder);
    EXPECT_GT(status, 0);
    EXPECT_EQ(testing::ReadFile(scratch.path() / "stderr.txt"),
              mainBlocked ? "The main ports failed to initialize.\n" : "Line 0 failed to initialize.\n");
  }
}

// A caller typing 50 MB without an end, and one that never reads what it
// makes the station send, leave the station small and serving others.
TEST_F(NetworkTest, MemoryStaysBoundedUnderAbuse) {
#ifdef TELLARIUM_SANITIZED
  GTEST_SKIP() << "resident memory under sanitizers says nothing about the station";
#endif
  StartStation(7);
  auto typist = Greeted(1);
  auto sink = Greeted(2);
  typist->Send("\r\n");
  sink->Send("\r\n");
  typist->ReadUntil("-->");
  const std::string chunk(1 << 20, 'x');
  for (int mb = 0; mb < 50; ++mb) ASSERT_TRUE(typist->Send(chunk));
  // Each reprint key sends the line back erased and printed again.
  const std::string reprint = "\x15" + std::string(30000, 'y');
  std::thread flood([&] {
    for (int i = 0; i < 300 && sink->Send(reprint); ++i) {
    }
  });
  typist->ReadUntil(std::string(32768, '*'));
  flood.join();
  auto other = Greeted(3);
  other->Send("\r\n");
  EXPECT_EQ(other->ReadUntil("-->"), "Welcome to Tellarium QVS-00\r\nEnter PASSWORD or <RETURN>\r\n-->");
  const long residentKb = station_->ResidentKb();
  RecordProperty("resident_kb", std::to_string(residentKb));
  EXPECT_GT(residentKb, 0);
  EXPECT_LT(residentKb, 64 * 1024);
}

std::size_t OpenDescriptors(pid_t pid) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    ++count;
  }
  return count;
}

// Callers that drop in every state, some in the middle of a telnet command
// or sending NUL and 255 bytes: every line comes free again and the
// station's descriptors do not pile up.
TEST_F(NetworkTest, DroppedCallersFreeTheirLines) {
  StartStation(7);
  const std::vector<std::string> lastWords = {
      "", "\r\n", "\r\nsecr", IAC + DO, IAC, IAC + "\xfa\x18\x00", std::string("\x00\xff\xff\x00", 4), "\x1b\x15\b",
      "\x01V", "\x02half"};
  Greeted(1)->Close();
  // Each caller is let in (greeted or refused) before the next one dials, so
  // the listen queue never overflows and no dial waits for a retry.
  for (int round = 0; round < 200; ++round) {
    std::vector<std::unique_ptr<Caller>> wave;
    for (const std::string& words : lastWords) {
      wave.push_back(std::make_unique<Caller>(ports_.main));
      ASSERT_NE(wave.back()->ReadUntil("\r\n"), "") << "round " << round;
      if (!words.empty()) wave.back()->Send(words);
    }
  }
  // Once the station has seen every close, the first caller gets line 1 again.
  for (int attempt = 0; attempt < 200; ++attempt) {
    Caller next(ports_.main);
    if (next.ReadUntil(kPressEnter) == Greeting(1)) {
      EXPECT_LT(OpenDescriptors(station_->pid()), 64u);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  FAIL() << "the lines were not freed";
}

// --- in-process, with real controls ------------------------------------------------

TEST(ListenerRestart, GroupFiveMovesTheListenersWhileRunning) {
  ScratchDirectory scratch;
  scratch.Enter();
  StationPorts before;
  testing::WriteStationConfig(before, 7);
  Server server;
  server.CreateControls();
  server.Startup();
  Caller first(before.main, true);  // its reads run the server
  ASSERT_TRUE(first.connected());
  EXPECT_EQ(first.ReadUntil(kPressEnter, std::chrono::seconds(10)), Greeting(1));

  StationPorts after;
  server.cfgparse("\x01" "5|421|" + std::to_string(after.line0) + "|" + std::to_string(after.main) + "|7|");
  platform::Pump();
  EXPECT_FALSE(Caller(before.main).connected());
  EXPECT_FALSE(Caller(before.line0).connected());
  Caller moved(after.main, true);
  ASSERT_TRUE(moved.connected());
  EXPECT_EQ(moved.ReadUntil(kPressEnter, std::chrono::seconds(10)), Greeting(2));
  Caller zero(after.line0, true);
  ASSERT_TRUE(zero.connected());
  EXPECT_EQ(zero.ReadUntil(kPressEnter, std::chrono::seconds(10)), Greeting(0));
}

}  // namespace
}  // namespace tellarium
