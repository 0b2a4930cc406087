// The server's typed view of a telnet control. Every call goes through the
// control's dispatch ids, the way a generated proxy would make it; events come
// back decoded, with the control's Index in its control array.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/automation.h"

namespace tellarium {

// What a control tells its host. Index is the control's place in its array
// (0 for a control that stands alone). A host overrides the events it handles;
// the others are dropped.
class TelnetControlEvents {
 public:
  virtual ~TelnetControlEvents() = default;
  virtual void OnAccept(int16_t /*index*/, int32_t /*new_session*/) {}
  virtual void OnConnect(int16_t /*index*/, const std::string& /*remote_dot_addr*/,
                         const std::string& /*session_dot_addr*/, int32_t /*session_port*/,
                         const std::string& /*local_name*/) {}
  virtual void OnCmd(int16_t /*index*/, int16_t /*command*/, int16_t /*option*/, const std::string& /*sub_option*/) {}
  virtual void OnRecv(int16_t /*index*/, const std::string& /*data*/) {}
  virtual void OnException(int16_t /*index*/, int16_t /*code*/, const std::string& /*text*/) {}
  virtual void OnSend(int16_t /*index*/, int32_t /*data_tag*/) {}
  virtual void OnListen(int16_t /*index*/, const std::string& /*session_dot_addr*/,
                        const std::string& /*local_name*/) {}
};

class TelnetControl final : public platform::EventSink {
 public:
  // Creates a control through the library's class factory and connects the
  // events to `events`, which must outlive the control.
  TelnetControl(int16_t index, TelnetControlEvents& events);
  // Drives `component` instead (a host's stand-in for the library in tests).
  TelnetControl(int16_t index, TelnetControlEvents& events, std::unique_ptr<platform::Component> component);
  ~TelnetControl() override;
  TelnetControl(const TelnetControl&) = delete;
  TelnetControl& operator=(const TelnetControl&) = delete;

  int16_t Index() const { return index_; }

  int32_t LocalPort();
  void SetLocalPort(int32_t port);
  int32_t RemotePort();
  void SetRemotePort(int32_t port);
  void SetReuseAddr(bool on);
  void SetNoDelay(bool on);
  int16_t State();

  bool Accept(int32_t new_session);
  bool Close(bool abort);
  bool Connect(const std::string& remote_host);
  bool Listen(int32_t time_out_seconds);
  // Empty `sub_option` sends the plain command; other text a subnegotiation.
  bool SendCmd(int16_t command, int16_t option, const std::string& sub_option, int32_t data_tag);
  // The control's OnSend tells `data_tag` once `data` has been written.
  bool Send(std::string data, int32_t data_tag = 0);

  void OnEvent(int32_t dispatch_id, std::span<platform::Variant> args) override;

 private:
  void RaiseEvent(int32_t dispatch_id, std::span<platform::Variant> args);
  platform::Variant Get(int32_t dispatch_id);
  void Put(int32_t dispatch_id, platform::Variant value);
  platform::Variant Call(int32_t dispatch_id, std::span<platform::Variant> args);

  int16_t index_;
  TelnetControlEvents& events_;
  std::unique_ptr<platform::Component> control_;
};

}  // namespace tellarium
