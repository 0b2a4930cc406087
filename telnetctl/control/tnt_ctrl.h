// CTntCtrl: the Korvanet TELNET Control as a host sees it. Properties,
// methods and events by dispatch id over the telnet layer and its session.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/automation.h"
#include "telnetctl/telnet/telnet_sink.h"

namespace korvatel {

// The persisted properties, in their exchange order, with their defaults.
struct TntProperties {
  std::string local_dot_addr;
  int32_t local_port = 0;
  int32_t remote_port = 23;
  bool debug = false;
  bool no_delay = false;
  bool reuse_addr = false;
  bool keep_alive = false;
  bool show_icon = false;
  bool auto_option = false;
  int32_t var_data_type = 0;
};

// One pass over the persisted properties: saving, loading or resetting them.
class PropertyExchange {
 public:
  virtual ~PropertyExchange() = default;
  virtual void Text(const char* name, std::string& value, const std::string& default_value) = 0;
  virtual void Int32(const char* name, int32_t& value, int32_t default_value) = 0;
  virtual void Bool(const char* name, bool& value, bool default_value) = 0;
};

// Format version of the exchange (4.0), stored as "_Version".
constexpr int32_t kExchangeVersion = (4 << 16) | 0;

class CTntCtrl final : public platform::Component, public CTelnetSink {
 public:
  CTntCtrl() = default;

  // platform::Component
  platform::InvokeResult Invoke(int32_t dispatch_id, platform::InvokeKind kind, std::span<platform::Variant> args,
                                platform::Variant* result) override;
  void Advise(platform::EventSink* sink) override { events_ = sink; }
  void SetUserMode(bool run_mode) override { run_mode_ = run_mode; }
  void SaveProperties(platform::PropertyBag& bag) override;
  void LoadProperties(const platform::PropertyBag& bag) override;
  void ResetProperties() override;
  bool IsModified() const override { return modified_; }

  void ExchangeProperties(PropertyExchange& exchange);
  const TntProperties& properties() const { return props_; }
  uint8_t SessionFlags() const;

  // CTcpSink / CTelnetSink notifications, raised as events.
  void OnConnect(const std::string& remote_dot_addr, uint16_t remote_port, const std::string& local_dot_addr,
                 uint16_t local_port, const std::string& local_host_name) override;
  void OnSend(uint32_t data_tag) override;
  void OnListen(const std::string& bound_dot_addr, uint16_t bound_port, const std::string& local_host_name) override;
  void OnAccept() override;
  void OnException(int16_t code, const std::string& text) override;

 protected:
  void OnDataEvent(const uint8_t* bytes, size_t length) override;
  void OnCommandEvent(uint8_t command, uint8_t option, const uint8_t* suboption, size_t length) override;

 private:
  platform::InvokeResult GetProperty(int32_t dispatch_id, platform::Variant* result) const;
  platform::InvokeResult PutProperty(int32_t dispatch_id, const platform::Variant& value);
  platform::InvokeResult CallMethod(int32_t dispatch_id, std::span<platform::Variant> args,
                                    platform::Variant* result);
  platform::InvokeResult CallSendCmd(std::span<platform::Variant> args, bool& done);
  bool CallSend(std::span<platform::Variant> args);
  void Fire(int32_t event_id, std::span<platform::Variant> args);

  TntProperties props_;
  bool modified_ = false;
  bool run_mode_ = true;
  platform::EventSink* events_ = nullptr;
};

}  // namespace korvatel
