#include "platform/lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <deque>
#include <map>
#include <mutex>
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

struct Request {
  uint32_t handle;
  std::string name;
  Resolver resolve;
};

// Lookups waiting for the worker. A station looks names up only for the
// SysOp's outdials and links, so a few are ever waiting; past this bound a
// lookup is refused rather than queued without end.
constexpr std::size_t kMaxWaitingLookups = 64;

// Shared between the loop's thread and the worker thread. The worker runs only
// while lookups wait: a station with a second thread pays for it in every
// system call on a descriptor, which the kernel then has to count references to.
struct Worker {
  std::mutex mutex;
  std::deque<Request> waiting;
  std::vector<Completion> done;
  int wake_fd = -1;
  bool running = false;
};

void RunWorker(Worker& worker) {
  std::unique_lock lock(worker.mutex);
  while (!worker.waiting.empty()) {
    Request request = std::move(worker.waiting.front());
    worker.waiting.pop_front();
    lock.unlock();
    const LookupOutcome outcome = request.resolve(request.name);
    lock.lock();
    worker.done.push_back({request.handle, outcome});
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(worker.wake_fd, &one, sizeof one);
  }
  worker.running = false;
}

struct Pending {
  TargetId target;
  uint32_t message;
};

struct LookupState {
  Resolver resolver;
  Worker* worker = new Worker;  // never freed: its thread may still be resolving at exit
  std::map<uint32_t, Pending> pending;  // lookups not yet delivered nor cancelled
  uint32_t next_handle = 1;
};

LookupState& Lookups() {
  static LookupState* state = new LookupState;
  return *state;
}

// Runs on the loop's thread when the worker has finished lookups.
void DeliverCompletions() {
  LookupState& state = Lookups();
  uint64_t count;
  if (::read(state.worker->wake_fd, &count, sizeof count) < 0) return;
  std::vector<Completion> done;
  {
    std::lock_guard lock(state.worker->mutex);
    done.swap(state.worker->done);
  }
  for (const Completion& c : done) {
    auto it = state.pending.find(c.handle);
    if (it == state.pending.end()) continue;  // cancelled
    Pending p = it->second;
    state.pending.erase(it);
    PostMessage(p.target, p.message, c.handle, PackLookup(c.outcome));
  }
}

// The wake source, made at the first lookup.
bool EnsureWakeSource() {
  Worker& worker = *Lookups().worker;
  if (worker.wake_fd >= 0) return true;
  worker.wake_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (worker.wake_fd < 0) return false;
  detail::AddReadableSource(worker.wake_fd, DeliverCompletions);
  return true;
}

// Starts the worker unless it runs; called with its mutex held, so that it
// cannot be just ending with the lookup left waiting.
bool EnsureWorkerRuns(Worker& worker) {
  if (worker.running) return true;
  try {
    std::thread([&worker] { RunWorker(worker); }).detach();
  } catch (const std::system_error&) {
    return false;
  }
  worker.running = true;
  return true;
}

}  // namespace

void SetResolver(Resolver resolver) { Lookups().resolver = std::move(resolver); }

uint32_t StartLookup(const std::string& name, TargetId target, uint32_t message) {
  LookupState& state = Lookups();
  if (!EnsureWakeSource()) return 0;
  Worker& worker = *state.worker;
  const uint32_t handle = state.next_handle;
  {
    std::lock_guard lock(worker.mutex);
    if (worker.waiting.size() >= kMaxWaitingLookups) return 0;
    worker.waiting.push_back({handle, name, state.resolver ? state.resolver : Resolver(SystemResolve)});
    if (!EnsureWorkerRuns(worker)) {
      worker.waiting.pop_back();
      return 0;
    }
  }
  state.next_handle = handle + 1 == 0 ? 1 : handle + 1;
  state.pending[handle] = {target, message};
  return handle;
}

// A lookup the worker has not begun is dropped from its queue as well.
void CancelLookup(uint32_t handle) {
  LookupState& state = Lookups();
  state.pending.erase(handle);
  std::lock_guard lock(state.worker->mutex);
  std::erase_if(state.worker->waiting, [handle](const Request& r) { return r.handle == handle; });
}

}  // namespace platform
