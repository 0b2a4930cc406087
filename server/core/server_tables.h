// The server's tables: every record it keeps, the capacities, and the
// server-wide values. Routines live on Server (server.h); this header is
// data only.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "server/core/fixed_text.h"
#include "server/core/held_output.h"
#include "server/core/limits.h"
#include "server/core/line_codes.h"

namespace tellarium {

// Capacities.
constexpr int kLineCount = 36;           // line 0 (line #0) and main ports 1..31
constexpr int kMaxMainLines = 31;        // cap on maxLines
constexpr int kChannelCount = 16;        // channel numbers 1..16
constexpr int kAccountCount = 1000;      // accounts 0..999
constexpr int kLastCallerCount = 10;     // entry 0 is the most recent caller
constexpr int kSlotRecordsCreated = 45;  // mslots.qvs records created at start
constexpr int kSystemLogCapacity = 400;  // lines of the system log in memory
constexpr int kLogLinesLoaded = 389;     // lines read back from qvtalk.log
constexpr int kScreenLines = 50;         // lines per screen table
constexpr int kAccountFlagCount = 11;
constexpr int kScreenFormLines = 33;     // lines 0..32 have a telnet screen form
constexpr int kScreenFormFields = 25;    // fields per form
constexpr int kConferenceCount = 500;    // conference numbers 500..999
constexpr int32_t kFirstConference = 500;

// Account flag positions (UserRecord::flags, LineState::accountFlags).
enum AccountFlag : int {
  kFlagInUse = 0,      // the account exists
  kFlagChatUser = 1,   // logs in as a chat user
  kFlagMayLink = 2,    // may use links
  kFlagMayRemote = 4,  // may remote lines as links below level 3
  kFlagLinkTest = 5,   // link permission tested with 6..9
  kFlagDdlLink = 6,
  kFlagDclLink = 7,
  kFlagQvlLink = 8,
  kFlagQvsLink = 9,
};

using AccountFlags = std::array<bool, kAccountFlagCount>;

// One per line, in memory only.
struct LineState {
  FixedText<40> handle;
  FixedText<3> account;
  int16_t status = kOffline;
  int16_t substate = 0;
  std::string editAccount;
  double onlineTime = 0;
  int16_t level = 0;
  int32_t channel = 0;
  int16_t mailCount = 0;
  int16_t mailReadIndex = 0;
  int16_t replyAccount = 0;
  bool clientFlag1 = false;
  bool clientFlag2 = false;
  bool clientFlag3 = false;
  int16_t pairedLine = -1;  // none: -1, since 0 is a line
  FixedText<15> linkChannels;
  int16_t lineType = 0;
  bool lineSpacing = false;
  bool beepFlag = false;
  bool privateMsgBeep = false;
  bool loginBeep = false;
  FixedText<15> remoteAddress;
  bool loginAnnounced = false;
  bool logoffAnnounced = false;
  FixedText<7> clientVersion;
  bool killProtected = false;
  bool unlimitedTime = false;
  int16_t screenFieldCount = 0;
  AccountFlags accountFlags{};
  bool sgaPending = false;
  bool sgaWillAgreed = false;  // suppress-go-ahead, agreed once each way:
  bool sgaDoAgreed = false;    // WILL for the peer's DO, DO for its WILL
  bool echoRequested = false;
  bool echoAgreed = false;
};

// How far a caller's key sequence (ESC "[" ... a final byte, or ESC "O" and
// one character) has come; a sequence may be split between pieces.
struct KeySequence {
  enum class Stage : uint8_t { kNone, kEscape, kControl, kSingleShift } stage = Stage::kNone;
  uint8_t length = 0;  // its bytes so far
};

// What the station keeps of each line's connection beside LineState.
struct LineConnection {
  std::string sessionAddress;              // the station's own address on it
  uint32_t serial = 0;                     // counts the connections the line has taken
  uint32_t loginSerial = 0;                // the connection the last login began on
  int8_t logoffsUnderWay = 0;              // such a line is given to no new caller
  bool afterBareCr = false;                // the last piece ended in a bare CR
  bool echoRefused = false;                // the caller said DONT ECHO: typing is not echoed
  KeySequence keySequence;                 // a key sequence the last piece left open
  bool releasing = false;                  // a held message is on its way out
  std::array<uint8_t, 256> optionsSent{};  // what was last sent about each option
  int16_t statusBeforePairing = 0;         // restored when an operator's pairing ends
  int16_t substateBeforePairing = 0;
  int64_t loginDeadlineMs = 0;             // when a caller not logged in is cut off; 0: never
  // The defences of limits.conf.
  std::string callerAddress;    // whole; empty for the station's own outdial
  bool refused = false;         // turned away at connect: nothing it sends is taken
  int64_t unsentBytes = 0;      // handed to the control and not yet written
  int64_t lateAnswerDueMs = 0;  // a failed login waits for its answer until then; 0: none
  bool answeringLate = false;   // the waited answer is being given
  // A trusted proxy's connection waits for the header naming its caller.
  bool awaitingProxyHeader = false;
  std::string proxyHeader;  // its bytes so far
};

// One member account (the current account buffer); record 1 of its file.
struct UserRecord {
  FixedText<40> handle;
  FixedText<40> profile1;
  FixedText<40> profile2;
  FixedText<40> profile3;
  FixedText<20> profile4;
  FixedText<2> profile5;
  FixedText<10> profile6;
  int16_t level = 0;
  int32_t profileNumber = 0;
  FixedText<20> password;
  int32_t counter1 = 0;
  int32_t counter2 = 0;
  int32_t mailStored = 0;  // e-mail k is record k+2 of the account file
  int32_t counter3 = 0;
  FixedText<10> lastMailDate;
  FixedText<8> lastMailTime;
  FixedText<10> lastCallDate;
  FixedText<8> lastCallTime;
  AccountFlags flags{};
};

struct ChannelInfo {
  FixedText<40> name;
  int16_t capacity = 0;
  int16_t occupancy = 0;
  int16_t requiredLevel = 0;
  bool flagA = false;
  bool flagB = false;
};

// ServerConfig::options: the access levels the SysOp configures.
enum AccessOption : std::size_t {
  kPostingLevel = 0,   // "PS"
  kKillLevel = 1,      // "K"
  kRelogLevel = 2,     // "R" d "L" and "R" d "P"
  kLineEditLevel = 3,  // "AZ" and a line's session data (packet group 1)
};

// The configuration (config.qvs records 1 to 5; channels are in ChannelInfo).
struct ServerConfig {
  // record 1
  FixedText<40> stationTitle;
  std::array<FixedText<40>, 3> infoLine;
  FixedText<40> stationText;
  // record 2
  std::array<int16_t, 5> options{};
  // record 3
  int32_t totalCalls = 0;
  int16_t callsToday = 0;
  FixedText<10> lastCallDate;
  FixedText<8> lastCallTime;
  FixedText<8> startTime;
  FixedText<10> startDate;
  // record 4: [0] level 1, [1] level 0, [2] level 2, [3] level 3, [4] level 4,
  // [5] D-Dial links, [6] QVS links; -1 = no limit
  std::array<int16_t, 7> timeLimits{};
  // record 5
  int16_t maxLines = 0;
  int16_t mainPort = 0;
  int16_t auxPort = 0;
  int16_t line0Port = 0;
};

// The current message slot; one record of mslots.qvs.
struct MessageSlot {
  int16_t slotAccount = 0;  // -1 free, 0 system
  double date = 0;          // day count
  bool slotFlag1 = false;
  bool slotFlag2 = false;
  bool enabled = false;
  FixedText<80> title;
  FixedText<4096> text;  // "^" marks a line break
};

struct AccountIndexEntry {
  FixedText<40> name;
  bool inUse = false;
};

struct LastCallerRecord {
  FixedText<40> handle;
  FixedText<3> account;
  FixedText<1> lineCode;
  FixedText<5> time;
  FixedText<10> date;
  bool inUse = false;
};

// The current e-mail; record k+2 of an account file.
struct EmailRecord {
  FixedText<40> fromHandle;
  int16_t fromKind = 0;  // 0 local, 1 QVS-linked station, 2 D-Dial station
  int16_t fromStation = 0;
  FixedText<3> fromAccount;
  FixedText<5> sentTime;
  FixedText<10> sentDate;
  FixedText<256> body;
};

// A named conference; entry k is conference number 500 + k.
struct ConferenceInfo {
  FixedText<15> name;  // as typed, cut to 15 characters
  int16_t number = 0;
  bool inUse = false;
};

// One of the four screen files, line k at lines[k-1], each ending in lineBreak.
struct ScreenTable {
  std::array<std::string, kScreenLines> lines;
  int16_t count = 0;
};

// A telnet screen form: fields drawn at their row and column (console/screen_forms.cpp).
struct ScreenField {
  std::string text;
  int16_t row = 0;
  int16_t column = 0;
  int16_t length = 0;  // of the text
  int16_t number = 0;  // the file's third value
};
using ScreenForm = std::array<ScreenField, kScreenFormFields>;

struct ServerTables {
  // Station identity and fixed texts.
  std::string stationNumber = "00";
  std::string stationName;
  std::string serverVersion;
  std::string stationPrefix;
  std::string lineBreak;

