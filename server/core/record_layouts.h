// Every stored record, described once by its field list, and the data files
// that hold them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>

#include "server/core/field_codec.h"
#include "server/core/record_file.h"
#include "server/core/server_tables.h"

namespace tellarium {

inline const DataFile kConfigFile{"config.qvs", 1024};
inline const DataFile kSlotFile{"mslots.qvs", 4192};
inline const DataFile kLastCallsFile{"lastcalls.qvs", 61};
constexpr std::size_t kAccountRecordLength = 4096;

// The data directory's other files: the system log, and the lock the station
// holds while it runs there.
inline constexpr char kSystemLogFile[] = "qvtalk.log";
inline constexpr char kStationLockFile[] = "tellarium.lock";

// The names of the fields kept in arrays, by position. Every field has a name,
// so the SysOp's tool shows and sets fields by the names the layouts give.
inline constexpr std::array<std::string_view, 3> kInfoLineNames{"infoLine0", "infoLine1", "infoLine2"};
inline constexpr std::array<std::string_view, 5> kOptionNames{"postingLevel", "killLevel", "relogLevel",
                                                               "lineEditLevel", "option4"};
inline constexpr std::array<std::string_view, 7> kTimeLimitNames{
    "level1Limit", "level0Limit", "level2Limit", "level3Limit", "level4Limit", "ddialLinkLimit", "qvsLinkLimit"};
inline constexpr std::array<std::string_view, kAccountFlagCount> kAccountFlagNames{
    "inUse", "chatUser", "mayLink", "flag3", "mayRemote", "linkTest",
    "ddlLink", "dclLink", "qvlLink", "qvsLink", "flag10"};

// config.qvs record numbers; channel c is record kFirstChannelRecord + c - 1.
enum ConfigRecordNumber : int32_t {
  kStationRecordNumber = 1,
  kOptionsRecordNumber = 2,
  kCallRecordNumber = 3,
  kTimeLimitsRecordNumber = 4,
  kPortsRecordNumber = 5,
  kFirstChannelRecord = 6,
};

// Account files: record 1 the account, record 2 the autobiography, e-mail k at k+2.
enum AccountRecordNumber : int32_t { kAccountRecord = 1, kAutobiographyRecord = 2, kFirstEmailRecord = 3 };
constexpr char kAutobiographyMark = '|';  // record 2 holds an autobiography after it

// A layout's stored size, counted at compile time from its field list. The
// records are only named, never read, so none is defined.
extern const std::tuple<ServerConfig, ChannelInfo, UserRecord, MessageSlot, LastCallerRecord, EmailRecord> kRecordShapes;
struct StoredSizeCounter {
  template <std::size_t N>
  constexpr void Text(std::string_view, const FixedText<N>&) { size += N; }
  constexpr void Int16(std::string_view, const int16_t&) { size += 2; }
  constexpr void Int32(std::string_view, const int32_t&) { size += 4; }
  constexpr void Flag(std::string_view, const bool&) { size += 2; }
  constexpr void Date(std::string_view, const double&) { size += 8; }
  std::size_t size = 0;
};
template <class Layout>
consteval std::size_t StoredSize() {
  StoredSizeCounter counter;
  Layout::Fields(counter, std::get<typename Layout::Record>(kRecordShapes));
  return counter.size;
}

struct StationRecord {
  using Record = ServerConfig;
  template <class Codec, class R>
  static constexpr void Fields(Codec& c, R& r) {
    c.Text("stationTitle", r.stationTitle);
    for (std::size_t i = 0; i < r.infoLine.size(); ++i) c.Text(kInfoLineNames[i], r.infoLine[i]);
    c.Text("stationText", r.stationText);
  }
};
static_assert(StoredSize<StationRecord>() == 200);

struct OptionsRecord {
  using Record = ServerConfig;
  template <class Codec, class R>
  static constexpr void Fields(Codec& c, R& r) {
    for (std::size_t i = 0; i < r.options.size(); ++i) c.Int16(kOptionNames[i], r.options[i]);
  }
};
static_assert(StoredSize<OptionsRecord>() == 10);

struct CallRecord {
  using Record = ServerConfig;
  template <class Codec, class R>
  static constexpr void Fields(Codec& c, R& r) {
    c.Int32("totalCalls", r.totalCalls);
    c.Int16("callsToday", r.callsToday);
    c.Text("lastCallDate", r.lastCallDate);
    c.Text("lastCallTime", r.lastCallTime);
    c.Text("startTime", r.startTime);
    c.Text("startDate", r.startDate);
  }
};
static_assert(StoredSize<CallRecord>() == 42);

struct TimeLimitsRecord {
  using Record = ServerConfig;
  template <class Codec, class R>
  static constexpr void Fields(Codec& c, R& r) {
    for (std::size_t i = 0; i < r.timeLimits.size(); ++i) c.Int16(kTimeLimitNames[i], r.timeLimits[i]);
  }
};
static_assert(StoredSize<TimeLimitsRecord>() == 14);

struct PortsRecord {
  using Record = ServerConfig;
  template <class Codec, class R>
  static constexpr void Fields(Codec& c, R& r) {
    c.Int16("maxLines", r.maxLines);
    c.Int16("mainPort", r.mainPort);
    c.Int16("auxPort", r.auxPort);
    c.Int16("line0Port", r.line0Port);
  }
};
static_assert(StoredSize<PortsRecord>() == 8);

struct ChannelRecord {
  using Record = ChannelInfo;
  template <class Codec, class R>
  static constexpr void Fields(Codec& c, R& r) {
    c.Text("name", r.name);
    c.Int16("capacity", r.capacity);
    c.Int16("occupancy", r.occupancy);
    c.Int16("requiredLevel", r.requiredLevel);
    c.Flag("flagA", r.flagA);
    c.Flag("flagB", r.flagB);
  }
};
static_assert(StoredSize<ChannelRecord>() == 50);

struct UserRecordLayout {
  using Record = UserRecord;
  template <class Codec, class R>
  static constexpr void Fields(Codec& c, R& r) {
    c.Text("handle", r.handle);
    c.Text("profile1", r.profile1);
    c.Text("profile2", r.profile2);
    c.Text("profile3", r.profile3);
    c.Text("profile4", r.profile4);
    c.Text("profile5", r.profile5);
    c.Text("profile6", r.profile6);
    c.Int16("level", r.level);
    c.Int32("profileNumber", r.profileNumber);
    c.Text("password", r.password);
    c.Int32("counter1", r.counter1);
    c.Int32("counter2", r.counter2);
    c.Int32("mailStored", r.mailStored);
    c.Int32("counter3", r.counter3);
    c.Text("lastMailDate", r.lastMailDate);
    c.Text("lastMailTime", r.lastMailTime);
    c.Text("lastCallDate", r.lastCallDate);
    c.Text("lastCallTime", r.lastCallTime);
    for (std::size_t i = 0; i < r.flags.size(); ++i) c.Flag(kAccountFlagNames[i], r.flags[i]);
  }
};
static_assert(StoredSize<UserRecordLayout>() == 292);

struct MessageSlotLayout {
  using Record = MessageSlot;
  template <class Codec, class R>
  static constexpr void Fields(Codec& c, R& r) {
    c.Int16("slotAccount", r.slotAccount);
    c.Date("date", r.date);
    c.Flag("slotFlag1", r.slotFlag1);
    c.Flag("slotFlag2", r.slotFlag2);
    c.Flag("enabled", r.enabled);
    c.Text("title", r.title);
    c.Text("text", r.text);
  }
};
static_assert(StoredSize<MessageSlotLayout>() == 4192);

struct LastCallerLayout {
  using Record = LastCallerRecord;
  template <class Codec, class R>
  static constexpr void Fields(Codec& c, R& r) {
    c.Text("handle", r.handle);
    c.Text("account", r.account);
    c.Text("lineCode", r.lineCode);
    c.Text("time", r.time);
    c.Text("date", r.date);
    c.Flag("inUse", r.inUse);
  }
};
static_assert(StoredSize<LastCallerLayout>() == 61);

struct EmailLayout {
  using Record = EmailRecord;
  template <class Codec, class R>
  static constexpr void Fields(Codec& c, R& r) {
    c.Text("fromHandle", r.fromHandle);
    c.Int16("fromKind", r.fromKind);
    c.Int16("fromStation", r.fromStation);
    c.Text("fromAccount", r.fromAccount);
    c.Text("sentTime", r.sentTime);
    c.Text("sentDate", r.sentDate);
    c.Text("body", r.body);
  }
};
static_assert(StoredSize<EmailLayout>() == 318);

}  // namespace tellarium
