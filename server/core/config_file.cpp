// config.qvs: the configuration and the channel table, created with defaults
// on a first start and loaded on every later one.
#include <array>
#include <ctime>

#include "platform/clock.h"
#include "server/core/dates.h"
#include "server/core/record_layouts.h"
#include "server/core/server.h"

namespace tellarium {
namespace {

struct ChannelDefault {
  const char* name;
  int16_t capacity;
  int16_t requiredLevel;
};

// Channels 1 to 9; the rest are empty.
constexpr std::array<ChannelDefault, 9> kDefaultChannels{{
    {"Main Channel", 30, 0},
    {"Gaming", 30, 1},
    {"Main Link", 30, 1},
    {"Link Gaming", 30, 1},
    {"Private #1", 2, 1},
    {"Private #2", 2, 1},
    {"Channel 7", 30, 1},
    {"Channel 8", 30, 1},
    {"SysOp Conference", 30, 2},
}};

void ReadChannelRecord(Server& server, int channel) {
  GetRecord<ChannelRecord>(kConfigFile, kFirstChannelRecord + channel - 1, server.ChannelAt(channel));
}

void SetStartTo(ServerConfig& config, const std::tm& now) {
  config.startTime = TimeText(now);
  config.startDate = DateText(now);
}

void SetDefaultConfiguration(Server& server, const std::tm& now) {
  ServerConfig& config = server.config;
  config = ServerConfig{};
  config.stationTitle = server.stationName + " QVS-" + server.stationNumber;
  config.infoLine[0] = "Tellarium #" + server.stationNumber;
  config.infoLine[1] = "Online";
  config.options = {1, 2, 3, 3, 0};
  config.timeLimits = {60, 15, -1, -1, -1, -1, -1};
  config.lastCallTime = TimeText(now);
  config.lastCallDate = DateText(now);
  SetStartTo(config, now);
  config.maxLines = 7;
  config.mainPort = 23;
  config.auxPort = 421;
  config.line0Port = 420;
  server.channels = {};
  for (std::size_t i = 0; i < kDefaultChannels.size(); ++i) {
    ChannelInfo& channel = server.channels[i];
    channel.name = kDefaultChannels[i].name;
    channel.capacity = kDefaultChannels[i].capacity;
    channel.requiredLevel = kDefaultChannels[i].requiredLevel;
    channel.flagA = true;
  }
}

void CreateConfiguration(Server& server, const ErrorTrap& trap, const std::tm& now) {
  SetDefaultConfiguration(server, now);
  trap([&] { server.WriteConfigRecord<StationRecord>(kStationRecordNumber); });
  trap([&] { server.WriteConfigRecord<OptionsRecord>(kOptionsRecordNumber); });
  trap([&] { server.WriteConfigRecord<CallRecord>(kCallRecordNumber); });
  trap([&] { server.WriteConfigRecord<TimeLimitsRecord>(kTimeLimitsRecordNumber); });
  trap([&] { server.WriteConfigRecord<PortsRecord>(kPortsRecordNumber); });
  for (int channel = 1; channel <= kChannelCount; ++channel) trap([&] { server.WriteChannelRecord(channel); });
}

void ReadConfiguration(Server& server, const ErrorTrap& trap) {
  ServerConfig& config = server.config;
  server.ShowProgress("Loading Main Configuration Data...");
  trap([&] { GetRecord<StationRecord>(kConfigFile, kStationRecordNumber, config); });
  trap([&] { GetRecord<OptionsRecord>(kConfigFile, kOptionsRecordNumber, config); });
  trap([&] { GetRecord<CallRecord>(kConfigFile, kCallRecordNumber, config); });
  trap([&] { GetRecord<TimeLimitsRecord>(kConfigFile, kTimeLimitsRecordNumber, config); });
  trap([&] { GetRecord<PortsRecord>(kConfigFile, kPortsRecordNumber, config); });
  server.ShowProgress("Initializing Channel Data.");
  for (int channel = 1; channel <= kChannelCount; ++channel) trap([&] { ReadChannelRecord(server, channel); });
}

// A new day clears today's calls and stamps the start in the file.
void StartNewDayIfNeeded(Server& server, const ErrorTrap& trap, const std::tm& now) {
  if (server.config.startDate == FixedText<10>(DateText(now))) return;
  server.config.callsToday = 0;
  SetStartTo(server.config, now);
  trap([&] { server.WriteConfigRecord<CallRecord>(kCallRecordNumber); });
}

}  // namespace

template <class Layout>
void Server::WriteConfigRecord(int32_t number) {
  PutRecord<Layout>(kConfigFile, number, config);
}

void Server::WriteChannelRecord(int channel) {
  PutRecord<ChannelRecord>(kConfigFile, kFirstChannelRecord + channel - 1, ChannelAt(channel));
}

void Server::LoadOrCreateConfiguration(const ErrorTrap& trap) {
  const std::tm now = platform::LocalNow();
  if (!FileExists(kConfigFile.name)) {
    CreateConfiguration(*this, trap, now);
    return;
  }
  ReadConfiguration(*this, trap);
  StartNewDayIfNeeded(*this, trap, now);
  SetStartTo(config, now);
}

template void Server::WriteConfigRecord<StationRecord>(int32_t);
template void Server::WriteConfigRecord<OptionsRecord>(int32_t);
template void Server::WriteConfigRecord<CallRecord>(int32_t);
template void Server::WriteConfigRecord<TimeLimitsRecord>(int32_t);
template void Server::WriteConfigRecord<PortsRecord>(int32_t);

}  // namespace tellarium
