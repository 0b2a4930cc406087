#include "server/core/proxy_header.h"

#include <sys/socket.h>

#include <algorithm>
#include <vector>

#include "server/core/limits.h"
#include "server/core/number_text.h"

namespace tellarium {
namespace {

constexpr std::size_t kLongestHeader = 107;
constexpr std::string_view kSignature = "PROXY ";
constexpr std::string_view kLineEnd = "\r\n";

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t space = std::min(text.find(' ', start), text.size());
    words.push_back(text.substr(start, space - start));
    start = space + 1;
  }
  return words;
}

bool IsAddressOf(int family, std::string_view text) { return AddressFamilyOf(std::string(text)) == family; }
bool IsPort(std::string_view text) { return WholeNumberIn(text, 0, 65535).has_value(); }

ProxyHeaderKind KindOf(const std::vector<std::string_view>& words) {
  if (words.size() >= 2 && words[1] == "UNKNOWN") return ProxyHeaderKind::kUnknown;
  if (words.size() != 6 || (words[1] != "TCP4" && words[1] != "TCP6")) return ProxyHeaderKind::kMalformed;
  const int family = words[1] == "TCP4" ? AF_INET : AF_INET6;
  const bool valid = IsAddressOf(family, words[2]) && IsAddressOf(family, words[3]) && IsPort(words[4]) &&
                     IsPort(words[5]);
  return valid ? ProxyHeaderKind::kCaller : ProxyHeaderKind::kMalformed;
}

}  // namespace

ProxyHeader ReadProxyHeader(std::string_view bytes) {
  ProxyHeader header;
  const std::size_t compared = std::min(bytes.size(), kSignature.size());
  const std::size_t end = bytes.substr(0, kLongestHeader).find(kLineEnd);
  if (bytes.substr(0, compared) != kSignature.substr(0, compared) ||
      (end == std::string_view::npos && bytes.size() >= kLongestHeader)) {
    header.kind = ProxyHeaderKind::kMalformed;
  } else if (end != std::string_view::npos) {
    const std::vector<std::string_view> words = Words(bytes.substr(0, end));
    header.kind = KindOf(words);
    header.length = end + kLineEnd.size();
    if (header.kind == ProxyHeaderKind::kCaller) header.callerAddress = std::string(words[2]);
  }
  return header;
}

}  // namespace tellarium
