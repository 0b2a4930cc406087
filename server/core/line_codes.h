// The station's line vocabulary: what a line is doing (its status and the
// substate that goes with each status), how a text is sent to it (output
// modes), the standard answers, the announcement kinds and the accounts that
// are marks rather than numbers. Call sites use these names, never the digits.
#pragma once

#include <cstdint>
#include <string_view>

namespace tellarium {

// LineState::status.
enum LineStatus : int16_t {
  kOffline = 0,
  kLoggingIn = 1,
  kChatUser = 2,
  kDDialLink = 3,
  kQvsLink = 4,
  kOutdial = 5,
  kSysopScreen = 6,
  kUserScreen = 7,
  // From here on output to the line skips the caret translation.
  kUntranslatedStatus = 90,
};

// Substates of a line logging in (kLoggingIn).
enum LoginSubstate : int16_t {
  kAwaitingEnter = 0,    // greeted, not yet answered
  kPasswordEntry = 1,    // the password prompt is shown
  kLoginLineTaken = 2,   // a typed line went to the login
  kDuplicateClosed = 4,  // refused as a duplicate, its connection closing
  kLoginTimedOut = 5,    // not logged in in time, its connection closing
};

// Substates of a chat user (kChatUser): where it is, or why it is leaving.
enum ChatSubstate : int16_t {
  kOnChannel = 0,
  kKilled = 2,           // ended by a SysOp's kill
  kTimeLimitWarned = 3,  // time is up: the next TimeoutTimer tick logs the line off
  kRelogPending = 4,     // the next input restarts the login; a logoff now is a relog
  kInPrivateChat = 5,    // with pairedLine
  kInConference = 6,     // channel holds the conference number
};

// Substates of a D-Dial link (kDDialLink): its kind, or its time is up.
enum DDialSubstate : int16_t {
  kDdlLink = 0,  // single channel
  kDclLink = 1,  // dual channel
  kQvlLink = 2,  // multi-channel
  kDDialTimeLimit = 3,
};

// Substates of a link of the station's own protocol (kQvsLink).
enum QvsSubstate : int16_t {
  kQvsKind = 0,
  kQv2Kind = 1,
  kQvsTimeLimit = 2,
};

// Substates of the two lines of a terminal session (kOutdial).
enum OutdialSubstate : int16_t {
  kOutdialOnline = 0,
  kOutdialPending = 1,    // the outdial side is connecting
  kInRemote = 2,          // the user side, relaying to pairedLine
  kOutdialConnected = 3,  // the outdial side, relaying to pairedLine
  kRemoteExited = 4,      // the user left; the outdial side waits as a link
  kPairedTarget = 5,      // paired by an operator: its input goes back to pairedLine
};

// A logoff with this substate (whatever the status) is the caller's own.
constexpr int16_t kNormalLogoff = 0;

// Line kinds (LineState::lineType).
enum LineKind : int16_t { kClientLine = 1, kTelnetLine = 2 };

// How send and the backlog format a text for a line.
enum OutputMode : int16_t {
  kChatMode = 0,          // as it is, plus a line break with line spacing on
  kPrivateMode = 1,       // after the private-message bell, when it is on
  kPostMode = 2,          // as it is
  kSilentMode = 3,        // nothing (so are 12 and any mode not named here)
  kStationMode = 4,       // after the station prefix: answers to commands
  kLogoffNoticeMode = 5,  // "Logoff Due to:" after the station prefix
  kNoticeMode = 6,        // after the station prefix: notices and announcements
  kConfigPacketMode = 7,  // a client packet of code 1
  kAccountPacketMode = 8,  // a client packet of code 2
  kEditorDataMode = 9,    // a client packet of code 1 carrying editor data
  kLoginNoticeMode = 10,  // after the station prefix and the login bell, when it is on
  kRawMode = 11,          // as it is
};

// The nine standard answers (Response).
enum ResponseCode : int16_t {
  kUnrecognizedCommand = 0,
  kInsufficientClearance = 1,
  kIncompleteFunction = 2,
  kInvalidFormat = 3,
  kDone = 4,
  kInvalidLine = 5,
  kMessageNotEnabled = 6,
  kInvalidUserAccount = 7,
  kNotOnline = 8,
};

// What Loginout announces.
enum Announcement : int16_t {
  kLoginAnnouncement = 1,
  kLogoffAnnouncement = 2,
};

// Account texts that are marks rather than member numbers.
constexpr std::string_view kGuestAccount = "N/A";
constexpr std::string_view kSysOpAccount = "000";

}  // namespace tellarium
