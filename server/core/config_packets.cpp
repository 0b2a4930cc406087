// Client configuration packets: code 1, the group digit, "|", then the
// group's fields, each ended by "|". Each group is described once by its
// field list; CFGAssemble writes it and cfgparse reads it back.
#include <functional>

#include "server/core/dates.h"
#include "server/core/record_layouts.h"
#include "server/core/server.h"

namespace tellarium {

struct Server::ConfigGroup {
  PacketFields fields;
  std::function<void()> prepare;             // before the fields are read
  std::vector<std::function<void()>> store;  // once every field was read
};

namespace {

constexpr char kPacketStart = '\x01';

int16_t DigitValue(char c) { return c >= '0' && c <= '9' ? static_cast<int16_t>(c - '0') : int16_t{0}; }

PacketField NumberOf(int16_t& value) { return Int16Field([&value]() -> int16_t& { return value; }); }
PacketField FlagOf(bool& value) { return FlagField([&value]() -> bool& { return value; }); }
template <std::size_t N>
PacketField TextOf(FixedText<N>& value, Trimming trimming) {
  return TextField([&value]() -> FixedText<N>& { return value; }, trimming);
}

}  // namespace

std::optional<Server::ConfigGroup> Server::DescribeConfigGroup(int16_t group, PacketTarget& target) {
  switch (group) {
    case 0: return ChannelGroup(target);
    case 1: return LineGroup(target);
    case 2: return StationTextsGroup();
    case 3: return OptionsGroup();
    case 4: return SlotGroup(target);
    case 5: return PortsGroup();
    case 6: return TimeLimitsGroup();
    default: return std::nullopt;
  }
}

// One channel; only the first digit of its number counts, so channels 1 to 9.
Server::ConfigGroup Server::ChannelGroup(PacketTarget& target) {
  auto channel = [this, &target]() -> ChannelInfo& { return ChannelAt(target.index); };
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
  group.store = {[this, &target] { WriteChannelRecord(target.index); }};
  return group;
}

// One line's session data, kept in memory only.
Server::ConfigGroup Server::LineGroup(PacketTarget& target) {
  auto line = [this, &target]() -> LineState& { return LineAt(target.index); };
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
Server::ConfigGroup Server::StationTextsGroup() {
  ConfigGroup group;
  group.fields = {TextOf(config.stationTitle, Trimming::kRight), TextOf(config.stationText, Trimming::kRight)};
  for (FixedText<40>& info : config.infoLine) {
    PacketField field = TextOf(info, Trimming::kRight);
    field.parse = [&info](const std::string& f) { info = f.empty() ? "|" : f; };
    group.fields.push_back(std::move(field));
  }
  group.store = {[this] { WriteConfigRecord<StationRecord>(kStationRecordNumber); }};
  return group;
}

Server::ConfigGroup Server::OptionsGroup() {
  ConfigGroup group;
  for (std::size_t option : {1, 3, 0, 2}) group.fields.push_back(NumberOf(config.options[option]));
  group.store = {[this] { WriteConfigRecord<OptionsRecord>(kOptionsRecordNumber); }};
  return group;
}

// The current message slot. Its key goes out as the last character of the
// current line's input and comes back as the first field.
Server::ConfigGroup Server::SlotGroup(PacketTarget& target) {
  MessageSlot& slot = currentSlot;
  ConfigGroup group;
  group.prepare = [&slot] {
    slot.title = "";
    slot.text = "";
    slot.date = kSlotBaseDate;
  };
  group.fields = {
      {[this] {
         const std::string& input = InputLineAt(currentLine);
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
  group.store = {[this, &target] { WriteSlot(target.slotKey); }};
  return group;
}

// The record keeps maxLines as sent; the server runs with at most 31.
Server::ConfigGroup Server::PortsGroup() {
  ConfigGroup group;
  group.fields = {NumberOf(config.auxPort), NumberOf(config.line0Port), NumberOf(config.mainPort),
                  NumberOf(config.maxLines)};
  group.store = {[this] { WriteConfigRecord<PortsRecord>(kPortsRecordNumber); },
                 [this] { CapMaxLines(); },
                 [this] { RestartListeners(); }};
  return group;
}

Server::ConfigGroup Server::TimeLimitsGroup() {
  ConfigGroup group;
  for (std::size_t limit : {5, 3, 6, 0, 2, 1, 4}) group.fields.push_back(NumberOf(config.timeLimits[limit]));
  group.store = {[this] { WriteConfigRecord<TimeLimitsRecord>(kTimeLimitsRecordNumber); }};
  return group;
}

std::string Server::CFGAssemble(int16_t group, int16_t index) {
  const ErrorTrap trap = Trap("CFGAssemble");
  PacketTarget target{index, {}};
  workText.clear();
  const std::optional<ConfigGroup> described = DescribeConfigGroup(group, target);
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
  const std::optional<ConfigGroup> described = DescribeConfigGroup(group, target);
  if (!described) return;
  if (described->prepare) trap(described->prepare);
  FieldCutter cutter(a.size() > 2 ? std::string_view(a).substr(2) : std::string_view());
  for (const PacketField& field : described->fields) {
    const std::optional<std::string> text = cutter.Next();
    if (!text) return;
    trap([&] { field.parse(*text); });
  }
  for (const auto& statement : described->store) trap(statement);
}

// Group 5 of the client's configuration: both listeners move to the ports
// just stored, line #0 first. Failures here are not reported.
void Server::RestartListeners() {
  if (!controls_) return;
  TelnetControl& Listener = *controls_->Listener;
  TelnetControl& Line0 = *controls_->Line0;
  Listener.Close(true);
  Line0.Close(true);
  SetListenerPorts();
  Line0.Listen(0);
  Listener.Listen(0);
}

}  // namespace tellarium
