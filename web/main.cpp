// tellarium-web: the browser gateway. One thread, one event loop for every
// browser and station connection.
#include <sys/resource.h>

#include <csignal>
#include <iostream>
#include <stdexcept>

#include "web/gateway.h"
#include "web/net.h"
#include "web/page.h"
#include "web/settings.h"

namespace {

using namespace tellarium::web;

constexpr int kBadSettings = 2;
constexpr int kCannotStart = 1;

tcp::endpoint StationEndpoint(asio::io_context& io, const Settings& settings) {
  tcp::resolver resolver(io);
  const std::string port = std::to_string(settings.station_port);
  error_code error;
  // Connections come from the source address, so the station is sought in its family.
  const auto found = settings.source_address
                         ? resolver.resolve(settings.source_address->is_v4() ? tcp::v4() : tcp::v6(),
                                            settings.station_host, port, error)
                         : resolver.resolve(settings.station_host, port, error);
  if (error || found.empty()) {
    throw std::invalid_argument("cannot find the station " + settings.station_host + ": " + error.message());
  }
  return *found.begin();
}

// Each call holds two descriptors, so the gateway may open as many as it is allowed.
void RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

// Runs until ended by a signal; a fault in one connection's handler is logged
// and the others go on.
void Run(asio::io_context& io) {
  asio::signal_set ending(io, SIGINT, SIGTERM, SIGHUP);
  ending.async_wait([&io](const error_code&, int) { io.stop(); });
  while (!io.stopped()) {
    try {
      io.run();
    } catch (const std::exception& e) {
      Log("gateway", e.what());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const auto settings = ReadSettings({argv + 1, static_cast<size_t>(argc - 1)});
    if (!settings) return 0;
    asio::io_context io;
    const tcp::endpoint station = StationEndpoint(io, *settings);
    const Page page(Page::InstalledFolder(), settings->title);
    RaiseOpenFileLimit();
    Gateway gateway(io, *settings, page, station);
    std::cout << "Serving " << settings->title << " on port " << settings->listen_port << ", calling the station at "
              << station << std::endl;
    Run(io);
  } catch (const std::invalid_argument& e) {
    std::cerr << "tellarium-web: " << e.what() << std::endl;
    return kBadSettings;
  } catch (const std::exception& e) {
    std::cerr << "tellarium-web: " << e.what() << std::endl;
    return kCannotStart;
  }
}
