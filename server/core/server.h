// The chat server: one object holding every table (server_tables.h) with its
// routines defined by subsystem:
//   core/startup.cpp          Startup, Main1 and the start-up steps
//   core/config_file.cpp      config.qvs: defaults, loading, the new-day rule
//   core/config_packets.cpp   CFGAssemble, cfgparse
//   core/account_files.cpp    uread, uwrite, uassemble, uparse, afix, account index
//   core/screen_files.cpp     LoadFiles
//   core/logs.cpp             system log and last callers at start
//   session/message_slots.cpp Sltchk, RvsSltChk, ReadSlot, WriteSlot
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "server/core/error_trap.h"
#include "server/core/packet_fields.h"
#include "server/core/server_tables.h"

namespace tellarium {

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

  // Message slots.
  static int16_t Sltchk(std::string_view i);
  static std::string RvsSltChk(int16_t sl);
  void ReadSlot(std::string_view sl);
  void WriteSlot(std::string_view sl);

  // === Ports, connections and output (section of the connections work) ===

  // === Logs, backlog, time texts and the sysop console (section of the console work) ===

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
};

}  // namespace tellarium
