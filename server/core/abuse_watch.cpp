#include "server/core/abuse_watch.h"

#include <algorithm>
#include <climits>
#include <iterator>

namespace tellarium {
namespace {

constexpr int64_t kConnectWindowMs = 10'000;
constexpr int64_t kFailureWindowMs = 10 * 60'000;
constexpr int64_t kMinuteMs = 60'000;
// Addresses and accounts with nothing left in their windows are let go this
// often, so that a flood from many addresses leaves nothing behind.
constexpr int64_t kSweepGapMs = kMinuteMs;
// A slowed account's answers wait 1 s, then twice as long each time, up to 30 s.
constexpr int64_t kFirstDelayMs = 1'000;
constexpr int64_t kLongestDelayMs = 30'000;
constexpr int32_t kDoublingsToLongest = 5;

// Drops the times that have left the window and keeps at most `kept`: past
// that many, a larger count would change nothing.
int32_t CountWithin(std::deque<int64_t>& times, int64_t nowMs, int64_t windowMs, int32_t kept) {
  while (!times.empty() && nowMs - times.front() >= windowMs) times.pop_front();
  while (times.size() > static_cast<std::size_t>(kept)) times.pop_front();
  return static_cast<int32_t>(times.size());
}

int64_t AnswerDelayMs(int32_t failures, int32_t allowed) {
  const int32_t past = failures - allowed;
  if (past <= 0) return 0;
  return std::min(kLongestDelayMs, kFirstDelayMs << std::min(past - 1, kDoublingsToLongest));
}

}  // namespace

bool AbuseWatch::Exempt(const Limits& limits, const std::string& address) {
  return IsListed(limits.exempt, address);
}

// A flood is turned away before anything else, without a word.
Refusal AbuseWatch::Screen(const Limits& limits, const std::string& address, int linesHeld, int64_t nowMs) {
  if (Exempt(limits, address)) return Refusal::kNone;
  ForgetOld(nowMs);
  AddressRecord& record = addresses_[address];
  record.connects.push_back(nowMs);
  const int32_t allowed = limits.connectsPerAddress;
  if (CountWithin(record.connects, nowMs, kConnectWindowMs, allowed + 1) > allowed) {
    return Refusal::kTooManyConnections;
  }
  if (record.blockedUntilMs > nowMs) return Refusal::kBlocked;
  if (linesHeld >= limits.linesPerAddress) return Refusal::kTooManyLines;
  return Refusal::kNone;
}

FailedLogin AbuseWatch::NoteFailedLogin(const Limits& limits, const std::string& address, const std::string& account,
                                        int64_t nowMs) {
  FailedLogin failed;
  if (Exempt(limits, address)) return failed;
  ForgetOld(nowMs);
  AddressRecord& record = addresses_[address];
  record.failures.push_back(nowMs);
  failed.addressFailures = CountWithin(record.failures, nowMs, kFailureWindowMs, limits.failedLoginsToBlock);
  if (failed.addressFailures >= limits.failedLoginsToBlock && record.blockedUntilMs <= nowMs) {
    record.blockedUntilMs = nowMs + int64_t{limits.blockMinutes} * kMinuteMs;
    failed.blocksAddress = true;
  }
  std::deque<int64_t>& accountFailures = accounts_[account];
  accountFailures.push_back(nowMs);
  const int32_t allowed = limits.accountFailuresToSlow;
  failed.accountFailures =
      CountWithin(accountFailures, nowMs, kFailureWindowMs, allowed + kDoublingsToLongest + 1);
  failed.answerDelayMs = AnswerDelayMs(failed.accountFailures, allowed);
  return failed;
}

void AbuseWatch::ForgetOld(int64_t nowMs) {
  if (nowMs < nextSweepMs_) return;
  nextSweepMs_ = nowMs + kSweepGapMs;
  for (auto at = addresses_.begin(); at != addresses_.end();) {
    AddressRecord& record = at->second;
    const bool idle = CountWithin(record.connects, nowMs, kConnectWindowMs, INT32_MAX) == 0 &&
                      CountWithin(record.failures, nowMs, kFailureWindowMs, INT32_MAX) == 0 &&
                      record.blockedUntilMs <= nowMs;
    at = idle ? addresses_.erase(at) : std::next(at);
  }
  for (auto at = accounts_.begin(); at != accounts_.end();) {
    at = CountWithin(at->second, nowMs, kFailureWindowMs, INT32_MAX) == 0 ? accounts_.erase(at) : std::next(at);
  }
}

}  // namespace tellarium
