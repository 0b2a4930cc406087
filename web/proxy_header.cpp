#include "web/proxy_header.h"

namespace tellarium::web {
namespace {

using boost::asio::ip::address;
using boost::asio::ip::v4_mapped;

address Unmapped(const address& any) {
  return any.is_v6() && any.to_v6().is_v4_mapped() ? address(make_address_v4(v4_mapped, any.to_v6())) : any;
}

address AsV6(const address& any) { return any.is_v6() ? any : address(make_address_v6(v4_mapped, any.to_v4())); }

}  // namespace

std::string ProxyHeaderLine(const boost::asio::ip::tcp::endpoint& caller,
                            const boost::asio::ip::tcp::endpoint& gateway) {
  address from = Unmapped(caller.address());
  address to = Unmapped(gateway.address());
  const bool both_v4 = from.is_v4() && to.is_v4();
  if (!both_v4) {
    from = AsV6(from);
    to = AsV6(to);
  }
  return std::string("PROXY ") + (both_v4 ? "TCP4 " : "TCP6 ") + from.to_string() + " " + to.to_string() + " " +
         std::to_string(caller.port()) + " " + std::to_string(gateway.port()) + "\r\n";
}

}  // namespace tellarium::web
