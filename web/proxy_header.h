// The PROXY protocol (version 1) line that starts each station connection, so
// the station knows the caller behind the gateway.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <string>

namespace tellarium::web {

// "PROXY TCP4|TCP6 <caller> <gateway> <caller port> <gateway port>" CR LF.
// The two addresses must share a family, so an IPv4 one is written as IPv6
// beside an IPv6 one; an IPv4 address seen through an IPv6 socket is IPv4.
std::string ProxyHeaderLine(const boost::asio::ip::tcp::endpoint& caller,
                            const boost::asio::ip::tcp::endpoint& gateway);

}  // namespace tellarium::web
