// Hosting real controls in tests: events recorded by id, calls by dispatch id,
// a loop pump with a deadline, and a connected pair on loopback.
#pragma once

#include <arpa/inet.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../platform/recorder.h"
#include "../server/support/caller.h"
#include "platform/lookup.h"
#include "platform/loop.h"
#include "telnetctl/control/tnt_ctrl.h"
#include "telnetctl/korvatel.h"

namespace kvtest {

using platform::InvokeKind;
using platform::Variant;
using namespace tntlib;
using Ints = std::vector<int32_t>;
using Strings = std::vector<std::string>;

struct Event {
  int32_t id;
  std::vector<Variant> args;  // references replaced by the values they refer to
  bool by_ref;                // the first argument arrived by reference
  int32_t Int(size_t i) const {
    return args.at(i).type() == Variant::Type::kInt16 ? args[i].as_int16() : args[i].as_int32();
  }
  std::string Text(size_t i) const {
    const Variant& v = args.at(i);
    return v.type() == Variant::Type::kText ? v.as_text() : std::string(v.as_bytes().begin(), v.as_bytes().end());
  }
};

class Host : public platform::EventSink {
 public:
  Host() : control_(KorvatelCreateControl()) {
    // There is no name service here: names under .test are loopback, others unknown.
    platform::SetResolver([](const std::string& name) -> platform::LookupOutcome {
      if (name.ends_with(".test")) return {platform::LookupError::kNone, htonl(INADDR_LOOPBACK)};
      return {platform::LookupError::kNoSuchName, 0};
    });
    control_->Advise(this);
  }
  void OnEvent(int32_t id, std::span<Variant> args) override {
    events.push_back({id, {}, !args.empty() && args[0].type() == Variant::Type::kRef});
    for (const Variant& arg : args) events.back().args.push_back(arg.Deref());
    if (on_event) on_event(events.back());
  }
  // Drops the control, as a host may, also from inside an event.
  void Destroy() { control_.reset(); }
  korvatel::CTntCtrl& impl() { return dynamic_cast<korvatel::CTntCtrl&>(*control_); }

  Variant Invoke(int32_t id, InvokeKind kind, std::vector<Variant> args = {}) {
    Variant result;
    EXPECT_EQ(control_->Invoke(id, kind, args, &result), platform::InvokeResult::kOk);
    return result;
  }
  bool Call(int32_t id, std::vector<Variant> args) {
    const Variant result = Invoke(id, InvokeKind::kMethod, args);
    return result.type() == Variant::Type::kBool && result.as_bool();
  }
  void Put(int32_t id, Variant value) { Invoke(id, InvokeKind::kPropertyPut, {value}); }
  Variant Get(int32_t id) { return Invoke(id, InvokeKind::kPropertyGet); }
  bool Listen(int32_t timeout = 0) { return Call(kDispListen, {Variant::Int32(timeout)}); }
  bool Connect(const std::string& host) { return Call(kDispConnect, {Variant::Text(host)}); }
  bool Accept(int32_t session) { return Call(kDispAccept, {Variant::Int32(session)}); }
  bool Send(const std::string& text) { return Call(kDispSend, {Variant::Text(text)}); }
  bool Close(bool abort) { return Call(kDispClose, {Variant::Bool(abort)}); }
  bool Recv(int32_t size) { return Call(kDispRecv, {Variant::Int32(size)}); }
  int State() { return Get(kDispState).as_int16(); }

  std::vector<Event> Of(int32_t id) const {
    std::vector<Event> found = events;
    std::erase_if(found, [id](const Event& e) { return e.id != id; });
    return found;
  }
  size_t Count(int32_t id) const { return std::ranges::count(events, id, &Event::id); }
  // The first argument of each event with the id: tags of OnSend, codes of OnException.
  Ints Firsts(int32_t id) const {
    Ints values;
    for (const Event& e : Of(id)) values.push_back(e.Int(0));
    return values;
  }
  // Each OnRecv/OnRecvAlt's data in order; an empty piece tells of the close.
  Strings Pieces() const {
    Strings pieces;
    for (const Event& e : events) {
      if (e.id == kEventOnRecv || e.id == kEventOnRecvAlt) pieces.push_back(e.Text(0));
    }
    return pieces;
  }
  std::string Received() const {
    std::string all;
    for (const std::string& piece : Pieces()) all += piece;
    return all;
  }
  bool Closed() const { return std::ranges::count(Pieces(), std::string()) > 0; }

  std::vector<Event> events;
  std::function<void(const Event&)> on_event;  // runs after each event is recorded

 private:
  std::unique_ptr<platform::Component> control_;
};

inline uint16_t FreePort() { return static_cast<uint16_t>(tellarium::testing::FreePort(false)); }

// A listener and the control it accepted into (inside OnAccept), connected to
// a client control, or to a plain socket when opened raw. Properties may be
// put on the hosts beforehand.
struct Pair {
  Host listener, server, client;
  std::unique_ptr<tellarium::testing::Caller> raw;
  uint16_t port = FreePort();
  bool Open(bool plain_socket = false) {
    listener.Put(kDispLocalPort, Variant::Int32(port));
    listener.on_event = [this](const Event& e) { if (e.id == kEventOnAccept) server.Accept(e.Int(0)); };
    if (!listener.Listen()) return false;
    client.Put(kDispRemotePort, Variant::Int32(port));
    if (plain_socket) raw = std::make_unique<tellarium::testing::Caller>(port, true);
    if (!raw && !client.Connect("loopback.test")) return false;  // through a lookup
    return PumpUntil([&] { return server.Count(kEventOnConnect) == 1 && (raw || client.Count(kEventOnConnect) == 1); });
  }
};

}  // namespace kvtest
