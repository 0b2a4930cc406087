#include "admin/record_fields.h"

#include <algorithm>
#include <ostream>

#include "server/core/number_text.h"
#include "server/core/record_file.h"

namespace tellarium::admin {
namespace {

struct NumberRange {
  int64_t low;
  int64_t high;
};

constexpr NumberRange kPortRange{1, 32767};  // ports are kept as signed 16-bit numbers
constexpr NumberRange kLevelRange{0, 4};
constexpr NumberRange kTimeLimitRange{-1, 32767};  // -1: no limit

bool IsOneOf(std::string_view name, const auto& names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// The stated range of a field, where it has one narrower than its type's.
std::optional<NumberRange> StatedRange(std::string_view name) {
  if (name == "mainPort" || name == "auxPort" || name == "line0Port") return kPortRange;
  if (name == "maxLines") return NumberRange{1, kMaxMainLines};
  if (name == "capacity") return NumberRange{0, kMaxMainLines};
  if (name == "level" || name == "requiredLevel" || IsOneOf(name, kOptionNames)) return kLevelRange;
  if (IsOneOf(name, kTimeLimitNames)) return kTimeLimitRange;
  if (name == "slotAccount") return NumberRange{-1, kAccountCount - 1};
  return std::nullopt;
}

std::string ErrorText(const RunTimeError& error) { return std::string(error.description()); }

}  // namespace

std::string_view BaseName(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? name : name.substr(dot + 1);
}

std::string CheckedText(const std::string& field, std::string_view value, std::size_t width) {
  if (value.size() > width) {
    throw AdminError(field + " takes at most " + std::to_string(width) + " characters; \"" + std::string(value) +
                     "\" has " + std::to_string(value.size()) + ".");
  }
  const bool control = std::any_of(value.begin(), value.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
  if (control) throw AdminError(field + " cannot hold control characters.");
  return std::string(value);
}

int64_t CheckedNumber(const std::string& field, std::string_view value, int64_t typeLow, int64_t typeHigh) {
  const NumberRange range = StatedRange(BaseName(field)).value_or(NumberRange{typeLow, typeHigh});
  const std::optional<int64_t> number = WholeNumberIn(value, range.low, range.high);
  if (!number) {
    throw AdminError(field + " takes a whole number from " + std::to_string(range.low) + " to " +
                     std::to_string(range.high) + ", not \"" + std::string(value) + "\".");
  }
  return *number;
}

bool CheckedFlag(const std::string& field, std::string_view value) {
  if (value == "true" || value == "yes" || value == "1") return true;
  if (value == "false" || value == "no" || value == "0") return false;
  throw AdminError(field + " takes true or false, not \"" + std::string(value) + "\".");
}

double CheckedDate(const std::string& field, std::string_view value) {
  try {
    return ParseDayCount(value);
  } catch (const RunTimeError&) {
    throw AdminError(field + " takes a date such as 1/1/1980, not \"" + std::string(value) + "\".");
  }
}

std::string ReadStoredBytes(const DataFile& file, int32_t number, std::size_t size, PastEnd pastEnd) {
  if (!FileExists(file.name)) throw AdminError(file.name + " is missing.");
  std::string bytes;
  try {
    bytes = ReadRecord(file, number);
  } catch (const RunTimeError& error) {
    throw AdminError(file.name + " cannot be read: " + ErrorText(error) + ".");
  }
  if (bytes.size() >= size || (bytes.empty() && pastEnd == PastEnd::kBlank)) return bytes;
  throw AdminError(file.name + " is cut short: record " + std::to_string(number) + " has " +
                   std::to_string(bytes.size()) + " of its " + std::to_string(size) + " bytes.");
}

void WriteStoredBytes(const DataFile& file, int32_t number, const std::string& bytes) {
  try {
    WriteRecord(file, number, bytes);
  } catch (const RunTimeError& error) {
    throw AdminError(file.name + " cannot be written: " + ErrorText(error) + ".");
  }
}

void ShowRecords(std::ostream& out, const std::vector<StoredRecord>& records) {
  for (const StoredRecord& record : records) {
    for (const FieldAccess& field : record.fields) out << field.name << '=' << field.show() << '\n';
  }
}

void SetField(std::vector<StoredRecord>& records, const std::set<std::string_view>& settable, std::string_view name,
              std::string_view value) {
  for (StoredRecord& record : records) {
    for (FieldAccess& field : record.fields) {
      if (field.name != name) continue;
      if (!settable.contains(BaseName(name))) throw AdminError(std::string(name) + " cannot be set.");
      field.set(value);
      record.write();
      return;
    }
  }
  throw UsageError("There is no field " + std::string(name) + ".");
}

}  // namespace tellarium::admin
