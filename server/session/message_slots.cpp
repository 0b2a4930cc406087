// Message slots: 46 records of mslots.qvs, each named by one key character.
// One slot at a time is held, the current slot.
#include <string>

#include "server/core/dates.h"
#include "server/core/record_layouts.h"
#include "server/core/server.h"

namespace tellarium {
namespace {

// Keys of records 37 to 46.
constexpr std::string_view kSignKeys = "!@#$%&*()<";
constexpr int16_t kFirstLetterRecord = 11;
constexpr int16_t kFirstSignRecord = 37;

// The current slot number is one byte; a key that is not one gives -1, which
// does not fit.
uint8_t SlotNumberOf(std::string_view key) {
  const int16_t record = Server::Sltchk(key);
  if (record < 0 || record > 255) Raise(ErrorNumber::kOverflow);
  return static_cast<uint8_t>(record);
}

MessageSlot FreeSlot() {
  MessageSlot slot;
  slot.slotAccount = -1;
  slot.date = kSlotBaseDate;
  slot.title = "Private Message";
  slot.text = "No Message.";
  return slot;
}

void WriteSystemSlot(Server& server, std::string_view key, std::string_view title, const std::string& text) {
  MessageSlot& slot = server.currentSlot;
  slot = MessageSlot{};
  slot.slotAccount = 0;
  slot.date = kSlotBaseDate;
  slot.enabled = true;
  slot.title = title;
  slot.text = text;
  server.WriteSlot(key);
}

}  // namespace

int16_t Server::Sltchk(std::string_view i) {
  if (i.size() != 1) return -1;
  const char key = Upper(i)[0];
  if (key >= '0' && key <= '9') return static_cast<int16_t>(key - '0' + 1);
  if (key >= 'A' && key <= 'Z') return static_cast<int16_t>(key - 'A' + kFirstLetterRecord);
  const auto sign = kSignKeys.find(key);
  return sign == std::string_view::npos ? int16_t{-1} : static_cast<int16_t>(kFirstSignRecord + sign);
}

std::string Server::RvsSltChk(int16_t sl) {
  if (sl >= 1 && sl < kFirstLetterRecord) return std::string(1, static_cast<char>('0' + sl - 1));
  if (sl >= kFirstLetterRecord && sl < kFirstSignRecord) return std::string(1, static_cast<char>('A' + sl - kFirstLetterRecord));
  if (sl >= kFirstSignRecord && sl < kFirstSignRecord + static_cast<int16_t>(kSignKeys.size())) {
    return std::string(1, kSignKeys[static_cast<std::size_t>(sl - kFirstSignRecord)]);
  }
  return "";
}

void Server::ReadSlot(std::string_view sl) {
  const ErrorTrap trap = Trap("Read Slot");
  trap([&] {
    const uint8_t number = SlotNumberOf(sl);
    MessageSlot slot;
    GetRecord<MessageSlotLayout>(kSlotFile, number, slot);
    currentSlotNumber = number;
    currentSlot = std::move(slot);
  });
}

void Server::WriteSlot(std::string_view sl) {
  const ErrorTrap trap = Trap("Write Slot");
  trap([&] {
    const uint8_t number = SlotNumberOf(sl);
    currentSlotNumber = number;
    PutRecord<MessageSlotLayout>(kSlotFile, number, currentSlot);
  });
}

// Records 1 to 45 start free; then the four system slots are written by key.
void Server::CreateSlotFile(const ErrorTrap& trap) {
  currentSlot = FreeSlot();
  for (int32_t record = 1; record <= kSlotRecordsCreated; ++record) {
    trap([&] { PutRecord<MessageSlotLayout>(kSlotFile, record, currentSlot); });
  }
  const std::string station = stationName + " QVS-" + stationNumber;
  WriteSystemSlot(*this, "!", "Login Message", "Welcome to " + station);
  WriteSystemSlot(*this, "@", "Member Post-Login Message", "Welcome back, Member.");
  WriteSystemSlot(*this, "#", "Non-Member Post-Login Message", "Welcome Non-Member.^For Help type /?");
  WriteSystemSlot(*this, ")", "Logoff message", "Thank you for calling " + station + "^Call again soon!");
}

}  // namespace tellarium
