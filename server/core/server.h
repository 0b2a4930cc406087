// The chat server: one object holding every table (server_tables.h) with its
// routines defined by subsystem:
//   core/startup.cpp          Startup, Main1 and the start-up steps
//   core/config_file.cpp      config.qvs: defaults, loading, the new-day rule
//   core/config_packets.cpp   CFGAssemble, cfgparse
//   core/account_files.cpp    uread, uwrite, uassemble, uparse, afix, account index
//   core/screen_files.cpp     LoadFiles
//   core/logs.cpp             last callers at start
//   core/system_log.cpp       SysLog and the system log at start
//   core/backlog.cpp          backlog
//   core/ports.cpp            the controls, listeners, accepts, greeting, option answers
//   core/receive.cpp          receive processing, client packets, line dispatch
//   core/output.cpp           output modes, send, BOut, caret, ANSI, Ltrans3, LTrans2
//   session/responses.cpp     Response
//   session/logoff.cpp        lgoff, the line's reset and its connection's close
//   session/login.cpp         LoginControl
//   session/loginout.cpp      Loginout, the login and logoff announcements
//   core/time_texts.cpp       tme, dte
//   session/log_id.cpp        LogId
//   session/message_slots.cpp Sltchk, RvsSltChk, ReadSlot, WriteSlot
//   session/chat_lines.cpp    Handle, Clearance, chkline, SetVersion
//   session/channels.cpp      channel moves and occupancy
//   session/timers.cpp        OnlineTimer, TimeoutTimer, SysTimer, TmeOut
//   session/email.cpp         Esend
//   console/status_display.cpp  SysScreen
//   console/screen_forms.cpp    SysScreenFile, SysTelScrn, SysTelDisp, SysTelOperate
//   console/sysop_console.h     the console the status display is shown on
//   commands/command_stack.cpp  CommandStack and the command table
//   commands/screens.cpp        menus and information screens
//   commands/lists.cpp          callers, members, autobiographies
//   commands/own_settings.cpp   handle, autobiography, toggles, posting, quitting
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation.h"
#include "platform/loop.h"
#include "server/core/error_trap.h"
#include "server/core/not_copied.h"
#include "server/core/packet_fields.h"
#include "server/core/record_file.h"
#include "server/core/server_tables.h"
#include "server/core/telnet_control.h"

namespace tellarium {

class StatusView;
class TextFileReader;

inline constexpr std::string_view kServerVersion = "V1.40M";

class Server : public ServerTables {
 public:
  Server();
  virtual ~Server() = default;

  // Start-up.
  void Startup();
  void LoadFiles();
  void Main1();

  // Client configuration packets.
  std::string CFGAssemble(int16_t group, int16_t index);
  void cfgparse(std::string a);

  // Account files.
  void uread(int16_t acc);
  void uwrite(int16_t acc);
  std::string uassemble();
  void uparse(std::string a);
  std::string afix(int16_t acc);
  // "user012.qvs": the account's record 1, its autobiography and its e-mail.
  DataFile AccountFile(int16_t acc);

  // Message slots.
  static int16_t Sltchk(std::string_view i);
  static std::string RvsSltChk(int16_t sl);
  void ReadSlot(std::string_view sl);
  void WriteSlot(std::string_view sl);

