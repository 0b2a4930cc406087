// Hosting real controls in tests: a recording event sink, calls by dispatch
// id, a loop pump with a deadline and loopback helpers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "../server/support/caller.h"
#include "platform/automation.h"
#include "telnetctl/control/tnt_ctrl.h"
#include "telnetctl/korvatel.h"

namespace kvtest {

using platform::Variant;

struct Event {
  int32_t id;
  std::vector<Variant> args;  // references replaced by the values they refer to
  bool by_ref0 = false;       // the first argument arrived by reference

  std::string Text(size_t i) const { return args.at(i).as_text(); }
  int32_t Int(size_t i) const;
};

class Host : public platform::EventSink {
 public:
  Host();
  ~Host() override;

  void OnEvent(int32_t dispatch_id, std::span<Variant> args) override;

  // Drops the control (as a host would, also from inside an event).
  void Destroy();
  bool alive() const { return control_ != nullptr; }

  platform::Component& control() { return *control_; }
  korvatel::CTntCtrl& impl();

  platform::InvokeResult Invoke(int32_t id, platform::InvokeKind kind, std::vector<Variant> args,
                                Variant* result = nullptr);
  bool Call(int32_t id, std::vector<Variant> args);
  void Put(int32_t id, Variant value);
  Variant Get(int32_t id);

  bool Listen(int32_t timeout = 0) { return Call(tntlib::kDispListen, {Variant::Int32(timeout)}); }
  bool Connect(const std::string& host) { return Call(tntlib::kDispConnect, {Variant::Text(host)}); }
  bool Accept(int32_t session) { return Call(tntlib::kDispAccept, {Variant::Int32(session)}); }
  bool Send(const std::string& text) { return Call(tntlib::kDispSend, {Variant::Text(text)}); }
  bool Send(const std::string& text, Variant tag) { return Call(tntlib::kDispSend, {Variant::Text(text), tag}); }
  bool Close(bool abort) { return Call(tntlib::kDispClose, {Variant::Bool(abort)}); }
  bool Recv(int32_t size) { return Call(tntlib::kDispRecv, {Variant::Int32(size)}); }
  int State() { return Get(tntlib::kDispState).as_int16(); }

  // Events recorded so far, and those with one id.
  std::vector<Event> events;
  std::vector<Event> Of(int32_t id) const;
  size_t Count(int32_t id) const { return Of(id).size(); }
  // Everything received through OnRecv/OnRecvAlt as text, concatenated.
  std::string Received() const;
  bool Closed() const;  // an empty OnRecv arrived

  // Runs after each event is recorded.
  std::function<void(const Event&)> on_event;

 private:
  std::unique_ptr<platform::Component> control_;
};

// Runs the loop until `done` holds or `timeout_ms` passes; returns `done()`.
bool PumpUntil(const std::function<bool()>& done, int timeout_ms = 3000);
// Runs the loop for about `ms` milliseconds.
void PumpFor(int ms);

// A port below 32768 that a control may listen on without address reuse.
inline uint16_t FreePort() { return static_cast<uint16_t>(tellarium::testing::FreePort(false)); }

// A listener, the control that accepted the connection, and the client.
struct Pair {
  Host listener;
  Host server;
  Host client;
  uint16_t port = 0;
  // Connects client and server over loopback; server accepts inside the
  // listener's OnAccept. Properties may be set on the hosts beforehand.
  bool Open();
};

}  // namespace kvtest
