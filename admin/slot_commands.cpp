// slots and slot: the records of mslots.qvs, each named by its key.
#include <ostream>

#include "admin/record_fields.h"
#include "server/core/server.h"

namespace tellarium::admin {
namespace {

const std::set<std::string_view> kSettable{"text", "title", "slotAccount", "enabled"};

// The station reads a slot past the end of the file (the last key's, which
// start-up does not write) as a blank one.
StoredRecord StoredSlot(int16_t number, MessageSlot& slot) {
  return Stored<MessageSlotLayout>(kSlotFile, number, slot, {}, PastEnd::kBlank);
}

int16_t SlotNumber(std::string_view key) {
  const int16_t number = Server::Sltchk(key);
  if (number < 1) throw UsageError("A slot key is 0-9, A-Z or one of !@#$%&*()<, not \"" + std::string(key) + "\".");
  return number;
}

}  // namespace

void SlotsCommand(const CommandCall& call) {
  if (!call.args.empty()) throw UsageError("slots takes nothing.");
  for (int16_t number = 1; !Server::RvsSltChk(number).empty(); ++number) {
    MessageSlot slot;
    StoredSlot(number, slot);
    call.console.out << Server::RvsSltChk(number) << '\t' << slot.slotAccount << '\t'
                     << (slot.enabled ? "true" : "false") << '\t' << slot.title.Trimmed() << '\n';
  }
}

void SlotCommand(const CommandCall& call) {
  if (call.args.empty()) throw UsageError("slot takes a slot key.");
  MessageSlot slot;
  std::vector<StoredRecord> records{StoredSlot(SlotNumber(call.args[0]), slot)};
  if (call.args.size() == 1) return ShowRecords(call.console.out, records);
  if (call.args.size() != 4 || call.args[1] != "set") throw UsageError("slot KEY takes nothing, or set FIELD VALUE.");
  const std::string field = call.args[2] == "owner" ? "slotAccount" : call.args[2];
  SetField(records, kSettable, field, call.args[3]);
}

}  // namespace tellarium::admin