  int16_t currentLine = 0;
  std::string outdialAddress;  // where "R" d "T" dials out
  int16_t outdialPort = 23;
  double startDay = 0;  // day count of the start date
  bool debugMode = false;
  std::string workText;
  std::string tempText;

  // Lines and their per-line texts.
  std::array<LineState, kLineCount> lines;
  std::array<std::string, kLineCount> inputLine;
  std::array<std::string, kLineCount> receiveBuffer;
  std::array<HeldOutput, kLineCount> heldOutput;
  std::array<bool, kLineCount> typing{};
  std::array<int16_t, kLineCount> memberListPosition{};  // where "SC" goes on
  std::array<LineConnection, kLineCount> connections;

  ServerConfig config;
  Limits limits;  // limits.conf
  std::array<ChannelInfo, kChannelCount> channels;  // channel c at index c-1
  std::array<ConferenceInfo, kConferenceCount> conferences;

  std::array<AccountIndexEntry, kAccountCount> accountIndex;
  int16_t accountCount = 0;
  std::array<LastCallerRecord, kLastCallerCount> lastCallers;

  UserRecord currentAccount;
  MessageSlot currentSlot;
  uint8_t currentSlotNumber = 0;
  EmailRecord currentEmail;

  // System log: position k (from 1) at systemLog[k-1].
  std::array<std::string, kSystemLogCapacity> systemLog;
  int16_t logCount = 0;

  // The sysop console: the status display text and each line's screen form.
  std::string txtLines;
  std::array<ScreenForm, kScreenFormLines> screenForms;

  ScreenTable mainMenu;
  ScreenTable passwordScreen;
  ScreenTable infoScreen;
  ScreenTable sysopMenu;
};

}  // namespace tellarium
