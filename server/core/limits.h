// The station's defences against abuse, set in limits.conf in its data
// directory: "key = value" lines, "#" starting a comment. The file is the
// station's own beside config.qvs, whose layout never changes; without it every
// setting has its default, and the defaults are generous for honest use.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tellarium {

inline constexpr char kLimitsFile[] = "limits.conf";
inline constexpr int64_t kKib = 1024;

struct Limits {
  int32_t linesPerAddress = 3;
  int32_t connectsPerAddress = 10;  // new connections per 10 s
  int32_t loginTimeoutS = 120;
  int32_t failedLoginsToBlock = 5;  // within 10 minutes
  int32_t blockMinutes = 15;
  int32_t accountFailuresToSlow = 10;  // within 10 minutes
  int32_t outputBoundKib = 1024;
  std::vector<std::string> exempt{"127.0.0.1"};  // addresses no per-address defence applies to
  // Proxies whose connections start with a header naming the caller's address.
  std::vector<std::string> proxyFrom;
};

// One setting of the file: a number within its range, or a list of addresses.
struct LimitSetting {
  std::string_view key;
  int32_t Limits::*number;
  int32_t low;
  int32_t high;
  std::vector<std::string> Limits::*addresses = nullptr;
};
std::span<const LimitSetting> LimitSettings();

// Sets `limits` from the text of a value; false, changing nothing, when the
// text is not one (a number out of range, an address that is none).
bool ParseLimit(const LimitSetting& setting, std::string_view value, Limits& limits);
std::string ShowLimit(const LimitSetting& setting, const Limits& limits);

// What a line of the file holds: nothing (blank, or only a comment), a key
// and its value, or text without "=".
enum class LimitLine { kNothing, kSetting, kUnreadable };
LimitLine SplitLimitLine(std::string_view line, std::string_view& key, std::string_view& value);
const LimitSetting* FindLimit(std::string_view key);

bool IsListed(const std::vector<std::string>& addresses, const std::string& address);

// AF_INET or AF_INET6 for an address in its usual text form; 0 for other text.
int AddressFamilyOf(const std::string& text);

// The settings of limits.conf in the working directory. Each line that cannot
// be read is told in `unread` (its number and text); its setting keeps its default.
Limits ReadLimits(std::vector<std::string>& unread);

}  // namespace tellarium
