#include "server/core/held_output.h"

#include <gtest/gtest.h>

namespace tellarium {
namespace {

constexpr char kMark = HeldOutput::kEndMark;

TEST(HeldOutput, ReleasesMessagesInOrderWithTheLineBreakInFrontOfTheNext) {
  HeldOutput held;
  held.Append(std::string("first") + kMark + "\r\n");  // output mode 0 with line spacing
  held.Append(std::string("second") + kMark + "\r\n");
  ASSERT_EQ(held.MessageCount(), 2u);
  EXPECT_EQ(held.TakeFirst(), "first");
  EXPECT_EQ(held.TakeFirst(), "\r\nsecond");
  EXPECT_FALSE(held.HasMessage());
  held.Append(std::string("third") + kMark);
  EXPECT_EQ(held.TakeFirst(), "\r\nthird");
}

TEST(HeldOutput, ByteTypedByACallerDoesNotSplitItsMessage) {
  HeldOutput held;
  held.Append(std::string("a") + kMark + "b" + kMark);
  ASSERT_EQ(held.MessageCount(), 1u);
  EXPECT_EQ(held.TakeFirst(), std::string("a") + kMark + "b");
}

TEST(HeldOutput, DropsTheOldestWholeMessagesPastItsCapacity) {
  HeldOutput held;
  const std::string block(1000, 'x');
  for (int i = 0; i < 1000; ++i) held.Append(std::to_string(i) + block + kMark);
  EXPECT_LE(held.Bytes(), HeldOutput::kCapacityBytes);
  const std::string first = held.TakeFirst();
  EXPECT_NE(first.rfind("0x", 0), 0u);  // message 0 is gone
  EXPECT_EQ(first.substr(first.size() - 5), "xxxxx");
  std::string last;
  while (held.HasMessage()) last = held.TakeFirst();
  EXPECT_EQ(last.rfind("999", 0), 0u);
}

}  // namespace
}  // namespace tellarium
