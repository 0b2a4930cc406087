// What each address and account did lately, for the per-address and
// per-account defences of limits.conf: connections in the last 10 s, failed
// logins in the last 10 minutes, and which addresses are blocked until when.
// Times are the monotonic clock's milliseconds, passed in.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>

#include "server/core/limits.h"

namespace tellarium {

enum class Refusal { kNone, kTooManyLines, kTooManyConnections, kBlocked };

// What a failed login led to.
struct FailedLogin {
  int32_t addressFailures = 0;  // within the window, this one included
  bool blocksAddress = false;   // this failure blocked the address
  int32_t accountFailures = 0;
  int64_t answerDelayMs = 0;  // how long its answer waits; 0: at once
};

class AbuseWatch {
 public:
  static bool Exempt(const Limits& limits, const std::string& address);
  // A new connection from `address`, which holds `linesHeld` lines already;
  // every connection counts toward the rate, also a refused one.
  Refusal Screen(const Limits& limits, const std::string& address, int linesHeld, int64_t nowMs);
  // A failed login for `account` from `address`.
  FailedLogin NoteFailedLogin(const Limits& limits, const std::string& address, const std::string& account,
                              int64_t nowMs);

 private:
  struct AddressRecord {
    std::deque<int64_t> connects;
    std::deque<int64_t> failures;
    int64_t blockedUntilMs = 0;
  };
  void ForgetOld(int64_t nowMs);

  std::map<std::string, AddressRecord> addresses_;
  std::map<std::string, std::deque<int64_t>> accounts_;  // failed logins by account number
  int64_t nextSweepMs_ = 0;
};

}  // namespace tellarium
