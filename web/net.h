// The Boost.Beast and Asio names the gateway's network code uses, and its one
// way of reporting an error.
#pragma once

// Asio 1.74's coroutine support uses std::exchange without including <utility>.
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <string_view>

namespace tellarium::web {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using boost::system::error_code;

// A request is headers alone: the gateway serves GET and takes no bodies.
using Request = http::request<http::empty_body>;

// One line on standard error about `who` (a caller's address, or the gateway).
void Log(std::string_view who, std::string_view text);
// Logs what failed, unless the error is a connection's ordinary end. (Both are
// defined with the gateway.)
void Report(std::string_view who, std::string_view what, const error_code& error);

}  // namespace tellarium::web