  // === Ports, connections and output (section of the connections work) ===
  // core/output.cpp: the output modes, send, held output, line codes.
  // The output-mode formatter: what `dat` becomes for line `l` in mode `cmode`.
  std::string FormatOutput(int16_t l, int16_t cmode, const std::string& dat);
  void send(int16_t l, int16_t cmode, std::string dat);
  void BOut();
  std::string caret(std::string_view txt);
  std::string ANSI(int16_t fgrnd, int16_t bkgrnd, bool blink, bool intensity, bool underscore, bool reverse,
                   bool reset);
  std::string Ltrans3(int16_t a);
  std::string LTrans2(std::string a);
  // session/responses.cpp: the nine standard answers.
  void Response(int16_t Mode, int16_t lne);
  // core/ports.cpp: the controls, the listeners and the connection events.
  // Controls exist for lines 0..31 once created, whatever maxLines is.
  void CreateControls();
  void OpenListeners();     // start-up: a listener that cannot open ends the program
  void SetListenerPorts();
  void StartBlogTimer();    // BOut every 100 ms
  void OnListenerAccept(int32_t nNewSession);
  void OnLine0Accept(int32_t nNewSession);
  void OnPortConnect(int16_t Index, const std::string& sRemoteDotAddr, const std::string& sSessionDotAddr);
  void OnPortCmd(int16_t Index, int16_t nCommand, int16_t nOption);
  // core/receive.cpp: a received piece of a line (empty: the connection closed).
  void OnPortRecv(int16_t Index, const std::string& data);
  // session/logoff.cpp: the two steps of lgoff that free a line.
  void ResetLine(int16_t line);
  void CloseConnection(int16_t line);
  // A line whose time limit was reached: its next input runs TmeOut.
  bool InTimeLimitState(int16_t line);

  // === Logs, backlog, time texts and the sysop console (section of the console work) ===
  // core/system_log.cpp: an entry in the rolling system log; anal -1 stores `a` as it is.
  void SysLog(int16_t anal, std::string_view a);
  // core/backlog.cpp: distributes `a` from line `curlin`: chat users through
  // their held output, D-Dial links at once in their line-code form.
  void backlog(int16_t cmd, std::string a, int16_t curlin);
  // core/time_texts.cpp: "13:05:09" as "1:05:09 PM"; "12-06-2026" as
  // "Sunday, December 06, 2026".
  std::string tme(std::string_view a);
  std::string dte(std::string_view a);
  // session/log_id.cpp: "Max:012", the line's identity in log entries.
  std::string LogId(int16_t anal);
  // console/status_display.cpp: rebuilds txtLines and shows it on the
  // attached view (the console), if any.
  void SysScreen();
  void AttachStatusView(StatusView* view) { statusView_ = view; }
  // console/screen_forms.cpp: telnet screen forms.
  int16_t SysScreenFile(const std::string& fname, int16_t lne);
  void SysTelScrn(int16_t md, int16_t line);
  void SysTelDisp(int16_t line);
  void SysTelOperate(int16_t line, int16_t pos);

  // === Sessions: chat tags, timers, e-mail (section of the sessions work) ===
  // session/chat_lines.cpp: levels, line numbers, start-up defaults (Handle is below).
  static bool Clearance(int16_t required, int16_t Current);
  // The line whose number reads exactly `l` ("05" and " 5" read none), or -1.
  int16_t chkline(std::string_view l);
  void SetVersion();
  // session/channels.cpp: a line's place. A channel's occupancy is always the
  // number of chat users on that ordinary channel (not in private chat or a
  // conference): the routines here recount after every move, and whatever else
  // changes a chat user's status or substate ends with CountChannelUsers.
  void MoveToChannel(int16_t line, int32_t channel);
  void LeaveChannel(int16_t line);  // a line logging off
  void CountChannelUsers();
  // session/timers.cpp: the window's session timers. Switching on a timer that
  // is on already leaves its countdown running.
  enum class SessionTimer : uint32_t { OnlineTimer = 1, TimeoutTimer = 2, SysTimer = 3 };
  void EnableTimer(SessionTimer timer, bool enabled);
  bool TimerEnabled(SessionTimer timer) const;
  void OnlineTimerTick();   // new day; minutes online; marks lines whose time is up
  void TimeoutTimerTick();  // new day; logs marked lines off; switches itself off
  void SysTimerTick();      // leaves the running of queued events to its pump
  // Start-up's last step: the day both timers' new-day checks start from.
  void RememberStartDay();
  // session/email.cpp: stores the current e-mail for account `acc` and tells
  // the account's line, if one is online.
  void Esend(int16_t acc);

