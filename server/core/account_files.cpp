// Account files "userNNN.qvs": the current account, its text form for the
// graphical client, and the account index built at start.
#include <array>

#include "server/core/packet_fields.h"
#include "server/core/record_file.h"
#include "server/core/record_layouts.h"
#include "server/core/server.h"
#include "server/core/text_fields.h"

namespace tellarium {
namespace {

// The text form lists the flags in this order.
constexpr std::array<int, kAccountFlagCount> kTextFormFlagOrder{0, 3, 7, 8, 6, 9, 10, 1, 5, 2, 4};

// The default SysOp account logs in as a chat user (flag 1) besides flags 0, 2 and 3.
constexpr std::array<int, 4> kSysOpFlags{kFlagInUse, kFlagChatUser, kFlagMayLink, 3};

// An account without a file is not in use. Its date and time texts stay as
// the previous read left them.
void MakeEmptyAccount(UserRecord& a, int16_t acc) {
  a.flags = {};
  a.handle = "User #" + Server::afix(acc);
  a.password = "";
  a.profile1 = a.profile2 = a.profile3 = "";
  a.profile4 = "";
  a.profile5 = "";
  a.profile6 = "";
  a.level = 0;
  a.profileNumber = a.counter1 = a.counter2 = a.mailStored = a.counter3 = 0;
}

PacketFields AccountTextFields(UserRecord& a) {
  auto text = [](auto& field) { return TextField([&field]() -> auto& { return field; }, Trimming::kBoth); };
  PacketFields fields{
      Int16Field([&a]() -> int16_t& { return a.level; }),
      text(a.profile2),
      text(a.profile3),
      Int32Field([&a]() -> int32_t& { return a.profileNumber; }),
      text(a.profile4),
  };
  for (int flag : kTextFormFlagOrder) {
    fields.push_back(FlagField([&a, flag]() -> bool& { return a.flags[static_cast<std::size_t>(flag)]; }));
  }
  for (PacketField field : {text(a.handle), text(a.password), text(a.profile1), text(a.profile5), text(a.profile6)}) {
    fields.push_back(std::move(field));
  }
  return fields;
}

}  // namespace

UserRecord Server::ReadAccount(int16_t acc) {
  const SharedBufferHold hold;
  uread(acc);
  return currentAccount;
}

std::string Server::AutobiographyHeading(int16_t acc, const UserRecord& account) {
  return "Autobiography for User #" + afix(acc) + ":" + account.handle.Trimmed() + "^Last Call " +
         dte(account.lastCallDate.Raw()) + " at " + tme(account.lastCallTime.Raw()) + ".";
}

std::optional<std::string> Server::StoredAutobiography(int16_t acc) {
  const std::string stored = ReadRecord(AccountFile(acc), kAutobiographyRecord);
  if (stored.empty() || stored[0] != kAutobiographyMark) return std::nullopt;
  return std::string(TrimRight(std::string_view(stored).substr(1)));
}

std::string Server::MailCheckedText(int16_t acc, const UserRecord& account) {
  return "User #" + afix(acc) + ":" + account.handle.Trimmed() + "^Last checked mail " +
         dte(account.lastMailDate.Raw()) + " at " + tme(account.lastMailTime.Raw());
}

std::string Server::MessagesWaiting(int32_t stored) {
  return stored == 1 ? "^Has 1 message waiting." : "^Has " + std::to_string(stored) + " messages waiting.";
}

std::string Server::afix(int16_t acc) {
  std::string text;
  if (acc < 10) text += "0";
  if (acc < 100) text += "0";
  return text + std::to_string(acc);
}

DataFile Server::AccountFile(int16_t acc) { return {"user" + afix(acc) + ".qvs", kAccountRecordLength}; }

void Server::uread(int16_t acc) {
  const ErrorTrap trap = Trap("uread");
  trap([&] {
    const DataFile file = AccountFile(acc);
    if (FileExists(file.name)) {
      GetRecord<UserRecordLayout>(file, kAccountRecord, currentAccount);
    } else {
      MakeEmptyAccount(currentAccount, acc);
    }
  });
}

void Server::uwrite(int16_t acc) {
  const ErrorTrap trap = Trap("uwrite");
  trap([&] {
    const DataFile file = AccountFile(acc);
    PutRecord<UserRecordLayout>(file, kAccountRecord, currentAccount);
  });
}

std::string Server::uassemble() {
  const ErrorTrap trap = Trap("uassemble");
  std::string form;
  for (const PacketField& field : AccountTextFields(currentAccount)) trap([&] { form += field.assemble() + "|"; });
  return form;
}

void Server::uparse(std::string a) {
  const ErrorTrap trap = Trap("Uparse");
  FieldCutter cutter(a);
  for (const PacketField& field : AccountTextFields(currentAccount)) {
    std::optional<std::string> text = cutter.Next();
    if (!text) return;
    // An empty field reads as one blank.
    if (text->empty()) *text = " ";
    trap([&] { field.parse(*text); });
  }
}

void Server::WriteDefaultSysOpAccount() {
  const SharedBufferHold hold;
  currentAccount = UserRecord{};
  currentAccount.level = 4;
  currentAccount.handle = "SysOp";
  currentAccount.password = "zarvo";
  for (int flag : kSysOpFlags) currentAccount.flags[static_cast<std::size_t>(flag)] = true;
  uwrite(0);
}

void Server::IndexAccount(int16_t acc) {
  const SharedBufferHold hold;
  // Cleared first, so an account file that cannot be read is not indexed
  // under the previous account's name.
  currentAccount.flags[kFlagInUse] = false;
  uread(acc);
  if (!currentAccount.flags[kFlagInUse]) return;
  AccountIndexEntry& entry = accountIndex[static_cast<std::size_t>(acc)];
  entry.inUse = true;
  entry.name = currentAccount.handle.Trimmed();
  ++accountCount;
}

}  // namespace tellarium
