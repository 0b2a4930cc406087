// The real binary, started in a scratch directory: the files it creates,
// byte by byte, and what it prints.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <ctime>

#include "support/scratch_directory.h"
#include "support/station_client.h"

namespace tellarium {
namespace {

constexpr char kFirstStartOutput[] =
    "Writing default SysOp account...\r\n"
    "Configuring MSlots...\r\n"
    "Creating MSlots...\r\n"
    "Loading data files.\r\n"
    "Loading system log.\r\n"
    "Loading last 10 callers.\r\n"
    "Initializing Accounts...\r\n"
    " Account # 999\r\n";

const std::string kLaterStartOutput = testing::kLaterStartProgress + " Account # 999\r\n";

std::string Padded(const std::string& text, std::size_t width) { return text + std::string(width - text.size(), ' '); }
std::string Int16Bytes(int value) {
  return {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF)};
}
// True when `text` has the shape of `pattern`, in which "9" stands for any digit.
bool HasShape(const std::string& text, const std::string& pattern) {
  if (text.size() != pattern.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (pattern[i] == '9' ? !digit : text[i] != pattern[i]) return false;
  }
  return true;
}
std::string Zeros(std::size_t count) { return std::string(count, '\0'); }
const std::string kTrue = "\xFF\xFF";
const std::string kFalse = Zeros(2);
const std::string kFirstJanuary1980 = std::string("\x00\x00\x00\x00\x40\x89\xDC\x40", 8);

std::string TodayText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%m-%d-%Y", &local);
  return text;
}

struct Stamp {
  std::string bytes;
  timespec modified;
};

// A station started in an empty directory listens on the default ports 23
// and 420; they need privileges, and only one such station may run at a time
// (ctest keeps these tests apart with a resource lock).
class BinaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::CanBind(23) || !testing::CanBind(420))
      GTEST_SKIP() << "ports 23 and 420 cannot be opened here (not root, or in use)";
  }

  // Starts the binary, waits for the end of start-up and ends it with SIGTERM.
  std::string RunOnce() {
    testing::Station process(TELLARIUM_BINARY, scratch_.path().string(), testing::Station::Output::kPipe);
    EXPECT_TRUE(process.WaitForOutput(" Account # 999\r\n")) << process.output();
    EXPECT_EQ(process.EndWith(SIGTERM), 0);
    return process.output();
  }
  std::string File(const std::string& name) const { return testing::ReadFile(scratch_.path() / name); }
  Stamp StampOf(const std::string& name) const {
    struct stat info {};
    ::stat((scratch_.path() / name).c_str(), &info);
    return {File(name), info.st_mtim};
  }

  testing::ScratchDirectory scratch_;
};

void ExpectSameStamp(const Stamp& before, const Stamp& after, const std::string& name) {
  EXPECT_EQ(after.bytes, before.bytes) << name;
  EXPECT_EQ(after.modified.tv_sec, before.modified.tv_sec) << name;
  EXPECT_EQ(after.modified.tv_nsec, before.modified.tv_nsec) << name;
}

std::string ExpectedChannel(const std::string& name, int capacity, int level, bool flagA) {
  return Padded(name, 40) + Int16Bytes(capacity) + Int16Bytes(0) + Int16Bytes(level) + (flagA ? kTrue : kFalse) + kFalse;
}

std::string ExpectedSlot(int owner, bool enabled, const std::string& title, const std::string& text) {
  return Int16Bytes(owner) + kFirstJanuary1980 + kFalse + kFalse + (enabled ? kTrue : kFalse) + Padded(title, 80) +
         Padded(text, 4096);
}