  // === Sessions: logoff (section of the logoff work) ===
  // session/loginout.cpp: tells every line of line li's login (md 1) or
  // logoff (md 2), each at most once per session; a logoff only when its
  // login was announced.
  void Loginout(int16_t li, int16_t md);
  // A member line: account "000" or a positive account number.
  static bool MemberAccount(const FixedText<3>& account);
  // The account number a line's account text reads as ("12 " is 12).
  static int16_t AccountNumber(const FixedText<3>& account);
  // session/logoff.cpp: closes the line's connection once what is queued for
  // it has gone out; a peer that reads nothing is cut off after kCloseGraceMs.
  static constexpr uint32_t kCloseGraceMs = 5000;

  // === Sessions: login (section of the login work) ===
  // session/login.cpp: the steps of LoginControl (declared with the routines
  // the line dispatch calls).
 private:
  // False when the login ends here: the account is in use on another line.
  bool IdentifyCaller(int16_t line, const std::string& account, const std::string& password);
  void TakeAccount(int16_t line, const std::string& account);
  void MakeGuest(int16_t line);
  int16_t LineWithAccount(int16_t line, const std::string& account);
  void RefuseDuplicate(int16_t line, int16_t other, const std::string& account);
  std::string DuplicateLogText(int16_t other, const std::string& account);
  // False when the line is refused.
  bool AdmitMember(int16_t line);
  bool AdmitGuest(int16_t line);
  void ApplyLineKind(LineState& state);
  void RefuseOnLine0(int16_t line, std::string_view notice);
  bool StillLoggingIn(int16_t line);
  bool LoginCallerStayed(int16_t line);  // no new connection since the login began
  std::array<uint32_t, kLineCount> loginConnection_{};  // the connection a login began on
  void SendPostLoginMessage(int16_t line, std::string_view slot);
  void FinishLogin(int16_t line);
  void StartSession(int16_t line);
  void SendLoginNotices(int16_t line);
  void SendMailOrHelpNotice(int16_t line);
  // ANSI for line `line` instead of currentLine; bold on black.
  std::string AnsiFor(int16_t line, int16_t fgrnd, bool blink, bool reset);

 public:
  // === Routines the line dispatch calls that later subsystems build ===
  // Virtual so that tests can watch the dispatch reach them.
  virtual void LoginControl(int16_t line);                       // session/login.cpp
  virtual std::string Handle(int16_t l, std::string hndl);       // session/chat_lines.cpp
  virtual void lgoff(int16_t line);                              // session/logoff.cpp
  virtual void CommandStack(int16_t lindex);                     // commands/command_stack.cpp
  virtual void FromDDL(std::string a, int16_t lneorg, int16_t cd);  // links/inbound.cpp
  virtual void FromQVS(std::string a, int16_t dest, int16_t cmd);   // links/qvs_protocol.cpp
  virtual void TmeOut(int16_t line);                             // session/timers.cpp

 protected:
  ErrorTrap Trap(std::string_view routine) const { return ErrorTrap(routine, debugMode); }

  // Table entries by number; a number outside the table raises Subscript out of range.
  LineState& LineAt(int line);
  ChannelInfo& ChannelAt(int channel);
  std::string& InputLineAt(int line);

  // Appends a progress message to the console.
  void ShowProgress(std::string_view message);

 private:
  // Start-up steps.
  void SetStationIdentity();
  void SetTitleAndPrefix();
  void EnsureSysOpAccount(const ErrorTrap& trap);
  void WriteDefaultSysOpAccount();
  void LoadOrCreateConfiguration(const ErrorTrap& trap);
  void CapMaxLines();
  void EnsureMessageSlots(const ErrorTrap& trap);
  void LoadSystemLog(const ErrorTrap& trap);
  void LoadLastCallers(const ErrorTrap& trap);
  void BuildAccountIndex(const ErrorTrap& trap);
  void IndexAccount(int16_t acc);
  void ResetLines();

  // config.qvs.
  void SetDefaultConfiguration(const std::tm& now);
  void CreateConfiguration(const ErrorTrap& trap, const std::tm& now);
  void ReadConfiguration(const ErrorTrap& trap);
  void StartNewDayIfNeeded(const ErrorTrap& trap, const std::tm& now);
  void SetStartTo(const std::tm& now);
  template <class Layout>
  void ReadConfigRecord(int32_t number);
  template <class Layout>
  void WriteConfigRecord(int32_t number);
  void ReadChannelRecord(int channel);
  void WriteChannelRecord(int channel);

