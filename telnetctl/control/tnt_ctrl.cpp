#include "telnetctl/control/tnt_ctrl.h"

#include <vector>

#include "platform/console.h"
#include "telnetctl/control/variant_rules.h"
#include "telnetctl/korvatel.h"
#include "telnetctl/telnet/telnet_codes.h"

namespace korvatel {

using platform::InvokeKind;
using platform::InvokeResult;
using platform::Variant;
using namespace tntlib;

namespace {

constexpr uint16_t LowPort(int32_t value) { return static_cast<uint16_t>(value & 0xFFFF); }

bool IsByteArrayForm(int32_t var_data_type) { return var_data_type == 1 || var_data_type == 3; }
bool IsAltEvent(int32_t var_data_type) { return (var_data_type & 2) != 0; }

// Property exchanges: into a bag, out of a bag, back to the defaults.
class SaveExchange final : public PropertyExchange {
 public:
  explicit SaveExchange(platform::PropertyBag& bag) : bag_(bag) { bag_.Write("_Version", Variant::Int32(kExchangeVersion)); }
  void Text(const char* name, std::string& value, const std::string&) override { bag_.Write(name, Variant::Text(value)); }
  void Int32(const char* name, int32_t& value, int32_t) override { bag_.Write(name, Variant::Int32(value)); }
  void Bool(const char* name, bool& value, bool) override { bag_.Write(name, Variant::Bool(value)); }

 private:
  platform::PropertyBag& bag_;
};

class LoadExchange final : public PropertyExchange {
 public:
  explicit LoadExchange(const platform::PropertyBag& bag) : bag_(bag) {}
  void Text(const char* name, std::string& value, const std::string& default_value) override {
    if (!ToText(bag_.Read(name), value)) value = default_value;
  }
  void Int32(const char* name, int32_t& value, int32_t default_value) override {
    if (!ToInt32(bag_.Read(name), value)) value = default_value;
  }
  void Bool(const char* name, bool& value, bool default_value) override {
    if (!ToBool(bag_.Read(name), value)) value = default_value;
  }

