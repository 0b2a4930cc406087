// The menus and the information screens.
#include <string>

#include "platform/console.h"
#include "platform/loop.h"
#include "platform/sysinfo.h"
#include "server/commands/command_groups.h"
#include "server/core/number_text.h"
#include "server/core/server.h"
#include "server/core/text_fields.h"

namespace tellarium {
namespace {

enum InformationScreen : int64_t {
  kPasswordScreen = 1,
  kChannelInformation = 2,
  kStationScreen = 3,
  kServerData = 4,
  kStationInformation = 5,
  kStationStatistics = 6,
};

constexpr int kListedChannels = 9;
// A screen file goes out in chunks below this many characters, letting
// events run between them.
constexpr std::size_t kScreenChunk = 200;

// Chunks go straight to the connection; the line may be gone after the
// events that run between them, and then the rest goes nowhere.
void DumpScreen(Server& server, int16_t line, const ScreenTable& screen) {
  std::string chunk;
  for (int16_t k = 0; k < screen.count && k < kScreenLines; ++k) {
    const std::string& text = screen.lines[static_cast<std::size_t>(k)];
    if (chunk.size() + text.size() >= kScreenChunk) {
      server.SendDirect(line, chunk);
      chunk.clear();
      platform::Pump();
    }
    chunk += text;
  }
  server.SendDirect(line, chunk);
}

// "Channel 1:Main Channel Max: 30 Current: 0"
void ChannelInformation(Server& server, int16_t line) {
  std::string text = "Channel Information" + server.lineBreak;
  for (int channel = 1; channel <= kListedChannels; ++channel) {
    const ChannelInfo& info = server.ChannelAt(channel);
    text += "Channel" + SignedNumberText(channel) + ":" + info.name.Trimmed() + " Max:" +
            SignedNumberText(info.capacity) + " Current:" + SignedNumberText(info.occupancy) + server.lineBreak;
  }
  server.send(line, kStationMode, text);
}

void StationScreen(Server& server, int16_t line) {
  const std::string& br = server.lineBreak;
  server.send(line, kRawMode, br + br);
  server.send(line, kStationMode,
              "Tellarium " + server.serverVersion + br + "This is Tellarium Station #" + server.stationNumber + br +
                  "Known as: " + server.stationName + " QVS-" + server.stationNumber + br);
}

// The kernel stands for the operating system; a station on a terminal runs
// as a console program, otherwise as a service.
std::string OperatingSystemLines(const std::string& br) {
  const platform::SystemInfo system = platform::QuerySystemInfo();
  return system.platform + " Version:" + system.release + " Build:" + system.version + br + "Running as: " +
         (platform::console::IsTerminal() ? "Console" : "Service") + br;
}

int16_t LinesInUse(Server& server) {
  int16_t inUse = 0;
  for (int16_t l = 1; l <= server.config.maxLines; ++l) {
    if (server.LineAt(l).status > kOffline) ++inUse;
  }
  return inUse;
}

void ServerData(Server& server, int16_t line) {
  const std::string& br = server.lineBreak;
  server.send(line, kRawMode, br + br);
  const int16_t inUse = LinesInUse(server);
  const std::string address(TrimLeft(server.ConnectionAt(line).sessionAddress));
  server.send(line, kStationMode,
              "Server Data" + br + "Server is " + server.stationName + " QVS-" + server.stationNumber + br +
                  "Operating System:" + br + OperatingSystemLines(br) + "Address: " + address + br +
                  "TELNET Login Port:" + std::to_string(server.config.mainPort) + br +
                  "Lines In Use:" + SignedNumberText(inUse) + br +
                  "Lines Available:" + SignedNumberText(server.config.maxLines - inUse) + br +
                  "Active Users This Station:" + SignedNumberText(server.accountCount) + br);
}

void StationInformation(Server& server, int16_t line) {
  const std::string& br = server.lineBreak;
  server.send(line, kStationMode,
              "Station Information:" + br + "Station # :" + server.stationNumber + br + "Name      :" +
                  server.stationName + br + "Owner     :" + server.config.stationText.Trimmed() + br +
                  "Network ID: QVS-" + server.stationNumber + ":" + server.stationName + br);
}

void StationStatistics(Server& server, int16_t line) {
  const std::string& br = server.lineBreak;
  const ServerConfig& config = server.config;
  server.send(line, kStationMode,
              "Station Stats:" + br + "Calls Today:" + std::to_string(config.callsToday) + br +
                  "Total Calls:" + std::to_string(config.totalCalls) + br + "Last Reboot:" +
                  server.tme(config.startTime.Raw()) + " on " + server.dte(config.startDate.Raw()) + "." + br +
                  "Last Call:" + server.tme(config.lastCallTime.Raw()) + " on " +
                  server.dte(config.lastCallDate.Raw()) + "." + br);
}

}  // namespace

void MainMenuCommand(Server& server, int16_t line) { DumpScreen(server, line, server.mainMenu); }

void SysopMenuCommand(Server& server, int16_t line) {
  if (!Server::Clearance(2, server.LineAt(line).level)) return server.Response(kInsufficientClearance, line);
  DumpScreen(server, line, server.sysopMenu);
}

void InformationCommand(Server& server, int16_t line) {
  const std::string text = CommandText(server, line);
  if (text.size() == 1) {
    Answer(server, line, "System Information Screens" + server.lineBreak);
    return DumpScreen(server, line, server.infoScreen);
  }
  switch (LeadingNumber(std::string_view(text).substr(1))) {
    case kPasswordScreen: return DumpScreen(server, line, server.passwordScreen);
    case kChannelInformation: return ChannelInformation(server, line);
    case kStationScreen: return StationScreen(server, line);
    case kServerData: return ServerData(server, line);
    case kStationInformation: return StationInformation(server, line);
    case kStationStatistics: return StationStatistics(server, line);
    default: return server.Response(kUnrecognizedCommand, line);
  }
}

}  // namespace tellarium