  // Account files.
  void MakeEmptyAccount(int16_t acc);
  PacketFields AccountTextFields();

  // Client configuration packets: each group's fields.
  struct ConfigGroup;
  struct PacketTarget {
    int16_t index = 0;    // channel (group 0) or line (group 1)
    std::string slotKey;  // group 4
  };
  std::optional<ConfigGroup> DescribeConfigGroup(int16_t group, PacketTarget& target);
  ConfigGroup ChannelGroup(PacketTarget& target);
  ConfigGroup LineGroup(PacketTarget& target);
  ConfigGroup StationTextsGroup();
  ConfigGroup OptionsGroup();
  ConfigGroup SlotGroup(PacketTarget& target);
  ConfigGroup PortsGroup();
  ConfigGroup TimeLimitsGroup();
  // Hook: group 5 reopens both listeners on the new ports (line #0 first).
  void RestartListeners();

  // Screen files.
  void LoadScreenFile(const ErrorTrap& trap, ScreenTable& table, const std::string& file);
  void StoreScreenLine(ScreenTable& table, const std::string& line);

  // Message slots.
  void CreateSlotFile(const ErrorTrap& trap);
  void WriteSystemSlot(std::string_view key, std::string_view title, const std::string& text);

  // === Ports, connections and output (protected and private; connections work) ===
 protected:
  // Creates the component behind each control; tests give stand-ins.
  virtual std::unique_ptr<platform::Component> NewControlComponent();
  // True when line `l` has a control in state tntConnected.
  bool Connected(int16_t l);
  // Sends text on the line's connection as it is, when it is connected.
  void SendDirect(int16_t l, const std::string& text);

  // Each group of controls reports to its own handler.
  struct ListenerEvents final : TelnetControlEvents {
    explicit ListenerEvents(Server& s) : server(s) {}
    void OnAccept(int16_t, int32_t new_session) override { server.OnListenerAccept(new_session); }
    Server& server;
  };
  struct Line0Events final : TelnetControlEvents {
    explicit Line0Events(Server& s) : server(s) {}
    void OnAccept(int16_t, int32_t new_session) override { server.OnLine0Accept(new_session); }
    Server& server;
  };
  struct PortEvents final : TelnetControlEvents {
    explicit PortEvents(Server& s) : server(s) {}
    void OnConnect(int16_t index, const std::string& remote, const std::string& session, int32_t,
                   const std::string&) override {
      server.OnPortConnect(index, remote, session);
    }
    void OnCmd(int16_t index, int16_t command, int16_t option, const std::string&) override {
      server.OnPortCmd(index, command, option);
    }
    void OnRecv(int16_t index, const std::string& data) override { server.OnPortRecv(index, data); }
    Server& server;
  };
  // Runs BOut on each tick of the backlog timer.
  struct TimerWindow final : platform::MessageTarget {
    explicit TimerWindow(Server& s) : server(s) {}
    void HandleMessage(uint32_t message, uint64_t wparam, int64_t lparam) override;
    Server& server;
  };
  // The window's controls, with their event handlers declared first so that
  // the controls go first.
  struct Controls {
    explicit Controls(Server& s) : listenerEvents(s), line0Events(s), portEvents(s), timerWindow(s) {}
    ListenerEvents listenerEvents;
    Line0Events line0Events;
    PortEvents portEvents;
    TelnetControlEvents refusalEvents;  // a refused caller's input is dropped
    TimerWindow timerWindow;
    std::unique_ptr<TelnetControl> Listener;
    std::unique_ptr<TelnetControl> Line0;
    std::array<std::unique_ptr<TelnetControl>, kMaxMainLines + 1> port;
    // Refusal controls: one per refusal still closing, so callers arriving
    // together are all told.
    std::vector<std::unique_ptr<TelnetControl>> Full;
  };
  // The controls belong to this object: assigning a server copies its tables,
  // never its connections.
  NotCopied<Controls> controls_;
  TelnetControl& PortControl(int16_t line) { return *controls_->port[static_cast<std::size_t>(line)]; }