 private:
  const platform::PropertyBag& bag_;
};

class ResetExchange final : public PropertyExchange {
 public:
  void Text(const char*, std::string& value, const std::string& default_value) override { value = default_value; }
  void Int32(const char*, int32_t& value, int32_t default_value) override { value = default_value; }
  void Bool(const char*, bool& value, bool default_value) override { value = default_value; }
};

// The plain boolean properties by dispatch id.
bool TntProperties::* BoolProperty(int32_t dispatch_id) {
  switch (dispatch_id) {
    case kDispDebug: return &TntProperties::debug;
    case kDispNoDelay: return &TntProperties::no_delay;
    case kDispReuseAddr: return &TntProperties::reuse_addr;
    case kDispShowIcon: return &TntProperties::show_icon;
    case kDispAutoOption: return &TntProperties::auto_option;
    case kDispKeepAlive: return &TntProperties::keep_alive;
    default: return nullptr;
  }
}

int32_t TntProperties::* Int32Property(int32_t dispatch_id) {
  switch (dispatch_id) {
    case kDispLocalPort: return &TntProperties::local_port;
    case kDispRemotePort: return &TntProperties::remote_port;
    case kDispVarDataType: return &TntProperties::var_data_type;
    default: return nullptr;
  }
}

}  // namespace

// ---- properties -----------------------------------------------------------

void CTntCtrl::ExchangeProperties(PropertyExchange& exchange) {
  exchange.Text("LocalDotAddr", props_.local_dot_addr, "");
  exchange.Int32("LocalPort", props_.local_port, 0);
  exchange.Int32("RemotePort", props_.remote_port, 23);
  exchange.Bool("Debug", props_.debug, false);
  exchange.Bool("NoDelay", props_.no_delay, false);
  exchange.Bool("ReuseAddr", props_.reuse_addr, false);
  exchange.Bool("KeepAlive", props_.keep_alive, false);
  exchange.Bool("ShowIcon", props_.show_icon, false);
  exchange.Bool("AutoOption", props_.auto_option, false);
  exchange.Int32("VarDataType", props_.var_data_type, 0);
}

void CTntCtrl::SaveProperties(platform::PropertyBag& bag) {
  SaveExchange exchange(bag);
  ExchangeProperties(exchange);
  modified_ = false;
}

void CTntCtrl::LoadProperties(const platform::PropertyBag& bag) {
  LoadExchange exchange(bag);
  ExchangeProperties(exchange);
  modified_ = false;
}

void CTntCtrl::ResetProperties() {
  ResetExchange exchange;
  ExchangeProperties(exchange);
}

uint8_t CTntCtrl::SessionFlags() const {
  return static_cast<uint8_t>((props_.debug ? kFlagDebug : 0) | (props_.reuse_addr ? kFlagReuseAddr : 0) |
                              (props_.keep_alive ? kFlagKeepAlive : 0) | (props_.show_icon ? kFlagShowIcon : 0) |
                              (props_.no_delay ? kFlagNoDelay : 0));
}

InvokeResult CTntCtrl::GetProperty(int32_t dispatch_id, Variant* result) const {
  Variant value;
  if (dispatch_id == kDispState) {  // asked before every send
    if (!run_mode_) return InvokeResult::kNotSupported;
    value = Variant::Int16(session().state());
  } else if (auto field = BoolProperty(dispatch_id)) {
    value = Variant::Bool(props_.*field);
  } else if (auto number = Int32Property(dispatch_id)) {
    value = Variant::Int32(props_.*number);
  } else if (dispatch_id == kDispLocalDotAddr) {
    value = Variant::Text(props_.local_dot_addr);
  } else {
    return InvokeResult::kUnknownMember;
  }
  if (result != nullptr) *result = std::move(value);
  return InvokeResult::kOk;
}

InvokeResult CTntCtrl::PutProperty(int32_t dispatch_id, const Variant& value) {
  if (auto field = BoolProperty(dispatch_id)) {
    if (!ToBool(value, props_.*field)) return InvokeResult::kTypeMismatch;
  } else if (auto number = Int32Property(dispatch_id)) {
    if (!ToInt32(value, props_.*number)) return InvokeResult::kTypeMismatch;
  } else if (dispatch_id == kDispLocalDotAddr) {
    if (!ToText(value, props_.local_dot_addr)) return InvokeResult::kTypeMismatch;
  } else if (dispatch_id == kDispState) {
    return InvokeResult::kNotSupported;
  } else {
    return InvokeResult::kUnknownMember;
  }
  modified_ = true;
  return InvokeResult::kOk;
}

// ---- methods --------------------------------------------------------------

InvokeResult CTntCtrl::Invoke(int32_t dispatch_id, InvokeKind kind, std::span<Variant> args, Variant* result) {
  try {
    switch (kind) {
      case InvokeKind::kPropertyGet:
        if (!args.empty()) return InvokeResult::kBadArgCount;
        return GetProperty(dispatch_id, result);
      case InvokeKind::kPropertyPut:
        if (args.size() != 1) return InvokeResult::kBadArgCount;
        return PutProperty(dispatch_id, args[0]);
      case InvokeKind::kMethod: return CallMethod(dispatch_id, args, result);
    }
  } catch (...) {
    // Nothing crosses the component boundary.
  }
  return InvokeResult::kNotSupported;
}

InvokeResult CTntCtrl::CallMethod(int32_t dispatch_id, std::span<Variant> args, Variant* result) {
  auto expect = [&](size_t count) { return args.size() == count; };
  bool done = false;
  int32_t number = 0;
  bool flag = false;
  std::string text;
  switch (dispatch_id) {
    case kDispAccept:
      if (!expect(1)) return InvokeResult::kBadArgCount;
      if (!ToInt32(args[0], number)) return InvokeResult::kTypeMismatch;
      done = CTelnetSink::Accept(CTcpSession::FromId(static_cast<uint32_t>(number)), SessionFlags());
      break;
    case kDispClose:
      if (!expect(1)) return InvokeResult::kBadArgCount;
      if (!ToBool(args[0], flag)) return InvokeResult::kTypeMismatch;
      done = session().Close(flag);
      break;
    case kDispConnect:
      if (!expect(1)) return InvokeResult::kBadArgCount;
      if (!ToText(args[0], text)) return InvokeResult::kTypeMismatch;
      done = CTelnetSink::Connect(text, LowPort(props_.remote_port), props_.local_dot_addr, LowPort(props_.local_port),
                                  SessionFlags());
      break;
    case kDispListen:
      if (!expect(1)) return InvokeResult::kBadArgCount;
      if (!ToInt32(args[0], number)) return InvokeResult::kTypeMismatch;
      done = CTelnetSink::Listen(props_.local_dot_addr, LowPort(props_.local_port), LowPort(number), SessionFlags());
      break;
    case kDispRecv:
      if (!expect(1)) return InvokeResult::kBadArgCount;
      if (!ToInt32(args[0], number)) return InvokeResult::kTypeMismatch;
      done = session().SetMaxRecv(static_cast<uint32_t>(number));
      break;
    case kDispSendCmd:
      if (!expect(4)) return InvokeResult::kBadArgCount;
      if (InvokeResult checked = CallSendCmd(args, done); checked != InvokeResult::kOk) return checked;
      break;
    case kDispSend:
      if (args.empty() || args.size() > 2) return InvokeResult::kBadArgCount;
      done = CallSend(args);
      break;
    case kDispAboutBox:
      if (!expect(0)) return InvokeResult::kBadArgCount;
      platform::console::MessageBox("Korvanet TELNET Control, version 4.0");
      return InvokeResult::kOk;
    default: return InvokeResult::kUnknownMember;
  }
  if (result != nullptr) *result = Variant::Bool(done);
  return InvokeResult::kOk;
}

InvokeResult CTntCtrl::CallSendCmd(std::span<Variant> args, bool& done) {
  int32_t command = 0;
  int32_t option = 0;
  int32_t tag = 0;
  if (!ToInt32(args[0], command) || !ToInt32(args[1], option) || !ToInt32(args[3], tag)) {
    return InvokeResult::kTypeMismatch;
  }
  // The suboption must be plain text: a reference or a number sends nothing.
  if (args[2].type() != Variant::Type::kText) {
    done = false;
    return InvokeResult::kOk;
  }
  const std::string& suboption = args[2].as_text();
  done = SendCommand(static_cast<uint8_t>(command), static_cast<uint8_t>(option),
                     reinterpret_cast<const uint8_t*>(suboption.data()), suboption.size(), static_cast<uint32_t>(tag));
  return InvokeResult::kOk;
}

bool CTntCtrl::CallSend(std::span<Variant> args) {
  std::span<const uint8_t> bytes;
  if (!SendData(args[0], bytes)) return false;
  const uint32_t tag = DataTag(args.size() > 1 ? &args[1] : nullptr);
  return Send(bytes.data(), bytes.size(), false, tag);
}

// ---- events ---------------------------------------------------------------

void CTntCtrl::Fire(int32_t event_id, std::span<Variant> args) {
  if (events_ != nullptr) events_->OnEvent(event_id, args);
}

void CTntCtrl::OnConnect(const std::string& remote_dot_addr, uint16_t remote_port, const std::string& local_dot_addr,
                         uint16_t local_port, const std::string& local_host_name) {
  props_.remote_port = remote_port;
  modified_ = true;
  Variant args[] = {Variant::Text(remote_dot_addr), Variant::Text(local_dot_addr), Variant::Int32(local_port),
                    Variant::Text(local_host_name)};
  Fire(kEventOnConnect, args);
}

void CTntCtrl::OnSend(uint32_t data_tag) {
  Variant args[] = {Variant::Int32(static_cast<int32_t>(data_tag))};
  Fire(kEventOnSend, args);
}

void CTntCtrl::OnListen(const std::string& bound_dot_addr, uint16_t, const std::string& local_host_name) {
  Variant args[] = {Variant::Text(bound_dot_addr), Variant::Text(local_host_name)};
  Fire(kEventOnListen, args);
}

void CTntCtrl::OnAccept() {
  Variant args[] = {Variant::Int32(static_cast<int32_t>(session().id()))};
  Fire(kEventOnAccept, args);
}

void CTntCtrl::OnException(int16_t code, const std::string& text) {
  Variant args[] = {Variant::Int16(code), Variant::Text(text)};
  Fire(kEventOnException, args);
}

void CTntCtrl::OnDataEvent(const uint8_t* bytes, size_t length) {
  const int32_t form = props_.var_data_type;
  Variant data = IsByteArrayForm(form)
                     ? Variant::Bytes(bytes ? std::vector<uint8_t>(bytes, bytes + length) : std::vector<uint8_t>{})
                     : Variant::Text(bytes ? std::string(reinterpret_cast<const char*>(bytes), length) : std::string{});
  if (IsAltEvent(form)) {
    Variant args[] = {Variant::Ref(&data)};
    Fire(kEventOnRecvAlt, args);
  } else {
    Variant args[] = {std::move(data)};
    Fire(kEventOnRecv, args);
  }
}

void CTntCtrl::OnCommandEvent(uint8_t command, uint8_t option, const uint8_t* suboption, size_t length) {
  if (props_.auto_option) {
    AnswerOption(command, option);
    return;
  }
  Variant text = Variant::Text(std::string(reinterpret_cast<const char*>(suboption), length));
  Variant args[] = {Variant::Int16(command), Variant::Int16(option), Variant::Ref(&text)};
  Fire(kEventOnCmd, args);
}

}  // namespace korvatel

extern "C" platform::Component* KorvatelCreateControl() {
  try {
    return new korvatel::CTntCtrl;
  } catch (...) {
    return nullptr;
  }
}
