// Asynchronous host-name lookup whose result arrives as a message.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/loop.h"

namespace platform {

enum class LookupError : int32_t {
  kNone = 0,
  kNoSuchName = 1,  // the name does not exist
  kTryAgain = 2,    // a temporary failure
  kNoRecovery = 3,  // a permanent failure
  kNoData = 4,      // the name exists but has no IPv4 address
};

struct LookupOutcome {
  LookupError error = LookupError::kNone;
  uint32_t address = 0;  // IPv4, network byte order
};

// Resolves one name; runs on a worker thread and must touch nothing shared.
using Resolver = std::function<LookupOutcome(const std::string& name)>;

// Replaces the system resolver; an empty function restores it.
void SetResolver(Resolver resolver);

// Starts a lookup; one worker thread resolves them in turn. Its outcome is
// posted to `target` as `message` with wparam = the handle and lparam =
// PackLookup(outcome). Returns the handle (never 0), or 0 when the lookup
// cannot be started (no worker, or too many lookups waiting already).
uint32_t StartLookup(const std::string& name, TargetId target, uint32_t message);

// Drops a pending lookup: its result is never posted.
void CancelLookup(uint32_t handle);

constexpr int64_t PackLookup(LookupOutcome outcome) {
  return (static_cast<int64_t>(outcome.error) << 32) | outcome.address;
}
constexpr LookupOutcome UnpackLookup(int64_t lparam) {
  return {static_cast<LookupError>(lparam >> 32), static_cast<uint32_t>(lparam & 0xFFFFFFFF)};
}

}  // namespace platform