 private:
  // Ports.
  void Refuse(int32_t nNewSession, std::string_view text);
  TelnetControl& FreeRefusalControl();
  void Greet(int16_t Index);
  void MarkLoggingIn(int16_t Index);
  void AnnounceNewCaller(int16_t Index);
  void CompleteOutdial(int16_t Index);
  void AnswerDo(int16_t Index, int16_t option);
  void AnswerWill(int16_t Index, int16_t option);
  void AgreeSuppressGoAhead(int16_t Index, int16_t reply);
  void ReplyOption(int16_t Index, int16_t command, int16_t option);
  void RefuseOption(int16_t Index, int16_t refusal, int16_t option);
  void ClearConnectionState(int16_t line);
  // Receive processing.
  void RestartLoginIfAsked(int16_t Index);
  bool RelayTerminal(int16_t Index, const std::string& data);
  void ExitTerminal(int16_t Index);
  bool TakeClientPacket(int16_t Index, const std::string& data);
  bool MayEditConfiguration(int16_t Index, char group);
  void TakeAccountPacket(int16_t Index, const std::string& data);
  bool StartLogin(int16_t Index);
  struct Filtered;
  Filtered FilterCharacters(int16_t Index, const std::string& data);
  void EraseEcho(int16_t Index);
  std::string AppendToBuffer(int16_t Index, std::string_view text);
  void AssembleLine(int16_t Index, const std::string& piece);
  void DispatchLine(int16_t Index);
  void DispatchChatLine(int16_t Index);
  void FinishLine(int16_t Index);
  // What each line's connection last sent about each telnet option, and
  // whether its last piece ended in a bare carriage return.
  std::array<std::array<uint8_t, 256>, kLineCount> optionsSent_{};
  std::array<bool, kLineCount> afterBareCr_{};
  // The station's own address on each line's connection.
  std::array<std::string, kLineCount> sessionAddress_;
  // Connections each line has taken, so a routine that let events run can
  // tell whether its caller is still the one on the line.
  std::array<uint32_t, kLineCount> connectionCount_{};

  // === End of the connections work ===
 private:
  // === Sessions: chat tags, timers, e-mail (private; sessions work) ===
  // "#5[C1]:", the part of a display tag before the handle.
  std::string LineTag(int16_t l);
  void CountMinuteOnline(int16_t l);
  // A tick on a new day clears today's calls; `day` remembers the day last seen.
  void StartNewDayIfDue(double& day);
  void TellMailArrived(const std::string& account);
  // The window the session timers run on, made when a timer is first
  // switched on. Like the controls it belongs to this object: assigning a
  // server copies its tables, never its timers.
  struct SessionTimerWindow final : platform::MessageTarget {
    explicit SessionTimerWindow(Server& s) : server(s) {}
    void HandleMessage(uint32_t message, uint64_t wparam, int64_t lparam) override;
    Server& server;
    std::array<bool, 4> enabled{};  // by SessionTimer
  };
  NotCopied<SessionTimerWindow> sessionTimers_;
  SessionTimerWindow& SessionTimers();
  double timeoutTimerDay_ = 0;  // the day TimeoutTimer last saw

  // === Sessions: logoff (private; logoff work) ===
  void StampLastCall();
  void RecordLastCaller(int16_t line);
  void SaveAccountAtLogoff(int16_t line);
  bool LineIsFree(int16_t line);
  bool TakeAnnouncement(int16_t li, int16_t md);
  std::string AnnouncementText(int16_t li, int16_t md);
  void LogLogoff(int16_t li);
  void DeliverAnnouncement(int16_t k, int16_t li, int16_t md, const std::string& text);
  // Aborts a graceful close still under way when its grace has run out.
  struct CloseTimerWindow final : platform::MessageTarget {
    explicit CloseTimerWindow(Server& s) : server(s) {}
    void HandleMessage(uint32_t message, uint64_t wparam, int64_t lparam) override;
    Server& server;
  };
  NotCopied<CloseTimerWindow> closeTimers_;
  void AbortCloseIfStillClosing(int16_t line);
  // True while the line's connection is closing: its input is dropped.
  bool Closing(int16_t line);
  // Logoffs under way per line (one may run inside another). Such a line is
  // given to no new caller: the rest of the logoff would reset its session
  // and close its connection.
  std::array<int8_t, kLineCount> loggingOff_{};
  bool LoggingOff(int16_t line) const { return loggingOff_[static_cast<std::size_t>(line)] > 0; }

