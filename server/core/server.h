// The station: one object over the tables of server_tables.h. Each section
// below is one subsystem, in folder order, with the files that define it; a
// file's own steps stay in that file, as functions over the tables.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <map>
#include <string>
#include <string_view>

#include "platform/automation.h"
#include "platform/loop.h"
#include "server/core/abuse_watch.h"
#include "server/core/error_trap.h"
#include "server/core/line_codes.h"
#include "server/core/not_copied.h"
#include "server/core/record_file.h"
#include "server/core/server_tables.h"
#include "server/core/telnet_control.h"

namespace tellarium {

class StatusView;

inline constexpr std::string_view kServerVersion = "V1.40M";

// While one is alive the shared buffers (currentAccount, currentSlot,
// currentEmail, tempText) hold data in use: no pump may start, or another
// line's event could overwrite them (debug builds check).
using SharedBufferHold = platform::NoPumpScope;

// The groups of a configuration packet (CFGAssemble, cfgparse).
enum ConfigGroupNumber : int16_t {
  kChannelGroup = 0,
  kLineGroup = 1,
  kStationTextsGroup = 2,
  kOptionsGroup = 3,
  kSlotGroup = 4,
  kPortsGroup = 5,
  kTimeLimitsGroup = 6,
};

// Makes the component behind each telnet control.
using ControlFactory = std::function<std::unique_ptr<platform::Component>()>;

class Server : public ServerTables {
 public:
  // The controls come from the telnet control library; tests give stand-ins.
  Server();
  explicit Server(ControlFactory controlFactory);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // ---- Server core ---------------------------------------------------------
  // core/server.cpp: the traps and the tables' entries by number (a number
  // outside a table raises Subscript out of range).
  ErrorTrap Trap(std::string_view routine) const { return ErrorTrap(routine, debugMode); }
  LineState& LineAt(int line);
  ChannelInfo& ChannelAt(int channel);
  std::string& InputLineAt(int line);
  LineConnection& ConnectionAt(int line);
  void ShowProgress(std::string_view message);

  // core/startup.cpp, core/screen_files.cpp, core/logs.cpp
  void Startup();
  // The files a first start writes (the SysOp account, the configuration, the
  // message slots), each only where it is missing; nothing else is started.
  void CreateMissingDataFiles(const ErrorTrap& trap);
  void Main1();
  void LoadFiles();
  void CapMaxLines();
  void LoadLastCallers(const ErrorTrap& trap);

  // core/config_file.cpp: config.qvs, records 1 to 5 and the channels.
  void LoadOrCreateConfiguration(const ErrorTrap& trap);
  template <class Layout>
  void WriteConfigRecord(int32_t number);
  void WriteChannelRecord(int channel);

  // core/config_packets.cpp: index names the channel (group 0), the line
  // (group 1), or the line that asked for the slot (group 4).
  std::string CFGAssemble(int16_t group, int16_t index);
  void cfgparse(std::string a);

  // core/account_files.cpp: the current account and "user012.qvs".
  void uread(int16_t acc);
  UserRecord ReadAccount(int16_t acc);  // uread, and a copy no other event can change
  void uwrite(int16_t acc);
  std::string uassemble();
  void uparse(std::string a);
  static std::string afix(int16_t acc);
  static DataFile AccountFile(int16_t acc);
  // Texts the lists, e-mail status and the remote menu share:
  // "Autobiography for User #012:Max^Last Call <date> at <time>."; the stored
  // autobiography after its "|", trimmed ("" when there is none);
  // "User #012:Max^Last checked mail <date> at <time>"; "^Has 2 messages waiting.".
  std::string AutobiographyHeading(int16_t acc, const UserRecord& account);
  static std::optional<std::string> StoredAutobiography(int16_t acc);
  std::string MailCheckedText(int16_t acc, const UserRecord& account);
  static std::string MessagesWaiting(int32_t stored);
  void WriteDefaultSysOpAccount();
  void IndexAccount(int16_t acc);

