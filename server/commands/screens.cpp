// The menus and the information screens.
#include <string>

#include "platform/console.h"
#include "platform/loop.h"
#include "platform/sysinfo.h"
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

}  // namespace

// Chunks go straight to the connection; the line may be gone after the
// events that run between them, and then the rest goes nowhere.
void Server::DumpScreen(int16_t line, const ScreenTable& screen) {
  std::string& chunk = tempText;
  chunk.clear();
  for (int16_t k = 0; k < screen.count && k < kScreenLines; ++k) {
    const std::string& text = screen.lines[static_cast<std::size_t>(k)];
    if (chunk.size() + text.size() >= kScreenChunk) {
      SendDirect(line, chunk);
      chunk.clear();
      platform::Pump();
    }
    chunk += text;
  }
  SendDirect(line, chunk);
  chunk.clear();
}

void Server::MainMenuCommand(int16_t line) { DumpScreen(line, mainMenu); }

void Server::SysopMenuCommand(int16_t line) {
  if (!Clearance(2, LineAt(line).level)) return Response(1, line);
  DumpScreen(line, sysopMenu);
}

void Server::InformationCommand(int16_t line) {
  const std::string text = CommandText(line);
  if (text.size() == 1) {
    Answer(line, "System Information Screens" + lineBreak);
    return DumpScreen(line, infoScreen);
  }
  switch (LeadingNumber(std::string_view(text).substr(1))) {
    case kPasswordScreen: return DumpScreen(line, passwordScreen);
    case kChannelInformation: return ChannelInformation(line);
    case kStationScreen: return StationScreen(line);
    case kServerData: return ServerData(line);
    case kStationInformation: return StationInformation(line);
    case kStationStatistics: return StationStatistics(line);
    default: return Response(0, line);
  }
}

// "Channel 1:Main Channel Max: 30 Current: 0"
void Server::ChannelInformation(int16_t line) {
  std::string text = "Channel Information" + lineBreak;
  for (int channel = 1; channel <= kListedChannels; ++channel) {
    const ChannelInfo& info = ChannelAt(channel);
    text += "Channel" + SignedNumberText(channel) + ":" + info.name.Trimmed() + " Max:" +
            SignedNumberText(info.capacity) + " Current:" + SignedNumberText(info.occupancy) + lineBreak;
  }
  send(line, 4, text);
}

void Server::StationScreen(int16_t line) {
  send(line, 11, lineBreak + lineBreak);
  send(line, 4,
       "Tellarium " + serverVersion + lineBreak + "This is Tellarium Station #" + stationNumber + lineBreak +
           "Known as: " + stationName + " QVS-" + stationNumber + lineBreak);
}

void Server::ServerData(int16_t line) {
  send(line, 11, lineBreak + lineBreak);
  const int16_t inUse = LinesInUse();
  const std::string address(TrimLeft(sessionAddress_[static_cast<std::size_t>(line)]));
  send(line, 4,
       "Server Data" + lineBreak + "Server is " + stationName + " QVS-" + stationNumber + lineBreak +
           "Operating System:" + lineBreak + OperatingSystemLines() + "Address: " + address + lineBreak +
           "TELNET Login Port:" + std::to_string(config.mainPort) + lineBreak +
           "Lines In Use:" + SignedNumberText(inUse) + lineBreak +
           "Lines Available:" + SignedNumberText(config.maxLines - inUse) + lineBreak +
           "Active Users This Station:" + SignedNumberText(accountCount) + lineBreak);
}

// The kernel stands for the operating system; a station on a terminal runs
// as a console program, otherwise as a service.
std::string Server::OperatingSystemLines() {
  const platform::SystemInfo system = platform::QuerySystemInfo();
  return system.platform + " Version:" + system.release + " Build:" + system.version + lineBreak +
         "Running as: " + (platform::console::IsTerminal() ? "Console" : "Service") + lineBreak;
}

int16_t Server::LinesInUse() {
  int16_t inUse = 0;
  for (int16_t l = 1; l <= config.maxLines; ++l) {
    if (LineAt(l).status > kOffline) ++inUse;
  }
  return inUse;
}

void Server::StationInformation(int16_t line) {
  send(line, 4,
       "Station Information:" + lineBreak + "Station # :" + stationNumber + lineBreak + "Name      :" +
           stationName + lineBreak + "Owner     :" + config.stationText.Trimmed() + lineBreak +
           "Network ID: QVS-" + stationNumber + ":" + stationName + lineBreak);
}

void Server::StationStatistics(int16_t line) {
  send(line, 4,
       "Station Stats:" + lineBreak + "Calls Today:" + std::to_string(config.callsToday) + lineBreak +
           "Total Calls:" + std::to_string(config.totalCalls) + lineBreak + "Last Reboot:" +
           tme(config.startTime.Raw()) + " on " + dte(config.startDate.Raw()) + "." + lineBreak + "Last Call:" +
           tme(config.lastCallTime.Raw()) + " on " + dte(config.lastCallDate.Raw()) + "." + lineBreak);
}

}  // namespace tellarium
