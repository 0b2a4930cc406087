// The header a trusted proxy sends ahead of a caller's bytes to name the
// caller: "PROXY TCP4|TCP6 <caller> <proxy> <caller port> <proxy port>" CR LF,
// at most 107 bytes, or "PROXY UNKNOWN" and anything up to CR LF when the
// proxy cannot tell.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tellarium {

enum class ProxyHeaderKind { kIncomplete, kMalformed, kCaller, kUnknown };

struct ProxyHeader {
  ProxyHeaderKind kind = ProxyHeaderKind::kIncomplete;
  std::string callerAddress;  // of kCaller
  std::size_t length = 0;     // with its CR LF; what follows is the caller's
};

// Reads the header from the first bytes of a connection; kIncomplete while
// they may still become one.
ProxyHeader ReadProxyHeader(std::string_view bytes);

}  // namespace tellarium
