#include "server/core/limits.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <optional>

#include "server/core/number_text.h"
#include "server/core/record_file.h"

namespace tellarium {
namespace {

constexpr std::array<LimitSetting, 9> kSettings{{
    {"lines_per_address", &Limits::linesPerAddress, 1, 31},
    {"connects_per_address", &Limits::connectsPerAddress, 1, 10000},
    {"login_timeout_s", &Limits::loginTimeoutS, 10, 86400},
    {"failed_logins_to_block", &Limits::failedLoginsToBlock, 1, 10000},
    {"block_minutes", &Limits::blockMinutes, 1, 10080},
    {"account_failures_to_slow", &Limits::accountFailuresToSlow, 1, 10000},
    // The control holds at most 4 MiB unsent: past that a send is refused.
    {"output_bound_kib", &Limits::outputBoundKib, 64, 4096},
    {"exempt", nullptr, 0, 0, &Limits::exempt},
    {"proxy_from", nullptr, 0, 0, &Limits::proxyFrom},
}};

std::string_view TrimBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Addresses separated by commas or blanks; none at all is an empty list.
bool ParseAddresses(std::string_view text, std::vector<std::string>& addresses) {
  std::vector<std::string> read;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find_first_of(", ", start), text.size());
    if (end > start) read.emplace_back(text.substr(start, end - start));
    if (end > start && AddressFamilyOf(read.back()) == 0) return false;
    start = end + 1;
  }
  addresses = std::move(read);
  return true;
}

}  // namespace

bool IsListed(const std::vector<std::string>& addresses, const std::string& address) {
  return std::find(addresses.begin(), addresses.end(), address) != addresses.end();
}

int AddressFamilyOf(const std::string& text) {
  unsigned char address[16];
  for (const int family : {AF_INET, AF_INET6}) {
    if (::inet_pton(family, text.c_str(), address) == 1) return family;
  }
  return 0;
}

std::span<const LimitSetting> LimitSettings() { return kSettings; }

const LimitSetting* FindLimit(std::string_view key) {
  for (const LimitSetting& setting : kSettings) {
    if (setting.key == key) return &setting;
  }
  return nullptr;
}

bool ParseLimit(const LimitSetting& setting, std::string_view value, Limits& limits) {
  if (setting.addresses != nullptr) return ParseAddresses(value, limits.*setting.addresses);
  const std::optional<int64_t> number = WholeNumberIn(value, setting.low, setting.high);
  if (number) limits.*setting.number = static_cast<int32_t>(*number);
  return number.has_value();
}

std::string ShowLimit(const LimitSetting& setting, const Limits& limits) {
  if (setting.number != nullptr) return std::to_string(limits.*setting.number);
  std::string list;
  for (const std::string& address : limits.*setting.addresses) list += (list.empty() ? "" : ", ") + address;
  return list;
}

LimitLine SplitLimitLine(std::string_view line, std::string_view& key, std::string_view& value) {
  line = TrimBlanks(line.substr(0, line.find('#')));
  if (line.empty()) return LimitLine::kNothing;
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return LimitLine::kUnreadable;
  key = TrimBlanks(line.substr(0, equals));
  value = TrimBlanks(line.substr(equals + 1));
  return LimitLine::kSetting;
}

Limits ReadLimits(std::vector<std::string>& unread) {
  Limits limits;
  if (!FileExists(kLimitsFile)) return limits;
  TextFileReader reader(kLimitsFile);
  int number = 0;
  while (std::optional<std::string> line = reader.NextLine()) {
    ++number;
    std::string_view key, value;
    const LimitLine kind = SplitLimitLine(*line, key, value);
    if (kind == LimitLine::kNothing) continue;
    const LimitSetting* setting = kind == LimitLine::kSetting ? FindLimit(key) : nullptr;
    if (setting == nullptr || !ParseLimit(*setting, value, limits)) {
      unread.push_back("line " + std::to_string(number) + ": " + *line);
    }
  }
  return limits;
}

}  // namespace tellarium