TEST_F(BinaryTest, FirstStartCreatesTheDefaultFiles) {
  EXPECT_EQ(RunOnce(), kFirstStartOutput);

  const std::string account = File("user000.qvs");
  EXPECT_EQ(account, Padded("SysOp", 40) + std::string(152, ' ') + Int16Bytes(4) + Zeros(4) + Padded("zarvo", 20) +
                         Zeros(16) + std::string(36, ' ') + kTrue + kTrue + kTrue + kTrue + Zeros(14));

  const std::string config = File("config.qvs");
  ASSERT_EQ(config.size(), 20u * 1024 + 50);
  EXPECT_EQ(config.substr(0, 200), Padded("Tellarium QVS-00", 40) + Padded("Tellarium #00", 40) + Padded("Online", 40) +
                                       std::string(80, ' '));
  EXPECT_EQ(config.substr(1024, 10), Int16Bytes(1) + Int16Bytes(2) + Int16Bytes(3) + Int16Bytes(3) + Int16Bytes(0));
  const std::string calls = config.substr(2048, 42);
  EXPECT_EQ(calls.substr(0, 6), Zeros(6));
  EXPECT_TRUE(HasShape(calls.substr(6, 10), "99-99-9999")) << calls;
  EXPECT_TRUE(HasShape(calls.substr(16, 8), "99:99:99")) << calls;
  EXPECT_EQ(calls.substr(24, 8), calls.substr(16, 8));
  EXPECT_EQ(calls.substr(32, 10), calls.substr(6, 10));
  EXPECT_EQ(config.substr(3072, 14), Int16Bytes(60) + Int16Bytes(15) + Int16Bytes(-1) + Int16Bytes(-1) +
                                         Int16Bytes(-1) + Int16Bytes(-1) + Int16Bytes(-1));
  EXPECT_EQ(config.substr(4096, 8), Int16Bytes(7) + Int16Bytes(23) + Int16Bytes(421) + Int16Bytes(420));
  const std::vector<std::string> channels = {
      ExpectedChannel("Main Channel", 30, 0, true),      ExpectedChannel("Gaming", 30, 1, true),
      ExpectedChannel("Main Link", 30, 1, true),         ExpectedChannel("Link Gaming", 30, 1, true),
      ExpectedChannel("Private #1", 2, 1, true),         ExpectedChannel("Private #2", 2, 1, true),
      ExpectedChannel("Channel 7", 30, 1, true),         ExpectedChannel("Channel 8", 30, 1, true),
      ExpectedChannel("SysOp Conference", 30, 2, true),
  };
  for (std::size_t c = 0; c < 16; ++c) {
    const std::string expected = c < channels.size() ? channels[c] : ExpectedChannel("", 0, 0, false);
    EXPECT_EQ(config.substr((5 + c) * 1024, 50), expected) << "channel " << c + 1;
  }

  const std::string slots = File("mslots.qvs");
  ASSERT_EQ(slots.size(), 45u * 4192);
  auto slot = [&](int record) { return slots.substr(static_cast<std::size_t>(record - 1) * 4192, 4192); };
  const std::string freeSlot = ExpectedSlot(-1, false, "Private Message", "No Message.");
  for (int record = 1; record <= 45; ++record) {
    if (record == 37 || record == 38 || record == 39 || record == 45) continue;
    EXPECT_EQ(slot(record), freeSlot) << "record " << record;
  }
  EXPECT_EQ(slot(37), ExpectedSlot(0, true, "Login Message", "Welcome to Tellarium QVS-00"));
  EXPECT_EQ(slot(38), ExpectedSlot(0, true, "Member Post-Login Message", "Welcome back, Member."));
  EXPECT_EQ(slot(39), ExpectedSlot(0, true, "Non-Member Post-Login Message", "Welcome Non-Member.^For Help type /?"));
  EXPECT_EQ(slot(45), ExpectedSlot(0, true, "Logoff message",
                                   "Thank you for calling Tellarium QVS-00^Call again soon!"));
  EXPECT_FALSE(std::filesystem::exists(scratch_.path() / "error.log"));
}

TEST_F(BinaryTest, SecondStartLoadsTheFilesAndRewritesNoneOnTheSameDay) {
  RunOnce();
  const std::string today = TodayText();
  const Stamp account = StampOf("user000.qvs"), config = StampOf("config.qvs"), slots = StampOf("mslots.qvs");
  EXPECT_EQ(RunOnce(), kLaterStartOutput);
  if (TodayText() != today) GTEST_SKIP() << "the day changed during the test";
  ExpectSameStamp(account, StampOf("user000.qvs"), "user000.qvs");
  ExpectSameStamp(config, StampOf("config.qvs"), "config.qvs");
  ExpectSameStamp(slots, StampOf("mslots.qvs"), "mslots.qvs");
}

TEST_F(BinaryTest, NewDayRewritesOnlyTheCallRecord) {
  RunOnce();
  std::string config = File("config.qvs");
  config.replace(2048, 6, std::string("\x09\x00\x00\x00\x05\x00", 6));
  config.replace(2048 + 32, 10, "01-01-2000");
  testing::WriteFile(scratch_.path() / "config.qvs", config);
  RunOnce();
  const std::string after = File("config.qvs");
  ASSERT_EQ(after.size(), config.size());
  EXPECT_EQ(after.substr(2048, 6), std::string("\x09\x00\x00\x00\x00\x00", 6));
  EXPECT_EQ(after.substr(2048 + 6, 18), config.substr(2048 + 6, 18));  // the last call stays
  EXPECT_NE(after.substr(2048 + 32, 10), "01-01-2000");
  EXPECT_EQ(after.substr(2048 + 32, 10), TodayText());
  EXPECT_EQ(after.substr(0, 2048), config.substr(0, 2048));
  EXPECT_EQ(after.substr(2048 + 42), config.substr(2048 + 42));
}

}  // namespace
}  // namespace tellarium
