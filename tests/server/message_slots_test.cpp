#include <gtest/gtest.h>

#include "server/core/field_codec.h"
#include "server/core/record_layouts.h"
#include "support/server_fixture.h"

namespace tellarium {
namespace {

using MessageSlots = testing::ServerTest;

TEST(SlotKeys, TableBothWays) {
  const std::string keys = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ!@#$%&*()<";
  ASSERT_EQ(keys.size(), 46u);
  for (int16_t record = 1; record <= 46; ++record) {
    const std::string key(1, keys[static_cast<std::size_t>(record - 1)]);
    EXPECT_EQ(Server::Sltchk(key), record) << key;
    EXPECT_EQ(Server::RvsSltChk(record), key);
  }
  EXPECT_EQ(Server::Sltchk("m"), 23);
  EXPECT_EQ(Server::Sltchk("M"), 23);
  EXPECT_EQ(Server::Sltchk("<"), 46);
  for (const char* other : {"?", "", "AB", "^", " ", "\xE4"}) EXPECT_EQ(Server::Sltchk(other), -1) << other;
  for (int16_t record : {0, 47, -1, 255}) EXPECT_EQ(Server::RvsSltChk(record), "");
}

TEST_F(MessageSlots, WriteThenReadByKeyAddressesItsRecord) {
  server.currentSlot.slotAccount = 12;
  server.currentSlot.title = "Mine";
  server.currentSlot.enabled = true;
  server.WriteSlot("m");
  EXPECT_EQ(server.currentSlotNumber, 23);
  const std::string file = testing::ReadFile("mslots.qvs");
  ASSERT_EQ(file.size(), 23u * 4192u);
  EXPECT_EQ(file.substr(22 * 4192), Encode<MessageSlotLayout>(server.currentSlot));
  server.currentSlot = MessageSlot{};
  server.ReadSlot("M");
  EXPECT_EQ(server.currentSlot.title.Trimmed(), "Mine");
  EXPECT_EQ(server.currentSlot.slotAccount, 12);
}

TEST_F(MessageSlots, UnknownKeyIsLoggedAndTouchesNothing) {
  server.currentSlot.title = "Kept";
  server.currentSlotNumber = 5;
  server.WriteSlot("?");
  server.ReadSlot("?");
  EXPECT_FALSE(FileExists("mslots.qvs"));
  EXPECT_EQ(server.currentSlot.title.Trimmed(), "Kept");
  EXPECT_EQ(server.currentSlotNumber, 5);
  EXPECT_EQ(ErrorLog(),
            "Routine: Write Slot\r\nError:Overflow ( 6)\r\n"
            "Routine: Read Slot\r\nError:Overflow ( 6)\r\n");
}

TEST_F(MessageSlots, ReadingPastAShortFileGivesAnEmptySlot) {
  testing::WriteFile("mslots.qvs", std::string(4192 + 10, '\x01'));
  server.currentSlot.title = "Old";
  server.ReadSlot("0");
  EXPECT_EQ(server.currentSlot.title.Raw(), std::string(80, '\x01'));
  EXPECT_TRUE(server.currentSlot.enabled);
  server.ReadSlot("1");  // ten bytes of record 2
  EXPECT_EQ(server.currentSlot.slotAccount, 0x0101);
  EXPECT_FALSE(server.currentSlot.enabled);
  EXPECT_EQ(server.currentSlot.title.Trimmed(), "");
  server.ReadSlot("Z");
  EXPECT_EQ(server.currentSlot.slotAccount, 0);
  EXPECT_FALSE(server.currentSlot.enabled);
}

}  // namespace
}  // namespace tellarium
