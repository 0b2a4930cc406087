// Stored records as named fields: the station's own layouts, walked by a codec
// that collects each field's name with a way to show it and to set it, checked
// against its width and range. Reads and writes go through the station's
// record file layer, one whole record at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <limits>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "admin/tool.h"
#include "server/core/dates.h"
#include "server/core/error_trap.h"
#include "server/core/field_codec.h"
#include "server/core/record_layouts.h"

namespace tellarium::admin {

struct FieldAccess {
  std::string name;
  std::function<std::string()> show;
  std::function<void(std::string_view value)> set;  // throws AdminError
};

std::string CheckedText(const std::string& field, std::string_view value, std::size_t width);
// A number within the field's stated range, else within its type's.
int64_t CheckedNumber(const std::string& field, std::string_view value, int64_t typeLow, int64_t typeHigh);
bool CheckedFlag(const std::string& field, std::string_view value);
double CheckedDate(const std::string& field, std::string_view value);

// The codec that collects the fields of a record, named `prefix` + the
// layout's name.
class FieldCollector {
 public:
  FieldCollector(std::vector<FieldAccess>& fields, std::string prefix) : fields_(fields), prefix_(std::move(prefix)) {}

  template <std::size_t N>
  void Text(std::string_view name, FixedText<N>& text) {
    Add(name, [&text] { return text.Trimmed(); },
        [&text, field = prefix_ + std::string(name)](std::string_view value) { text = CheckedText(field, value, N); });
  }
  void Int16(std::string_view name, int16_t& number) { AddNumber(name, number); }
  void Int32(std::string_view name, int32_t& number) { AddNumber(name, number); }
  void Flag(std::string_view name, bool& flag) {
    Add(name, [&flag] { return std::string(flag ? "true" : "false"); },
        [&flag, field = prefix_ + std::string(name)](std::string_view value) { flag = CheckedFlag(field, value); });
  }
  void Date(std::string_view name, double& date) {
    Add(name, [&date] { return DayCountText(date); },
        [&date, field = prefix_ + std::string(name)](std::string_view value) { date = CheckedDate(field, value); });
  }

 private:
  template <class Number>
  void AddNumber(std::string_view name, Number& number) {
    Add(name, [&number] { return std::to_string(number); },
        [&number, field = prefix_ + std::string(name)](std::string_view value) {
          number = static_cast<Number>(
              CheckedNumber(field, value, std::numeric_limits<Number>::min(), std::numeric_limits<Number>::max()));
        });
  }
  void Add(std::string_view name, std::function<std::string()> show, std::function<void(std::string_view)> set) {
    fields_.push_back({prefix_ + std::string(name), std::move(show), std::move(set)});
  }

  std::vector<FieldAccess>& fields_;
  std::string prefix_;
};

// A record as the file holds it: its fields, and the write of that record only.
struct StoredRecord {
  std::vector<FieldAccess> fields;
  std::function<void()> write;
};

// A record slot wholly past the end of its file: an error, or the blank record
// the station reads there.
enum class PastEnd { kMissing, kBlank };

// The record's bytes, checked: a missing file, or a record the file holds only
// in part, is an error.
std::string ReadStoredBytes(const DataFile& file, int32_t number, std::size_t size, PastEnd pastEnd);
void WriteStoredBytes(const DataFile& file, int32_t number, const std::string& bytes);

template <class Layout>
void ReadStored(const DataFile& file, int32_t number, typename Layout::Record& record,
                PastEnd pastEnd = PastEnd::kMissing) {
  Decode<Layout>(ReadStoredBytes(file, number, StoredSize<Layout>(), pastEnd), record);
}

// Reads record `number` of `file` into `record`, which must outlive the result.
template <class Layout>
StoredRecord Stored(const DataFile& file, int32_t number, typename Layout::Record& record, std::string prefix = {},
                    PastEnd pastEnd = PastEnd::kMissing) {
  ReadStored<Layout>(file, number, record, pastEnd);
  StoredRecord stored;
  FieldCollector collector(stored.fields, std::move(prefix));
  Layout::Fields(collector, record);
  stored.write = [file, number, &record] { WriteStoredBytes(file, number, Encode<Layout>(record)); };
  return stored;
}

// One "name=value" line per field.
void ShowRecords(std::ostream& out, const std::vector<StoredRecord>& records);

// Sets the field named `name` (one of `settable`) and writes its record.
void SetField(std::vector<StoredRecord>& records, const std::set<std::string_view>& settable, std::string_view name,
              std::string_view value);

// The base name of "channel3.capacity" is "capacity".
std::string_view BaseName(std::string_view name);

}  // namespace tellarium::admin