  // core/ports.cpp: the controls, the listeners and the connection events.
  // Controls exist for lines 0..31 once created, whatever maxLines is.
  void CreateControls();
  void OpenListeners();  // start-up: a listener that cannot open ends the program
  void RestartListeners();
  // Held output is released (BOut) as soon as the event that held it ends,
  // and again while a line has more than one release takes.
  void KeepReleasing();
  bool HoldsReleasableOutput() const;
  int16_t ReleasedLines() const { return std::min<int16_t>(config.maxLines, kLineCount - 1); }
  TelnetControl& PortControl(int16_t line);
  bool Connected(int16_t l);  // the line's control is in state tntConnected
  bool Closing(int16_t line);
  void SendDirect(int16_t l, const std::string& text);  // as it is, when connected
  // Every byte for a line leaves here: a peer that lets more than
  // output_bound_kib pile up unsent is cut off. False when the line is not
  // connected, and nothing was sent.
  bool Transmit(int16_t l, std::string data);
  void MarkLoggingIn(int16_t line);
  void AnnounceNewCaller(int16_t line);
  void OnListenerAccept(int32_t nNewSession);
  void OnLine0Accept(int32_t nNewSession);
  void OnPortConnect(int16_t Index, const std::string& sRemoteDotAddr, const std::string& sSessionDotAddr);
  void OnPortCmd(int16_t Index, int16_t nCommand, int16_t nOption);
  // A caller is greeted once screened by its address (unless `screened` is
  // false); behind a proxy of limits.conf's proxy_from, once the proxy's
  // header has named it, within kProxyHeaderWaitMs.
  static constexpr int64_t kProxyHeaderWaitMs = 2000;
  void AdmitCaller(int16_t line, const std::string& address, bool screened);
  void AwaitProxyHeader(int16_t line, const std::string& proxy);
  void TakeProxyHeader(int16_t line, const std::string& received);
  void RefuseProxyHeader(int16_t line);
  void OnPortException(int16_t Index, const std::string& text);

  // core/receive.cpp: a received piece of a line (empty: the connection closed).
  void OnPortRecv(int16_t Index, const std::string& data);
  bool InTimeLimitState(int16_t line);  // its next input runs TmeOut

  // core/output.cpp
  std::string FormatOutput(int16_t l, int16_t cmode, std::string dat);
  void send(int16_t l, int16_t cmode, std::string dat);
  void BOut();
  std::string caret(std::string txt);
  std::string ANSI(int16_t fgrnd, int16_t bkgrnd, bool blink, bool intensity, bool underscore, bool reverse,
                   bool reset);
  std::string Ltrans3(int16_t a);
  std::string LTrans2(std::string a);

  // core/system_log.cpp: an entry in the rolling system log; anal -1 stores
  // `a` as it is.
  void SysLog(int16_t anal, std::string_view a);
  void SysLogStamped(std::string_view a);  // "12-06-2026 1:05 PM text": of no caller
  void LoadSystemLog(const ErrorTrap& trap);
  void ResetSystemLog();  // empty, and no file until the next entry

  // core/backlog.cpp: `a` from line `curlin` to the others: chat users
  // through their held output, D-Dial links at once in line-code form.
  void backlog(int16_t cmd, std::string a, int16_t curlin);

  // core/time_texts.cpp: "13:05:09" as "1:05:09 PM"; "12-06-2026" as
  // "Sunday, December 06, 2026".
  std::string tme(std::string_view a);
  std::string dte(std::string_view a);

  // ---- Sessions --------------------------------------------------------------
  // session/login.cpp, session/log_id.cpp
  void LoginControl(int16_t line);
  std::string LogId(int16_t anal);  // "Max:012"

  // session/chat_lines.cpp, session/responses.cpp
  std::string Handle(int16_t l, std::string hndl);
  static bool Clearance(int16_t required, int16_t Current);
  int16_t chkline(std::string_view l);  // the line numbered exactly `l`, or -1
  void SetVersion();
  void Response(int16_t Mode, int16_t lne);

  // session/channels.cpp: a channel's occupancy is always the number of chat
  // users on it (not in private chat or a conference); whatever changes a
  // chat user's place ends with CountChannelUsers.
  void MoveToChannel(int16_t line, int32_t channel);
  void LeaveChannel(int16_t line);
  void CountChannelUsers();
  bool InConference(int16_t line, int32_t number);
  ConferenceInfo& ConferenceAt(int32_t number);
  // Takes a chat user out of private chat or a conference, telling the
  // partner or the conference, onto `landing` (0: its own channel after
  // private chat, channel 1 after a conference). Every route out goes here.
  void LeavePlace(int16_t line, int32_t landing = 0);

  // session/logoff.cpp, session/loginout.cpp: the single exit of every line.
  void lgoff(int16_t line);
  void ResetLine(int16_t line);
  // Closes the connection once what is queued has gone out; a peer that
  // reads nothing is cut off after kCloseGraceMs.
  static constexpr uint32_t kCloseGraceMs = 5000;
  void CloseConnection(int16_t line, uint32_t graceMs = kCloseGraceMs);
  bool LoggingOff(int16_t line);
  void Loginout(int16_t li, int16_t md);
  static bool MemberAccount(const FixedText<3>& account);  // "000" or a positive number
  static bool MemberNumber(std::string_view digits);       // the same, typed as three characters
  static int16_t AccountNumber(std::string_view account);  // "012" as 12