  // === Logs, backlog, time texts and the sysop console (private; console work) ===
  // System log.
  std::string SystemLogEntry(int16_t anal, std::string_view a);
  void StoreLogEntry(std::string entry);
  void WriteSystemLogFile() const;
  // Backlog.
  struct Distribution;
  Distribution DescribeDistribution(int16_t cmd, std::string a, int16_t curlin);
  void DeliverTo(Distribution& message, int16_t t);
  void DeliverToChatUser(Distribution& message, int16_t t);
  void DeliverPrivateChat(Distribution& message);
  void DeliverToDDialLink(const Distribution& message, int16_t t);
  std::string DDialText(const std::string& a);
  // Status display.
  std::string StatusRow(int16_t n);
  std::string LineActivityText(const LineState& line) const;
  std::string ConnectionText(const LineState& line) const;
  // Screen forms.
  ScreenForm& FormAt(int line);
  void ReadFormFields(TextFileReader& reader, ScreenForm& form, int16_t& count);

  StatusView* statusView_ = nullptr;

  // === Commands (command work) ===
 public:
  // commands/command_stack.cpp: the handler a command text (without its "/")
  // selects, or none. Two-letter codes are tried before one-letter ones.
  using CommandHandler = void (Server::*)(int16_t line);
  struct Command {
    std::string_view code;
    std::string_view purpose;
    CommandHandler handler;
  };
  static const Command* SelectCommand(std::string_view commandText);
  // links/qvs_protocol.cpp: the own link protocol's outbound hook.
  void ToQVS(int16_t lneorg, std::string a);
  // commands/screens.cpp: a screen file sent in chunks below kScreenChunk
  // characters, letting events run between them.
  static constexpr std::size_t kScreenChunk = 200;
  void DumpScreen(int16_t line, const ScreenTable& screen);

 private:
  // commands/command_stack.cpp
  void CommandNotBuilt(int16_t line);
  // What a command answers: a mode-4 message and its line break.
  void Answer(int16_t line, const std::string& text);
  std::string& CommandText(int16_t line) { return InputLineAt(line); }
  // commands/screens.cpp: "?", "*?", "I" and the information screens.
  void MainMenuCommand(int16_t line);
  void SysopMenuCommand(int16_t line);
  void InformationCommand(int16_t line);
  void ChannelInformation(int16_t line);
  void StationScreen(int16_t line);
  void ServerData(int16_t line);
  std::string OperatingSystemLines();
  int16_t LinesInUse();
  void StationInformation(int16_t line);
  void StationStatistics(int16_t line);
  // commands/lists.cpp: who was and is on, and the members.
  void LastCallersCommand(int16_t line);
  void TimeCommand(int16_t line);
  void ShowCommand(int16_t line);
  void OnlineList(int16_t line);
  void Autobiography(int16_t line, int16_t acc);
  void MemberListCommand(int16_t line);
  void MemberListContinueCommand(int16_t line);
  void MemberListPage(int16_t line);
  void AddressListCommand(int16_t line);
  std::string ListedLine(int16_t l);
  std::string ListFooter();
  // commands/own_settings.cpp: a caller's own line.
  void AutobiographyCommand(int16_t line);
  void HandleCommand(int16_t line);
  void OtherHandle(int16_t line);
  void BeepsCommand(int16_t line);
  void LineSpacingCommand(int16_t line);
  void PrivateBeepCommand(int16_t line);
  void LoginBeepCommand(int16_t line);
  void Toggle(int16_t line, bool& flag, std::string_view label);
  void QuitCommand(int16_t line);
  void PostCommand(int16_t line);
};

}  // namespace tellarium
