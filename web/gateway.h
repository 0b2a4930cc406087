// The gateway: serves the caller's page over HTTP and turns each WebSocket
// asked for at /call into a call to the station.
#pragma once

#include <cstddef>
#include <optional>

#include "web/call.h"
#include "web/net.h"
#include "web/page.h"
#include "web/settings.h"

namespace tellarium::web {

class Gateway {
 public:
  // Listens at once; throws std::runtime_error when it cannot.
  Gateway(asio::io_context& io, const Settings& settings, const Page& page, tcp::endpoint station);

  const Settings& settings() const { return settings_; }
  const Page& page() const { return page_; }
  const tcp::endpoint& station() const { return station_; }
  // A place for one more call, unless the most allowed are in progress.
  std::optional<CallSlot> TakeCallSlot();

 private:
  void Accept();

  const Settings& settings_;
  const Page& page_;
  tcp::endpoint station_;
  tcp::acceptor acceptor_;
  asio::steady_timer accept_pause_;
  size_t calls_ = 0;
};

}  // namespace tellarium::web
