#include "host.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "platform/loop.h"
#include "platform/lookup.h"

namespace kvtest {

int32_t Event::Int(size_t i) const {
  const Variant& v = args.at(i);
  if (v.type() == Variant::Type::kInt16) return v.as_int16();
  return v.as_int32();
}

Host::Host() : control_(KorvatelCreateControl()) { control_->Advise(this); }

Host::~Host() { Destroy(); }

void Host::Destroy() { control_.reset(); }

korvatel::CTntCtrl& Host::impl() { return dynamic_cast<korvatel::CTntCtrl&>(*control_); }

void Host::OnEvent(int32_t dispatch_id, std::span<Variant> args) {
  Event event{dispatch_id, {}};
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i].type() == Variant::Type::kRef && i == 0) event.by_ref0 = true;
    event.args.push_back(args[i].Deref());
  }
  events.push_back(event);
  if (on_event) on_event(events.back());
}

platform::InvokeResult Host::Invoke(int32_t id, platform::InvokeKind kind, std::vector<Variant> args,
                                    Variant* result) {
  return control_->Invoke(id, kind, args, result);
}

bool Host::Call(int32_t id, std::vector<Variant> args) {
  Variant result;
  EXPECT_EQ(Invoke(id, platform::InvokeKind::kMethod, std::move(args), &result), platform::InvokeResult::kOk);
  return result.type() == Variant::Type::kBool && result.as_bool();
}

void Host::Put(int32_t id, Variant value) {
  EXPECT_EQ(Invoke(id, platform::InvokeKind::kPropertyPut, {std::move(value)}), platform::InvokeResult::kOk);
}

Variant Host::Get(int32_t id) {
  Variant result;
  EXPECT_EQ(Invoke(id, platform::InvokeKind::kPropertyGet, {}, &result), platform::InvokeResult::kOk);
  return result;
}

std::vector<Event> Host::Of(int32_t id) const {
  std::vector<Event> found;
  for (const Event& e : events) {
    if (e.id == id) found.push_back(e);
  }
  return found;
}

std::string Host::Received() const {
  std::string all;
  for (const Event& e : events) {
    if (e.id != tntlib::kEventOnRecv && e.id != tntlib::kEventOnRecvAlt) continue;
    const Variant& v = e.args[0];
    if (v.type() == Variant::Type::kText) all += v.as_text();
    if (v.type() == Variant::Type::kBytes) all.append(v.as_bytes().begin(), v.as_bytes().end());
  }
  return all;
}

bool Host::Closed() const {
  for (const Event& e : events) {
    if (e.id != tntlib::kEventOnRecv && e.id != tntlib::kEventOnRecvAlt) continue;
    const Variant& v = e.args[0];
    if (v.type() == Variant::Type::kText ? v.as_text().empty() : v.as_bytes().empty()) return true;
  }
  return false;
}

bool PumpUntil(const std::function<bool()>& done, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    platform::Pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void PumpFor(int ms) {
  PumpUntil([] { return false; }, ms);
}

bool Pair::Open() {
  port = FreePort();
  listener.Put(tntlib::kDispLocalPort, Variant::Int32(port));
  listener.on_event = [this](const Event& e) {
    if (e.id == tntlib::kEventOnAccept) server.Accept(e.Int(0));
  };
  if (!listener.Listen()) return false;
  client.Put(tntlib::kDispRemotePort, Variant::Int32(port));
  if (!client.Connect("127.0.0.1")) return false;
  return PumpUntil([this] {
    return client.Count(tntlib::kEventOnConnect) == 1 && server.Count(tntlib::kEventOnConnect) == 1;
  });
}

namespace {

// Every test runs in a scratch directory (debug files land there) with a
// resolver that knows only a few test names; there is no name service here.
class TestEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    char pattern[] = "/tmp/kvtest.XXXXXX";
    if (::mkdtemp(pattern) != nullptr && ::chdir(pattern) == 0) scratch_ = pattern;
    platform::SetResolver([](const std::string& name) {
      platform::LookupOutcome outcome;
      if (name == "loopback.test") {
        outcome.address = htonl(INADDR_LOOPBACK);
      } else if (name == "busy.test") {
        outcome.error = platform::LookupError::kTryAgain;
      } else if (name == "nodata.test") {
        outcome.error = platform::LookupError::kNoData;
      } else {
        char host[65] = {};
        ::gethostname(host, 64);
        if (name == host) {
          outcome.address = htonl(INADDR_LOOPBACK);
        } else {
          outcome.error = platform::LookupError::kNoSuchName;
        }
      }
      return outcome;
    });
  }
  void TearDown() override {
    if (!scratch_.empty()) std::system(("rm -rf '" + scratch_ + "'").c_str());
  }

 private:
  std::string scratch_;
};

[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new TestEnvironment);

}  // namespace

}  // namespace kvtest
