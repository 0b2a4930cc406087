// E-mail between members (reading, status, sending, replying) and the message
// slots (the owner list, reading and editing).
#include <string>

#include "platform/clock.h"
#include "server/commands/command_groups.h"
#include "server/core/dates.h"
#include "server/core/record_file.h"
#include "server/core/record_layouts.h"
#include "server/core/server.h"
#include "server/core/text_fields.h"

namespace tellarium {
namespace {

constexpr int16_t kMailLevel = 1;
constexpr int16_t kSlotEditorLevel = 3;
constexpr std::size_t kMailBodyStart = 4;  // "E012" and then the text
constexpr std::size_t kSlotTextStart = 3;  // "MA=" and then the text

enum EmailKind : int16_t { kLocalEmail = 0, kLinkEmail = 1, kDDialEmail = 2 };
constexpr int16_t kDDialStationsBelow = 200;
constexpr int16_t kLinkedStationsBelow = 300;

// The sender line, and for mail from another station the line telling where.
std::string SenderLines(const EmailRecord& email, const std::string& br) {
  const std::string from = email.fromHandle.TrimmedRight() + " #" + email.fromAccount.Raw() + br;
  const std::string station = std::to_string(email.fromStation);
  switch (email.fromKind) {
    case kLinkEmail: return "Tellarium Link Email From: " + from + "Located at QVS-" + station + br;
    case kDDialEmail:
      if (email.fromStation < kDDialStationsBelow) return "D-Dial Email From: " + from + "Located at D-Dial #" + station + br;
      if (email.fromStation < kLinkedStationsBelow) {
        return "D-Dial Email From: " + from + "Located at Tellarium #" + station + br;
      }
      return "D-Dial Email From: " + from;
    default: return "Local Email From: " + from;
  }
}

// "E": the next e-mail, counted from the first; the account notes the check.
void ReadEmail(Server& server, int16_t line) {
  LineState& state = server.LineAt(line);
  const int16_t number = state.mailReadIndex == 0 ? 1 : state.mailReadIndex;
  if (state.mailCount == 0 || number > state.mailCount) return Answer(server, line, "No Email.");
  const int16_t acc = Server::AccountNumber(state.account.Raw());
  const std::tm now = platform::LocalNow();
  EmailRecord email;
  {
    const SharedBufferHold hold;
    server.uread(acc);
    server.currentAccount.lastMailDate = DateText(now);
    server.currentAccount.lastMailTime = TimeText(now);
    server.uwrite(acc);
    GetRecord<EmailLayout>(Server::AccountFile(acc), kFirstEmailRecord + number - 1, email);
  }
  state.mailReadIndex = static_cast<int16_t>(number + 1);
  if (email.fromKind < kLocalEmail || email.fromKind > kDDialEmail) email.fromKind = kLocalEmail;
  state.replyAccount = Server::AccountNumber(email.fromAccount.Raw());
  const std::string& br = server.lineBreak;
  Answer(server, line,
         SenderLines(email, br) + "Sent On:" + server.dte(email.sentDate.Raw()) + " at " +
             server.tme(email.sentTime.Raw()) + br + "-> " + email.body.TrimmedRight());
}

// "EC012": when the member last read mail, and how much is stored.
void MailStatus(Server& server, int16_t line, int16_t acc) {
  const UserRecord account = server.ReadAccount(acc);
  if (!account.flags[kFlagInUse]) return Answer(server, line, "No such user.");
  Answer(server, line, server.MailCheckedText(acc, account) + "." + Server::MessagesWaiting(account.mailStored));
}

// "E012 text": stored as the recipient's next e-mail; Esend tells the
// recipient. The answer lets events run, so the buffers are set afresh after it.
void SendEmail(Server& server, int16_t line) {
  const std::string text = CommandText(server, line);
  const std::string digits = text.substr(1, 3);
  if (!Server::MemberNumber(digits)) return server.Response(kInvalidUserAccount, line);
  const int16_t acc = Server::AccountNumber(digits);
  UserRecord recipient;
  {
    const SharedBufferHold hold;
    server.uread(acc);
    recipient = server.currentAccount;
    if (recipient.flags[kFlagInUse]) {
      server.currentAccount.mailStored = ToInt32(int64_t{recipient.mailStored} + 1);
      server.uwrite(acc);
      recipient = server.currentAccount;
    }
  }
  if (!recipient.flags[kFlagInUse]) return server.Response(kInvalidUserAccount, line);
  const LineState& sender = server.LineAt(line);
  const std::tm now = platform::LocalNow();
  EmailRecord email;
  email.fromAccount = sender.account.Raw();
  email.sentDate = DateText(now);
  email.sentTime = TimeText(now).substr(0, 5);
  email.fromHandle = sender.handle.Raw();
  email.body = TextAfter(text, kMailBodyStart);
  email.fromKind = kLocalEmail;
  Answer(server, line, "Email Sent to #" + Server::afix(acc) + ":" + recipient.handle.Trimmed() + ".");
  server.currentAccount = recipient;
  server.currentEmail = email;
  server.Esend(acc);
}

// "M": every enabled slot of 1 to 45 with its key and owner.
void SlotOwnerList(Server& server, int16_t line) {
  std::string list = "MSlot Owner List^^";
  for (int16_t record = 1; record <= kSlotRecordsCreated; ++record) {
    const std::string key = Server::RvsSltChk(record);
    const SharedBufferHold hold;
    server.ReadSlot(key);
    const MessageSlot& slot = server.currentSlot;
    if (!slot.enabled) continue;
    std::string owner = "Not Specified";
    const int16_t acc = slot.slotAccount;
    if (acc >= 0) {
      server.uread(acc);
      owner = server.currentAccount.handle.TrimmedRight();
    }
    list += "/M" + key + ": " + owner + " #" + Server::afix(acc) + "^";
  }
  Answer(server, line, list);
}

MessageSlot SlotOf(Server& server, const std::string& key) {
  const SharedBufferHold hold;
  server.ReadSlot(key);
  return server.currentSlot;
}

// "MA": the slot's text as it is, without the station prefix.
void ShowSlot(Server& server, int16_t line, const std::string& key) {
  const MessageSlot slot = SlotOf(server, key);
  if (!slot.enabled) return server.Response(kMessageNotEnabled, line);
  const std::string& br = server.lineBreak;
  server.send(line, kRawMode, "-=> /M" + key + " <=-" + br + slot.text.TrimmedRight() + br);
}

// "MA=text" writes, "MA=" deletes (the slot stays enabled), "MA+text" adds;
// by a caller of level 3 and above, or the slot's owner.
void EditSlot(Server& server, int16_t line, const std::string& key) {
  const std::string text = CommandText(server, line);
  MessageSlot slot = SlotOf(server, key);
  const LineState& state = server.LineAt(line);
  if (!Server::Clearance(kSlotEditorLevel, state.level) && state.account.Raw() != Server::afix(slot.slotAccount)) {
    return server.Response(kInsufficientClearance, line);
  }
  if (!slot.enabled) {
    Answer(server, line, "Enabling Slot...");
    slot.enabled = true;
  }
  const std::string added = TextAfter(text, kSlotTextStart);
  std::string done;
  if (text[2] == '=' && added.empty()) {
    slot.text = "No Message.";
    done = "Deleted Slot /M" + key + ".";
  } else if (text[2] == '=') {
    slot.text = added;
    done = "Wrote to /M" + key + ".";
  } else if (text[2] == '+') {
    slot.text = slot.text.TrimmedRight() + added;
    done = "Added to /M" + key + ".";
  } else {
    return server.Response(kUnrecognizedCommand, line);
  }
  {
    const SharedBufferHold hold;
    server.currentSlot = slot;
    server.WriteSlot(key);
  }
  Answer(server, line, done);
}

}  // namespace

// Members only. Every "E" but reading needs the account's first flag.
void EmailCommand(Server& server, int16_t line) {
  const LineState& state = server.LineAt(line);
  if (!Server::Clearance(kMailLevel, state.level) || state.account.Raw() == kGuestAccount) {
    return server.Response(kUnrecognizedCommand, line);
  }
  std::string& text = CommandText(server, line);
  if (text.size() == 1) return ReadEmail(server, line);
  if (!state.accountFlags[kFlagInUse]) return Answer(server, line, "Use restricted. Contact your SysOp.");
  const std::string code = Upper(text.substr(0, 2));
  if (code == "EC" && Server::MemberNumber(text.substr(2, 3))) return MailStatus(server, line, Server::AccountNumber(text.substr(2, 3)));
  if (code == "ER") text = "E" + Server::afix(state.replyAccount) + TextAfter(text, 2);
  SendEmail(server, line);
}

// A key the slots do not know is no enabled slot: nothing is read or written.
void MessageSlotCommand(Server& server, int16_t line) {
  const std::string text = CommandText(server, line);
  if (text.size() == 1) return SlotOwnerList(server, line);
  const std::string key = text.substr(1, 1);
  if (Server::Sltchk(key) < 0) return server.Response(kMessageNotEnabled, line);
  if (text.size() == 2) return ShowSlot(server, line, key);
  EditSlot(server, line, key);
}

}  // namespace tellarium
