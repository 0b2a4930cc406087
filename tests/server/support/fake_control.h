// A stand-in for the telnet control: it answers the dispatch ids the server
// uses, records what the server sent, and raises events on request.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/automation.h"
#include "platform/loop.h"
#include "server/core/server.h"
#include "telnetctl/korvatel.h"

namespace tellarium::testing {

class FakeControl final : public platform::Component {
 public:
  using Variant = platform::Variant;

  platform::InvokeResult Invoke(int32_t id, platform::InvokeKind kind, std::span<Variant> args,
                                Variant* result) override {
    // Properties put are taken and dropped; only State is read back.
    if (kind == platform::InvokeKind::kPropertyPut) return platform::InvokeResult::kOk;
    if (kind == platform::InvokeKind::kPropertyGet) {
      if (id == tntlib::kDispState && result) *result = Variant::Int16(state);
      return platform::InvokeResult::kOk;
    }
    bool ok = true;
    switch (id) {
      case tntlib::kDispSend:
        ok = state == tntlib::tntConnected;
        if (ok) sent += args[0].as_text(), ++sends;
        break;
      case tntlib::kDispClose:
        closes.push_back(args[0].as_bool());
        state = args[0].as_bool() ? tntlib::tntClosed : tntlib::tntClosing;
        break;
      case tntlib::kDispListen: state = tntlib::tntListening; break;
      case tntlib::kDispAccept:
        accepted.push_back(args[0].as_int32());
        state = tntlib::tntConnected;
        RaiseConnect();
        break;
      default: break;
    }
    if (result) *result = Variant::Bool(ok);
    return platform::InvokeResult::kOk;
  }
  void Advise(platform::EventSink* s) override { sink = s; }
  void SetUserMode(bool) override {}
  void SaveProperties(platform::PropertyBag&) override {}
  void LoadProperties(const platform::PropertyBag&) override {}
  void ResetProperties() override {}
  bool IsModified() const override { return false; }

  void RaiseConnect() {
    std::array<Variant, 4> args{Variant::Text("127.0.0.1"), Variant::Text("127.0.0.1"), Variant::Int32(23),
                                Variant::Text("host")};
    if (sink) sink->OnEvent(tntlib::kEventOnConnect, args);
  }
  void RaiseRecv(const std::string& data) {
    std::array<Variant, 1> args{Variant::Text(data)};
    if (sink) sink->OnEvent(tntlib::kEventOnRecv, args);
  }
  void RaiseAccept(int32_t session) {
    std::array<Variant, 1> args{Variant::Int32(session)};
    if (sink) sink->OnEvent(tntlib::kEventOnAccept, args);
  }
  // What was sent since the last call.
  std::string TakeSent() { return std::exchange(sent, {}); }

  int16_t state = tntlib::tntClosed;
  std::string sent;
  int sends = 0;
  std::vector<bool> closes;
  std::vector<int32_t> accepted;
  platform::EventSink* sink = nullptr;
};

// A server whose controls are fakes, created in the server's order: the
// main-port listener, the line #0 listener, then the lines 0..31.
class FakeControlServer : public Server {
 public:
  FakeControlServer()
      : Server([this] {
          auto fake = std::make_unique<FakeControl>();
          fakes_.push_back(fake.get());
          return std::unique_ptr<platform::Component>(std::move(fake));
        }) {}

  FakeControl& Listener() { return *fakes_[0]; }
  FakeControl& Port(int line) { return *fakes_[static_cast<std::size_t>(line) + 2]; }

  // A connected line in the given state.
  void Connect(int16_t line, int16_t status, int16_t substate = 0) {
    Port(line).state = tntlib::tntConnected;
    lines[static_cast<std::size_t>(line)].status = status;
    lines[static_cast<std::size_t>(line)].substate = substate;
    lines[static_cast<std::size_t>(line)].lineType = kTelnetLine;
  }

 private:
  std::vector<FakeControl*> fakes_;
};

// Runs `action` the next time the server lets events run, as a caller
// hanging up or dialling in meanwhile would.
class AtNextPump final : public platform::MessageTarget {
 public:
  explicit AtNextPump(std::function<void()> action) : action_(std::move(action)) {
    platform::PostMessage(target_id(), platform::kFirstUserMessage);
  }
  void HandleMessage(uint32_t, uint64_t, int64_t) override { action_(); }

 private:
  std::function<void()> action_;
};

}  // namespace tellarium::testing
