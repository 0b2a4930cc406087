// Socket error numbers (the classic sockets numbering: 10000 plus the BSD error
// number, 11001-11004 for name lookups) and the exception code and text each
// one is reported with.
#pragma once

#include <cstdint>

#include "platform/lookup.h"

namespace korvatel {

struct MappedError {
  int16_t code;
  const char* text;
};

constexpr int kWouldBlock = 10035;
constexpr int kInProgress = 10036;
constexpr int kLookupNotStarted = 11003;

// The exception code and text for a socket error number.
MappedError MapSocketError(int error_number);

// The socket error number for an errno value of this platform.
int SocketErrorFromErrno(int errno_value);

// The socket error number for a failed name lookup (0 when it did not fail).
int SocketErrorFromLookup(platform::LookupError error);

}  // namespace korvatel