  // session/timers.cpp: switching on a timer that is on leaves its countdown running.
  // SIDTime (station identification) has no interval, so it raises nothing.
  enum class SessionTimer : uint32_t { OnlineTimer = 1, TimeoutTimer = 2, SIDTime = 3, LoginTimer = 4 };
  void EnableTimer(SessionTimer timer, bool enabled);
  bool TimerEnabled(SessionTimer timer) const;
  void OnlineTimerTick();   // new day; minutes online; marks lines whose time is up
  void TimeoutTimerTick();  // new day; logs marked lines off; switches itself off
  void TmeOut(int16_t line);
  // session/defences.cpp: the defences of limits.conf. A caller turned away
  // at connect takes no line; a caller who has not logged in in time, or
  // whose peer does not read, is cut off; failed logins block their address
  // and slow their account. Each defence writes a system-log entry.
  bool RefusedAtConnect(int16_t line, const std::string& address);
  void StartLoginClock(int16_t line);
  // Counts a failed login; true when its answer waits (the line is parked).
  bool FailedLoginWaits(int16_t line, const std::string& account);
  void LoginTimerTick();  // time-outs and waited answers
  void CutOffReader(int16_t line);
  void OnPortSent(int16_t line, int32_t bytes);
  void LogDefence(const std::string& address, std::string_view kind, const std::string& entry);
  void RememberStartDay();  // the day both new-day checks start from

  // session/email.cpp, session/message_slots.cpp
  void Esend(int16_t acc);
  static int16_t Sltchk(std::string_view i);
  static std::string RvsSltChk(int16_t sl);
  void ReadSlot(std::string_view sl);
  void WriteSlot(std::string_view sl);
  void CreateSlotFile(const ErrorTrap& trap);

  // ---- Commands --------------------------------------------------------------
  // commands/command_stack.cpp: the handler groups declare their handlers in
  // commands/command_groups.h.
  using CommandHandler = void (*)(Server& server, int16_t line);
  struct Command {
    std::string_view code;
    std::string_view purpose;
    CommandHandler handler;
  };
  void CommandStack(int16_t lindex);
  // Two-letter codes are tried before one-letter ones; none: nullptr.
  static const Command* SelectCommand(std::string_view commandText);

  // ---- Links -----------------------------------------------------------------
  // links/inbound.cpp, links/qvs_protocol.cpp
  void FromDDL(std::string a, int16_t lneorg, int16_t cd);
  void FromQVS(std::string a, int16_t dest, int16_t cmd);
  // links/outbound.cpp: a local caller's "P" to a D-Dial link line, its input
  // line holding the link's number and the rest.
  void ToDDL(int16_t lneorg);
  // links/path_messages.cpp: "/P" from a link, for this station or a local line.
  void PathMessage(const std::string& a, int16_t link);
  void ToQVS(int16_t lneorg, std::string a);
  // links/station_id.cpp: the station's identification to chat users and links.
  void StationID();

  // ---- Sysop console -----------------------------------------------------------
  // console/status_display.cpp: rebuilds txtLines and shows it on the
  // attached view (the console), if any.
  void SysScreen();
  void AttachStatusView(StatusView* view) { statusView_ = view; }
  static std::string ConnectionText(const LineState& line);  // "127.0.0.1 (Telnet)"
  // console/screen_forms.cpp: telnet screen forms.
  int16_t SysScreenFile(const std::string& fname, int16_t lne);
  void SysTelScrn(int16_t md, int16_t line);
  void SysTelDisp(int16_t line);
  void SysTelOperate(int16_t line, int16_t pos);

 private:
  // What the station's window owns, defined with the files that use it. A
  // copy of a server's tables never shares them.
  struct Controls;            // core/ports.cpp
  struct CloseTimerWindow;    // session/logoff.cpp
  struct SessionTimerWindow;  // session/timers.cpp
  ControlFactory controlFactory_;
  NotCopied<Controls> controls_;
  NotCopied<CloseTimerWindow> closeTimers_;
  NotCopied<SessionTimerWindow> sessionTimers_;
  StatusView* statusView_ = nullptr;
  // When each defence last wrote to the system log for an address (kind, address).
  std::map<std::pair<std::string, std::string>, int64_t> defenceLoggedMs_;
  AbuseWatch abuseWatch_;
};

}  // namespace tellarium
