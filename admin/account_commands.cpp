// accounts and account: record 1 of each account file userNNN.qvs.
#include <termios.h>
#include <unistd.h>

#include <istream>
#include <ostream>

#include "admin/record_fields.h"
#include "server/core/record_file.h"
#include "server/core/server.h"

namespace tellarium::admin {
namespace {

// The counters, the mail count and the dates are the station's; the password
// is set by its own command, so that it never stands on a command line.
const std::set<std::string_view> kSettable = [] {
  std::set<std::string_view> names{"handle",   "profile1", "profile2", "profile3",
                                   "profile4", "profile5", "profile6", "level",    "profileNumber"};
  names.insert(kAccountFlagNames.begin(), kAccountFlagNames.end());
  return names;
}();

// Fields whose change reaches the station's member list only at its next start.
bool ListedField(std::string_view name) { return name == "handle" || name == kAccountFlagNames[kFlagInUse]; }

constexpr int16_t kNewMemberLevel = 1;

int16_t AccountNumber(std::string_view text) {
  const bool digits = !text.empty() && text.size() <= 3 &&
                      text.find_first_not_of("0123456789") == std::string_view::npos;
  if (!digits) throw UsageError("An account number is 000 to 999, not \"" + std::string(text) + "\".");
  return static_cast<int16_t>(std::stoi(std::string(text)));
}

void NoteOnlineMember(const CommandCall& call, int16_t acc) {
  NoteWhileStationRuns(call, "if member " + Server::afix(acc) +
                                 " is online, the station writes this account again at that member's logoff.");
}

void NoteMemberList(const CommandCall& call) {
  NoteWhileStationRuns(call, "the member list shows this at the station's next start.");
}

// Echo off while a password is typed on a terminal; restored however it ends.
class HiddenTyping {
 public:
  explicit HiddenTyping(bool terminal) : active_(terminal && ::tcgetattr(STDIN_FILENO, &saved_) == 0) {
    if (!active_) return;
    termios hidden = saved_;
    hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
  }
  ~HiddenTyping() {
    if (active_) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
  }
  HiddenTyping(const HiddenTyping&) = delete;
  HiddenTyping& operator=(const HiddenTyping&) = delete;

 private:
  termios saved_{};
  bool active_;
};

std::string ReadPassword(Console& console) {
  if (console.inputIsTerminal) console.err << "New password: " << std::flush;
  std::string password;
  {
    const HiddenTyping hidden(console.inputIsTerminal);
    if (!std::getline(console.in, password)) throw AdminError("No password was given.");
  }
  if (console.inputIsTerminal) console.err << '\n';
  if (!password.empty() && password.back() == '\r') password.pop_back();
  if (password.empty()) throw AdminError("A password cannot be empty.");
  return password;
}

void AddAccount(const CommandCall& call, int16_t acc) {
  const DataFile file = Server::AccountFile(acc);
  if (FileExists(file.name)) {
    throw AdminError("Account " + Server::afix(acc) + " has a file already; set its inUse flag to bring it back.");
  }
  if (call.args.size() > 3) throw UsageError("account NNN add takes one HANDLE (quote a handle with blanks).");
  UserRecord account;
  account.handle = CheckedText("handle", call.args.size() == 3 ? call.args[2] : "User #" + Server::afix(acc),
                               decltype(account.handle)::kWidth);
  account.level = kNewMemberLevel;
  account.flags[kFlagInUse] = account.flags[kFlagChatUser] = true;
  WriteStoredBytes(file, kAccountRecord, Encode<UserRecordLayout>(account));
  call.console.out << "Account " << Server::afix(acc) << " added; give it a password with: account "
                   << Server::afix(acc) << " password\n";
  NoteMemberList(call);
}

void ChangeAccount(const CommandCall& call, int16_t acc) {
  UserRecord account;
  std::vector<StoredRecord> records;
  records.push_back(Stored<UserRecordLayout>(Server::AccountFile(acc), kAccountRecord, account));
  const std::string& action = call.args[1];
  if (action == "set" && call.args.size() == 4) {
    SetField(records, kSettable, call.args[2], call.args[3]);
    if (ListedField(call.args[2])) NoteMemberList(call);
  } else if (action == "disable" && call.args.size() == 2) {
    SetField(records, kSettable, kAccountFlagNames[kFlagInUse], "false");
    NoteMemberList(call);
  } else if (action == "password" && call.args.size() == 2) {
    account.password = CheckedText("password", ReadPassword(call.console), decltype(account.password)::kWidth);
    records.front().write();
  } else {
    throw UsageError("account NNN takes set FIELD VALUE, add [HANDLE], disable or password.");
  }
  NoteOnlineMember(call, acc);
}

}  // namespace

void AccountsCommand(const CommandCall& call) {
  if (!call.args.empty()) throw UsageError("accounts takes nothing.");
  for (int16_t acc = 0; acc < kAccountCount; ++acc) {
    const DataFile file = Server::AccountFile(acc);
    if (!FileExists(file.name)) continue;
    UserRecord account;
    ReadStored<UserRecordLayout>(file, kAccountRecord, account);
    call.console.out << Server::afix(acc) << '\t' << (account.flags[kFlagInUse] ? "member" : "disabled") << '\t'
                     << account.handle.Trimmed() << '\n';
  }
}

void AccountCommand(const CommandCall& call) {
  if (call.args.empty()) throw UsageError("account takes an account number, 000 to 999.");
  const int16_t acc = AccountNumber(call.args[0]);
  if (call.args.size() >= 2 && call.args[1] == "add") return AddAccount(call, acc);
  if (call.args.size() >= 2) return ChangeAccount(call, acc);
  UserRecord account;
  std::vector<StoredRecord> records;
  records.push_back(Stored<UserRecordLayout>(Server::AccountFile(acc), kAccountRecord, account));
  // The password is not shown.
  std::erase_if(records.front().fields, [](const FieldAccess& field) { return field.name == "password"; });
  ShowRecords(call.console.out, records);
}

}  // namespace tellarium::admin
