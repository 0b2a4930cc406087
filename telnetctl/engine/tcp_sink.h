// What a session reports to: the receiver of all its notifications.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvatel {

class CTcpSink {
 public:
  virtual ~CTcpSink() = default;

  virtual void OnConnect(const std::string& remote_dot_addr, uint16_t remote_port,
                         const std::string& local_dot_addr, uint16_t local_port,
                         const std::string& local_host_name) = 0;
  // OnData(nullptr, 0) tells that the session has been closed.
  virtual void OnData(const uint8_t* bytes, size_t length) = 0;
  virtual void OnSend(uint32_t data_tag) = 0;
  virtual void OnListen(const std::string& bound_dot_addr, uint16_t bound_port,
                        const std::string& local_host_name) = 0;
  virtual void OnAccept() = 0;
  virtual void OnException(int16_t code, const std::string& text) = 0;
  virtual bool Send(const uint8_t* bytes, size_t length, bool urgent, uint32_t data_tag) = 0;
};

}  // namespace korvatel
