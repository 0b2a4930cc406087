#include "platform/lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "platform/loop_internal.h"

namespace platform {
namespace {

LookupOutcome SystemResolve(const std::string& name) {
  in_addr dotted{};
  if (::inet_pton(AF_INET, name.c_str(), &dotted) == 1) return {LookupError::kNone, dotted.s_addr};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int status = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (status != 0) {
    switch (status) {
      case EAI_NONAME: return {LookupError::kNoSuchName, 0};
      case EAI_AGAIN: return {LookupError::kTryAgain, 0};
#ifdef EAI_NODATA
      case EAI_NODATA: return {LookupError::kNoData, 0};
#endif
#ifdef EAI_ADDRFAMILY
      case EAI_ADDRFAMILY: return {LookupError::kNoData, 0};
#endif
      default: return {LookupError::kNoRecovery, 0};
    }
  }
  uint32_t address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(found);
  return {LookupError::kNone, address};
}

struct Completion {
  uint32_t handle;
  LookupOutcome outcome;
};

// Shared with the worker threads; outlives the process's last lookup.
struct Completions {
  std::mutex mutex;
  std::vector<Completion> done;
  int wake_fd = -1;
};

struct Pending {
  TargetId target;
  uint32_t message;
};

struct LookupState {
  Resolver resolver;
  std::shared_ptr<Completions> completions = std::make_shared<Completions>();
  std::map<uint32_t, Pending> pending;  // lookups not yet delivered nor cancelled
  uint32_t next_handle = 1;
};

LookupState& Lookups() {
  static LookupState* state = new LookupState;
  return *state;
}

// Runs on the loop's thread when a worker has finished.
void DeliverCompletions() {
  LookupState& state = Lookups();
  uint64_t count;
  if (::read(state.completions->wake_fd, &count, sizeof count) < 0) return;
  std::vector<Completion> done;
  {
    std::lock_guard lock(state.completions->mutex);
    done.swap(state.completions->done);
  }
  for (const Completion& c : done) {
    auto it = state.pending.find(c.handle);
    if (it == state.pending.end()) continue;  // cancelled
    Pending p = it->second;
    state.pending.erase(it);
    PostMessage(p.target, p.message, c.handle, PackLookup(c.outcome));
  }
}

bool EnsureWakeSource() {
  auto& completions = *Lookups().completions;
  if (completions.wake_fd >= 0) return true;
  completions.wake_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (completions.wake_fd < 0) return false;
  detail::AddReadableSource(completions.wake_fd, DeliverCompletions);
  return true;
}

}  // namespace

void SetResolver(Resolver resolver) { Lookups().resolver = std::move(resolver); }

uint32_t StartLookup(const std::string& name, TargetId target, uint32_t message) {
  LookupState& state = Lookups();
  if (!EnsureWakeSource()) return 0;
  uint32_t handle = state.next_handle++;
  if (state.next_handle == 0) state.next_handle = 1;
  Resolver resolve = state.resolver ? state.resolver : Resolver(SystemResolve);
  try {
    std::thread([handle, name, resolve, completions = state.completions] {
      LookupOutcome outcome = resolve(name);
      std::lock_guard lock(completions->mutex);
      completions->done.push_back({handle, outcome});
      uint64_t one = 1;
      [[maybe_unused]] ssize_t written = ::write(completions->wake_fd, &one, sizeof one);
    }).detach();
  } catch (const std::system_error&) {
    return 0;
  }
  state.pending[handle] = {target, message};
  return handle;
}

void CancelLookup(uint32_t handle) { Lookups().pending.erase(handle); }

}  // namespace platform
