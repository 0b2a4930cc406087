// The command handlers by group, as the command table names them. Each takes
// the server and the line whose command it answers; the command text (the
// line's input without its "/") is CommandText.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "server/core/server.h"

namespace tellarium {

// The channels callers tune to and operators force them to.
constexpr int32_t kFirstTunableChannel = 1;
constexpr int32_t kLastTunableChannel = 9;

// command_stack.cpp: what handlers of every group share.
std::string& CommandText(Server& server, int16_t line);
// A mode-4 message and its line break.
void Answer(Server& server, int16_t line, const std::string& text);
// The command text from its (n+1)th character on; nothing when it is shorter.
std::string TextAfter(const std::string& text, std::size_t n);

// screens.cpp: "?", "*?", "I" and the information screens.
void MainMenuCommand(Server& server, int16_t line);
void SysopMenuCommand(Server& server, int16_t line);
void InformationCommand(Server& server, int16_t line);

// lists.cpp: who was and is on, and the members.
void LastCallersCommand(Server& server, int16_t line);
void TimeCommand(Server& server, int16_t line);
void ShowCommand(Server& server, int16_t line);
void MemberListCommand(Server& server, int16_t line);
void MemberListContinueCommand(Server& server, int16_t line);
void AddressListCommand(Server& server, int16_t line);

// own_settings.cpp: a caller's own line.
void AutobiographyCommand(Server& server, int16_t line);
void HandleCommand(Server& server, int16_t line);
void BeepsCommand(Server& server, int16_t line);
void LineSpacingCommand(Server& server, int16_t line);
void PrivateBeepCommand(Server& server, int16_t line);
void LoginBeepCommand(Server& server, int16_t line);
void QuitCommand(Server& server, int16_t line);
void PostCommand(Server& server, int16_t line);

// chat_places.cpp: channels, private messages, private chat and conferences.
void TuneCommand(Server& server, int16_t line);
void PrivateMessageCommand(Server& server, int16_t line);
void ChatOrConferenceCommand(Server& server, int16_t line);

// mail_and_slots.cpp: e-mail and the message slots.
void EmailCommand(Server& server, int16_t line);
void MessageSlotCommand(Server& server, int16_t line);

// sysop.cpp: the operators' commands and the editor data of the graphical client.
void KillCommand(Server& server, int16_t line);
void GiveCommand(Server& server, int16_t line);
void ValidateCommand(Server& server, int16_t line);
// "R" d "L" and "R" d "K", on the line the remote dispatch resolved.
void RelogCommand(Server& server, int16_t line, int16_t target);
void ProtectionCommand(Server& server, int16_t line, int16_t target);
void ForceChannelCommand(Server& server, int16_t line);
void ViewLogCommand(Server& server, int16_t line);
void ResetLogCommand(Server& server, int16_t line);
void ReloadFilesCommand(Server& server, int16_t line);
void StationIdCommand(Server& server, int16_t line);
void OutdialCommand(Server& server, int16_t line);
void SlotEditorCommand(Server& server, int16_t line);
void ChannelEditorCommand(Server& server, int16_t line);
void StationEditorCommand(Server& server, int16_t line);
void LineEditorCommand(Server& server, int16_t line);
void UserEditorCommand(Server& server, int16_t line);

// remote.cpp: "R" d and a letter: remote a line as a link, relog, protect.
void RemoteCommand(Server& server, int16_t line);

}  // namespace tellarium
