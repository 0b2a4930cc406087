// config: the five records of config.qvs and its sixteen channel records.
#include <ostream>

#include "admin/record_fields.h"

namespace tellarium::admin {
namespace {

// The call record (3) is the station's own count; occupancy is kept while it
// runs; the channel flags and the last option carry nothing a SysOp sets.
const std::set<std::string_view> kSettable{
    "stationTitle",  "infoLine0",     "infoLine1",     "infoLine2",      "stationText",   "postingLevel",
    "killLevel",     "relogLevel",    "lineEditLevel", "level1Limit",    "level0Limit",   "level2Limit",
    "level3Limit",   "level4Limit",   "ddialLinkLimit", "qvsLinkLimit",  "maxLines",      "mainPort",
    "auxPort",       "line0Port",     "name",          "capacity",       "requiredLevel",
};

struct StoredConfiguration {
  ServerConfig config;
  std::array<ChannelInfo, kChannelCount> channels;
  std::vector<StoredRecord> records;

  StoredConfiguration() {
    records.push_back(Stored<StationRecord>(kConfigFile, kStationRecordNumber, config));
    records.push_back(Stored<OptionsRecord>(kConfigFile, kOptionsRecordNumber, config));
    records.push_back(Stored<CallRecord>(kConfigFile, kCallRecordNumber, config));
    records.push_back(Stored<TimeLimitsRecord>(kConfigFile, kTimeLimitsRecordNumber, config));
    records.push_back(Stored<PortsRecord>(kConfigFile, kPortsRecordNumber, config));
    for (int channel = 1; channel <= kChannelCount; ++channel) {
      records.push_back(Stored<ChannelRecord>(kConfigFile, kFirstChannelRecord + channel - 1,
                                              channels[static_cast<std::size_t>(channel - 1)],
                                              "channel" + std::to_string(channel) + "."));
    }
  }
  StoredConfiguration(const StoredConfiguration&) = delete;
  StoredConfiguration& operator=(const StoredConfiguration&) = delete;
};

}  // namespace

void ConfigCommand(const CommandCall& call) {
  StoredConfiguration stored;
  if (call.args.empty()) {
    ShowRecords(call.console.out, stored.records);
    return;
  }
  if (call.args.size() != 3 || call.args[0] != "set") throw UsageError("config takes nothing, or set FIELD VALUE.");
  SetField(stored.records, kSettable, call.args[1], call.args[2]);
  NoteWhileStationRuns(call, "the configuration takes effect at its next start.");
}

}  // namespace tellarium::admin
