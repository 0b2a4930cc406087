// Every stored record, described once by its field list, and the data files
// that hold them.
#pragma once

#include <cstdint>
#include <string>
#include <tuple>

#include "server/core/field_codec.h"
#include "server/core/record_file.h"
#include "server/core/server_tables.h"

namespace tellarium {

inline const DataFile kConfigFile{"config.qvs", 1024};
inline const DataFile kSlotFile{"mslots.qvs", 4192};
inline const DataFile kLastCallsFile{"lastcalls.qvs", 61};
constexpr std::size_t kAccountRecordLength = 4096;

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
  constexpr void Text(const FixedText<N>&) { size += N; }
  constexpr void Int16(const int16_t&) { size += 2; }
  constexpr void Int32(const int32_t&) { size += 4; }
  constexpr void Flag(const bool&) { size += 2; }
  constexpr void Date(const double&) { size += 8; }
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
    c.Text(r.stationTitle);
    for (auto& line : r.infoLine) c.Text(line);
    c.Text(r.stationText);
  }
};
static_assert(StoredSize<StationRecord>() == 200);

struct OptionsRecord {
  using Record = ServerConfig;
  template <class Codec, class R>
  static constexpr void Fields(Codec& c, R& r) {
    for (auto& option : r.options) c.Int16(option);
  }
};
static_assert(StoredSize<OptionsRecord>() == 10);

struct CallRecord {
  using Record = ServerConfig;
  template <class Codec, class R>
  static constexpr void Fields(Codec& c, R& r) {
    c.Int32(r.totalCalls);
    c.Int16(r.callsToday);
    c.Text(r.lastCallDate);
    c.Text(r.lastCallTime);
    c.Text(r.startTime);
    c.Text(r.startDate);
  }
};
static_assert(StoredSize<CallRecord>() == 42);

struct TimeLimitsRecord {
  using Record = ServerConfig;
  template <class Codec, class R>
  static constexpr void Fields(Codec& c, R& r) {
    for (auto& limit : r.timeLimits) c.Int16(limit);
  }
};
static_assert(StoredSize<TimeLimitsRecord>() == 14);

struct PortsRecord {
  using Record = ServerConfig;
  template <class Codec, class R>
  static constexpr void Fields(Codec& c, R& r) {
    c.Int16(r.maxLines);
    c.Int16(r.mainPort);
    c.Int16(r.auxPort);
    c.Int16(r.line0Port);
  }
};
static_assert(StoredSize<PortsRecord>() == 8);

struct ChannelRecord {
  using Record = ChannelInfo;
  template <class Codec, class R>
  static constexpr void Fields(Codec& c, R& r) {
    c.Text(r.name);
    c.Int16(r.capacity);
    c.Int16(r.occupancy);
    c.Int16(r.requiredLevel);
    c.Flag(r.flagA);
    c.Flag(r.flagB);
  }
};
static_assert(StoredSize<ChannelRecord>() == 50);

struct UserRecordLayout {
  using Record = UserRecord;
  template <class Codec, class R>
  static constexpr void Fields(Codec& c, R& r) {
    c.Text(r.handle);
    c.Text(r.profile1);
    c.Text(r.profile2);
    c.Text(r.profile3);
    c.Text(r.profile4);
    c.Text(r.profile5);
    c.Text(r.profile6);
    c.Int16(r.level);
    c.Int32(r.profileNumber);
    c.Text(r.password);
    c.Int32(r.counter1);
    c.Int32(r.counter2);
    c.Int32(r.mailStored);
    c.Int32(r.counter3);
    c.Text(r.lastMailDate);
    c.Text(r.lastMailTime);
    c.Text(r.lastCallDate);
    c.Text(r.lastCallTime);
    for (auto& flag : r.flags) c.Flag(flag);
  }
};
static_assert(StoredSize<UserRecordLayout>() == 292);

struct MessageSlotLayout {
  using Record = MessageSlot;
  template <class Codec, class R>
  static constexpr void Fields(Codec& c, R& r) {
    c.Int16(r.slotAccount);
    c.Date(r.date);
    c.Flag(r.slotFlag1);
    c.Flag(r.slotFlag2);
    c.Flag(r.enabled);
    c.Text(r.title);
    c.Text(r.text);
  }
};
static_assert(StoredSize<MessageSlotLayout>() == 4192);

struct LastCallerLayout {
  using Record = LastCallerRecord;
  template <class Codec, class R>
  static constexpr void Fields(Codec& c, R& r) {
    c.Text(r.handle);
    c.Text(r.account);
    c.Text(r.lineCode);
    c.Text(r.time);
    c.Text(r.date);
    c.Flag(r.inUse);
  }
};
static_assert(StoredSize<LastCallerLayout>() == 61);

struct EmailLayout {
  using Record = EmailRecord;
  template <class Codec, class R>
  static constexpr void Fields(Codec& c, R& r) {
    c.Text(r.fromHandle);
    c.Int16(r.fromKind);
    c.Int16(r.fromStation);
    c.Text(r.fromAccount);
    c.Text(r.sentTime);
    c.Text(r.sentDate);
    c.Text(r.body);
  }
};
static_assert(StoredSize<EmailLayout>() == 318);

}  // namespace tellarium
