#include "server/core/telnet_control.h"

#include <array>
#include <utility>

#include "server/core/error_trap.h"
#include "telnetctl/korvatel.h"

namespace tellarium {
namespace {

using platform::InvokeKind;
using platform::Variant;

// Event arguments, read leniently: a value of another type reads as empty.
std::string TextArg(std::span<Variant> args, size_t i) {
  if (i >= args.size()) return {};
  const Variant& v = args[i].Deref();
  if (v.type() == Variant::Type::kText) return v.as_text();
  if (v.type() == Variant::Type::kBytes) return {v.as_bytes().begin(), v.as_bytes().end()};
  return {};
}

int32_t NumberArg(std::span<Variant> args, size_t i) {
  if (i >= args.size()) return 0;
  const Variant& v = args[i].Deref();
  switch (v.type()) {
    case Variant::Type::kInt16: return v.as_int16();
    case Variant::Type::kInt32: return v.as_int32();
    case Variant::Type::kDouble: return static_cast<int32_t>(v.as_double());
    default: return 0;
  }
}

bool IsTrue(const Variant& v) { return v.type() == Variant::Type::kBool && v.as_bool(); }

}  // namespace

TelnetControl::TelnetControl(int16_t index, TelnetControlEvents& events)
    : TelnetControl(index, events, std::unique_ptr<platform::Component>(KorvatelCreateControl())) {}

TelnetControl::TelnetControl(int16_t index, TelnetControlEvents& events, std::unique_ptr<platform::Component> component)
    : index_(index), events_(events), control_(std::move(component)) {
  control_->Advise(this);
}

TelnetControl::~TelnetControl() { control_->Advise(nullptr); }

Variant TelnetControl::Get(int32_t dispatch_id) {
  Variant result;
  control_->Invoke(dispatch_id, InvokeKind::kPropertyGet, {}, &result);
  return result;
}

void TelnetControl::Put(int32_t dispatch_id, Variant value) {
  std::array<Variant, 1> args{std::move(value)};
  control_->Invoke(dispatch_id, InvokeKind::kPropertyPut, args, nullptr);
}

Variant TelnetControl::Call(int32_t dispatch_id, std::span<Variant> args) {
  Variant result;
  control_->Invoke(dispatch_id, InvokeKind::kMethod, args, &result);
  return result;
}

int32_t TelnetControl::LocalPort() {
  Variant v = Get(tntlib::kDispLocalPort);
  return v.type() == Variant::Type::kInt32 ? v.as_int32() : 0;
}

void TelnetControl::SetLocalPort(int32_t port) { Put(tntlib::kDispLocalPort, Variant::Int32(port)); }

int32_t TelnetControl::RemotePort() {
  Variant v = Get(tntlib::kDispRemotePort);
  return v.type() == Variant::Type::kInt32 ? v.as_int32() : 0;
}

void TelnetControl::SetRemotePort(int32_t port) { Put(tntlib::kDispRemotePort, Variant::Int32(port)); }

void TelnetControl::SetReuseAddr(bool on) { Put(tntlib::kDispReuseAddr, Variant::Bool(on)); }

void TelnetControl::SetNoDelay(bool on) { Put(tntlib::kDispNoDelay, Variant::Bool(on)); }

int16_t TelnetControl::State() {
  Variant v = Get(tntlib::kDispState);
  return v.type() == Variant::Type::kInt16 ? v.as_int16() : int16_t{tntlib::tntClosed};
}

bool TelnetControl::Accept(int32_t new_session) {
  std::array<Variant, 1> args{Variant::Int32(new_session)};
  return IsTrue(Call(tntlib::kDispAccept, args));
}

bool TelnetControl::Close(bool abort) {
  std::array<Variant, 1> args{Variant::Bool(abort)};
  return IsTrue(Call(tntlib::kDispClose, args));
}

bool TelnetControl::Connect(const std::string& remote_host) {
  std::array<Variant, 1> args{Variant::Text(remote_host)};
  return IsTrue(Call(tntlib::kDispConnect, args));
}

bool TelnetControl::Listen(int32_t time_out_seconds) {
  std::array<Variant, 1> args{Variant::Int32(time_out_seconds)};
  return IsTrue(Call(tntlib::kDispListen, args));
}

bool TelnetControl::SendCmd(int16_t command, int16_t option, const std::string& sub_option, int32_t data_tag) {
  std::array<Variant, 4> args{Variant::Int16(command), Variant::Int16(option), Variant::Text(sub_option),
                              Variant::Int32(data_tag)};
  return IsTrue(Call(tntlib::kDispSendCmd, args));
}

bool TelnetControl::Send(std::string data, int32_t data_tag) {
  std::array<Variant, 2> args{Variant::Text(std::move(data)), Variant::Int32(data_tag)};
  return IsTrue(Call(tntlib::kDispSend, args));
}

// No exception goes back into the control: one that decoding an event raises
// (its text copied) is logged here, as a trap would.
void TelnetControl::OnEvent(int32_t dispatch_id, std::span<Variant> args) {
  try {
    RaiseEvent(dispatch_id, args);
  } catch (...) {
    LogCurrentError("Control Event", "");
  }
}

void TelnetControl::RaiseEvent(int32_t dispatch_id, std::span<Variant> args) {
  switch (dispatch_id) {
    case tntlib::kEventOnAccept:
      events_.OnAccept(index_, NumberArg(args, 0));
      break;
    case tntlib::kEventOnConnect:
      events_.OnConnect(index_, TextArg(args, 0), TextArg(args, 1), NumberArg(args, 2), TextArg(args, 3));
      break;
    case tntlib::kEventOnException:
      events_.OnException(index_, static_cast<int16_t>(NumberArg(args, 0)), TextArg(args, 1));
      break;
    case tntlib::kEventOnSend:
      events_.OnSend(index_, NumberArg(args, 0));
      break;
    case tntlib::kEventOnCmd:
      events_.OnCmd(index_, static_cast<int16_t>(NumberArg(args, 0)), static_cast<int16_t>(NumberArg(args, 1)),
                    TextArg(args, 2));
      break;
    case tntlib::kEventOnListen:
      events_.OnListen(index_, TextArg(args, 0), TextArg(args, 1));
      break;
    case tntlib::kEventOnRecv:
    case tntlib::kEventOnRecvAlt:
      events_.OnRecv(index_, TextArg(args, 0));
      break;
    default:
      break;
  }
}

}  // namespace tellarium
