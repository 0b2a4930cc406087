// Client configuration packets: code 1, the group digit, "|", then the
// group's fields, each ended by "|". Each group is described once by its
// field list; CFGAssemble writes it and cfgparse reads it back.
#include <functional>

#include "server/core/dates.h"
#include "server/core/packet_fields.h"
#include "server/core/record_layouts.h"
#include "server/core/server.h"

namespace tellarium {

namespace {

struct ConfigGroup {
  PacketFields fields;
  std::function<void()> prepare;             // before the fields are read
  std::vector<std::function<void()>> store;  // once every field was read
};

struct PacketTarget {
  int16_t index = 0;    // channel (group 0) or line (group 1)
  std::string slotKey;  // group 4
};

constexpr char kPacketStart = '\x01';

int16_t DigitValue(char c) { return c >= '0' && c <= '9' ? static_cast<int16_t>(c - '0') : int16_t{0}; }

PacketField NumberOf(int16_t& value) { return Int16Field([&value]() -> int16_t& { return value; }); }
PacketField FlagOf(bool& value) { return FlagField([&value]() -> bool& { return value; }); }
template <std::size_t N>
PacketField TextOf(FixedText<N>& value, Trimming trimming) {
  return TextField([&value]() -> FixedText<N>& { return value; }, trimming);
}


// One channel; only the first digit of its number counts, so channels 1 to 9.
ConfigGroup ChannelGroup(Server& server, PacketTarget& target) {
  auto channel = [&server, &target]() -> ChannelInfo& { return server.ChannelAt(target.index); };
  ConfigGroup group;
  group.fields = {
      {[&target] { return std::to_string(target.index); },
       [&target](const std::string& f) { target.index = f.empty() ? int16_t{0} : DigitValue(f[0]); }},
      Int16Field([channel]() -> int16_t& { return channel().requiredLevel; }),
      FlagField([channel]() -> bool& { return channel().flagA; }),
      Int16Field([channel]() -> int16_t& { return channel().occupancy; }),
      FlagField([channel]() -> bool& { return channel().flagB; }),
      Int16Field([channel]() -> int16_t& { return channel().capacity; }),
      TextField([channel]() -> FixedText<40>& { return channel().name; }, Trimming::kLeft),
  };
  group.store = {[&server, &target] { server.WriteChannelRecord(target.index); }};
  return group;
}

// One line's session data, kept in memory only.
ConfigGroup LineGroup(Server& server, PacketTarget& target) {
  auto line = [&server, &target]() -> LineState& { return server.LineAt(target.index); };
  ConfigGroup group;
  group.fields = {
      {[&target] { return std::to_string(target.index); },
       [&target](const std::string& f) { target.index = ToInt16(LeadingNumber(f)); }},
      TextField([line]() -> FixedText<40>& { return line().handle; }, Trimming::kLeft),
      Int16Field([line]() -> int16_t& { return line().level; }),
      Int32Field([line]() -> int32_t& { return line().channel; }),
      FlagField([line]() -> bool& { return line().clientFlag3; }),
      FlagField([line]() -> bool& { return line().clientFlag1; }),
      FlagField([line]() -> bool& { return line().clientFlag2; }),
  };
  return group;
}

// An information line sent empty is kept as "|".
ConfigGroup StationTextsGroup(Server& server) {
  ServerConfig& config = server.config;
  ConfigGroup group;
  group.fields = {TextOf(config.stationTitle, Trimming::kRight), TextOf(config.stationText, Trimming::kRight)};
  for (FixedText<40>& info : config.infoLine) {
    PacketField field = TextOf(info, Trimming::kRight);
    field.parse = [&info](const std::string& f) { info = f.empty() ? "|" : f; };
    group.fields.push_back(std::move(field));
  }
  group.store = {[&server] { server.WriteConfigRecord<StationRecord>(kStationRecordNumber); }};
  return group;
}

ConfigGroup OptionsGroup(Server& server) {
  ConfigGroup group;
  for (std::size_t option : {1, 3, 0, 2}) group.fields.push_back(NumberOf(server.config.options[option]));
  group.store = {[&server] { server.WriteConfigRecord<OptionsRecord>(kOptionsRecordNumber); }};
  return group;
}

// The current message slot. Its key goes out as the last character of the
// asking line's input (the index) and comes back as the first field.
ConfigGroup SlotGroup(Server& server, PacketTarget& target) {
  MessageSlot& slot = server.currentSlot;
  ConfigGroup group;
  group.prepare = [&slot] {
    slot.title = "";
    slot.text = "";
    slot.date = kSlotBaseDate;
  };
  group.fields = {
      {[&server, &target] {
         const std::string& input = server.InputLineAt(target.index);
         return input.empty() ? std::string() : input.substr(input.size() - 1);
       },
       [&target](const std::string& f) { target.slotKey = f; }},
      FlagOf(slot.slotFlag2),
      FlagOf(slot.slotFlag1),
      TextOf(slot.title, Trimming::kNone),
      FlagOf(slot.enabled),
      {[&slot] { return DayCountText(slot.date); }, [&slot](const std::string& f) { slot.date = ParseDayCount(f); }},
      NumberOf(slot.slotAccount),
      TextOf(slot.text, Trimming::kRight),
  };
  group.store = {[&server, &target] { server.WriteSlot(target.slotKey); }};
  return group;
}

// The record keeps maxLines as sent; the server runs with at most 31.
ConfigGroup PortsGroup(Server& server) {
  ServerConfig& config = server.config;
  ConfigGroup group;
  group.fields = {NumberOf(config.auxPort), NumberOf(config.line0Port), NumberOf(config.mainPort),
                  NumberOf(config.maxLines)};
  group.store = {[&server] { server.WriteConfigRecord<PortsRecord>(kPortsRecordNumber); },
                 [&server] { server.CapMaxLines(); },
                 [&server] { server.RestartListeners(); }};
  return group;
}

ConfigGroup TimeLimitsGroup(Server& server) {
  ConfigGroup group;
  for (std::size_t limit : {5, 3, 6, 0, 2, 1, 4}) group.fields.push_back(NumberOf(server.config.timeLimits[limit]));
  group.store = {[&server] { server.WriteConfigRecord<TimeLimitsRecord>(kTimeLimitsRecordNumber); }};
  return group;
}

std::optional<ConfigGroup> DescribeConfigGroup(Server& server, int16_t group, PacketTarget& target) {
  switch (group) {
    case kChannelGroup: return ChannelGroup(server, target);
    case kLineGroup: return LineGroup(server, target);
    case kStationTextsGroup: return StationTextsGroup(server);
    case kOptionsGroup: return OptionsGroup(server);
    case kSlotGroup: return SlotGroup(server, target);
    case kPortsGroup: return PortsGroup(server);
    case kTimeLimitsGroup: return TimeLimitsGroup(server);
    default: return std::nullopt;
  }
}

}  // namespace

std::string Server::CFGAssemble(int16_t group, int16_t index) {
  const ErrorTrap trap = Trap("CFGAssemble");
  PacketTarget target{index, {}};
  workText.clear();
  const std::optional<ConfigGroup> described = DescribeConfigGroup(*this, group, target);
  if (!described) return workText;
  workText = kPacketStart + std::to_string(group) + "|";
  for (const PacketField& field : described->fields) trap([&] { workText += field.assemble() + "|"; });
  return workText;
}

// A packet short of fields stops at the first missing "|": what was read is
// kept, and nothing is stored.
void Server::cfgparse(std::string a) {
  const ErrorTrap trap = Trap("cfgparse");
  const auto lastStart = a.rfind(kPacketStart);
  if (lastStart != std::string::npos) a.erase(0, lastStart + 1);
  const int16_t group = a.empty() ? int16_t{0} : DigitValue(a[0]);
  PacketTarget target;
  const std::optional<ConfigGroup> described = DescribeConfigGroup(*this, group, target);
  if (!described) return;
  // The slot group fills the current slot and writes it.
  std::optional<SharedBufferHold> hold;
  if (group == kSlotGroup) hold.emplace();
  if (described->prepare) trap(described->prepare);
  FieldCutter cutter(a.size() > 2 ? std::string_view(a).substr(2) : std::string_view());
  for (const PacketField& field : described->fields) {
    const std::optional<std::string> text = cutter.Next();
    if (!text) return;
    trap([&] { field.parse(*text); });
  }
  for (const auto& statement : described->store) trap(statement);
}

}  // namespace tellarium
