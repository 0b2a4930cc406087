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

}  // namespace

template <class Layout>
void Server::ReadConfigRecord(int32_t number) {
  GetRecord<Layout>(kConfigFile, number, config);
}

template <class Layout>
void Server::WriteConfigRecord(int32_t number) {
  PutRecord<Layout>(kConfigFile, number, config);
}

void Server::ReadChannelRecord(int channel) {
  GetRecord<ChannelRecord>(kConfigFile, kFirstChannelRecord + channel - 1, ChannelAt(channel));
}

void Server::WriteChannelRecord(int channel) {
  PutRecord<ChannelRecord>(kConfigFile, kFirstChannelRecord + channel - 1, ChannelAt(channel));
}

void Server::LoadOrCreateConfiguration(const ErrorTrap& trap) {
  const std::tm now = platform::LocalNow();
  if (!FileExists(kConfigFile.name)) {
    CreateConfiguration(trap, now);
    return;
  }
  ReadConfiguration(trap);
  StartNewDayIfNeeded(trap, now);
  SetStartTo(now);
}

void Server::SetDefaultConfiguration(const std::tm& now) {
  config = ServerConfig{};
  config.stationTitle = stationName + " QVS-" + stationNumber;
  config.infoLine[0] = "Tellarium #" + stationNumber;
  config.infoLine[1] = "Online";
  config.options = {1, 2, 3, 3, 0};
  config.timeLimits = {60, 15, -1, -1, -1, -1, -1};
  config.lastCallTime = TimeText(now);
  config.lastCallDate = DateText(now);
  SetStartTo(now);
  config.maxLines = 7;
  config.mainPort = 23;
  config.auxPort = 421;
  config.line0Port = 420;
  channels = {};
  for (std::size_t i = 0; i < kDefaultChannels.size(); ++i) {
    channels[i].name = kDefaultChannels[i].name;
    channels[i].capacity = kDefaultChannels[i].capacity;
    channels[i].requiredLevel = kDefaultChannels[i].requiredLevel;
    channels[i].flagA = true;
  }
}

void Server::CreateConfiguration(const ErrorTrap& trap, const std::tm& now) {
  SetDefaultConfiguration(now);
  trap([&] { WriteConfigRecord<StationRecord>(kStationRecordNumber); });
  trap([&] { WriteConfigRecord<OptionsRecord>(kOptionsRecordNumber); });
  trap([&] { WriteConfigRecord<CallRecord>(kCallRecordNumber); });
  trap([&] { WriteConfigRecord<TimeLimitsRecord>(kTimeLimitsRecordNumber); });
  trap([&] { WriteConfigRecord<PortsRecord>(kPortsRecordNumber); });
  for (int channel = 1; channel <= kChannelCount; ++channel) trap([&] { WriteChannelRecord(channel); });
}

void Server::ReadConfiguration(const ErrorTrap& trap) {
  ShowProgress("Loading Main Configuration Data...");
  trap([&] { ReadConfigRecord<StationRecord>(kStationRecordNumber); });
  trap([&] { ReadConfigRecord<OptionsRecord>(kOptionsRecordNumber); });
  trap([&] { ReadConfigRecord<CallRecord>(kCallRecordNumber); });
  trap([&] { ReadConfigRecord<TimeLimitsRecord>(kTimeLimitsRecordNumber); });
  trap([&] { ReadConfigRecord<PortsRecord>(kPortsRecordNumber); });
  ShowProgress("Initializing Channel Data.");
  for (int channel = 1; channel <= kChannelCount; ++channel) trap([&] { ReadChannelRecord(channel); });
}

// A new day clears today's calls and stamps the start in the file.
void Server::StartNewDayIfNeeded(const ErrorTrap& trap, const std::tm& now) {
  if (config.startDate == FixedText<10>(DateText(now))) return;
  config.callsToday = 0;
  SetStartTo(now);
  trap([&] { WriteConfigRecord<CallRecord>(kCallRecordNumber); });
}

void Server::SetStartTo(const std::tm& now) {
  config.startTime = TimeText(now);
  config.startDate = DateText(now);
}

}  // namespace tellarium

namespace tellarium {

template void Server::ReadConfigRecord<StationRecord>(int32_t);
template void Server::ReadConfigRecord<OptionsRecord>(int32_t);
template void Server::ReadConfigRecord<CallRecord>(int32_t);
template void Server::ReadConfigRecord<TimeLimitsRecord>(int32_t);
template void Server::ReadConfigRecord<PortsRecord>(int32_t);
template void Server::WriteConfigRecord<StationRecord>(int32_t);
template void Server::WriteConfigRecord<OptionsRecord>(int32_t);
template void Server::WriteConfigRecord<CallRecord>(int32_t);
template void Server::WriteConfigRecord<TimeLimitsRecord>(int32_t);
template void Server::WriteConfigRecord<PortsRecord>(int32_t);

}  // namespace tellarium
