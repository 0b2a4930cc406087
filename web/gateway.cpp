#include "web/gateway.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <stdexcept>

namespace tellarium::web {

using namespace std::chrono_literals;

namespace {

constexpr std::string_view kCallTarget = "/call";
constexpr std::string_view kTextType = "text/plain; charset=utf-8";
constexpr std::string_view kAnyOrigin = "*";
constexpr std::string_view kSchemeEnd = "://";
// A request's headers must come within this; a browser's idle connection is closed after it.
constexpr auto kRequestTimeout = 30s;
constexpr auto kStationConnectTimeout = 10s;
// After a failed accept (out of descriptors, say), so that it is not retried in a busy loop.
constexpr auto kAcceptPause = 100ms;

std::string Named(const tcp::endpoint& endpoint) {
  return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

// A browser names the page a WebSocket is opened from; a program that names
// none is no other site's page, and may call.
bool OriginAllowed(const std::vector<std::string>& allowed, const Request& request) {
  const std::string_view origin = request[http::field::origin];
  if (origin.empty()) return true;
  if (allowed.empty()) {
    const size_t scheme_end = origin.find(kSchemeEnd);
    return scheme_end != std::string_view::npos &&
           beast::iequals(origin.substr(scheme_end + kSchemeEnd.size()), request[http::field::host]);
  }
  const auto allows = [origin](std::string_view one) { return one == kAnyOrigin || beast::iequals(one, origin); };
  return std::ranges::any_of(allowed, allows);
}

// One browser connection: requests for the page's files, until one asks for
// a WebSocket and becomes a call.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(Gateway& gateway, tcp::socket socket, std::string caller)
      : gateway_(gateway), browser_(std::move(socket)), caller_(std::move(caller)) {}

  void ReadRequest();

 private:
  void OnRequest(const error_code& error);
  void Upgrade();
  void OnStationConnected(const error_code& error);
  void Respond(http::status status, std::string_view content_type, std::string_view body);
  void OnResponded(const error_code& error);

  Gateway& gateway_;
  beast::tcp_stream browser_;
  std::string caller_;
  beast::flat_buffer buffer_;
  Request request_;
  http::response<http::string_body> response_;
  std::optional<CallSlot> slot_;
  std::optional<beast::tcp_stream> station_;
};

void HttpSession::ReadRequest() {
  request_ = {};
  browser_.expires_after(kRequestTimeout);
  http::async_read(browser_, buffer_, request_, [self = shared_from_this()](const error_code& e, size_t) {
    self->OnRequest(e);
  });
}

void HttpSession::OnRequest(const error_code& error) {
  // A connection a browser keeps open in case it needs it times out unused.
  if (error) return Report(caller_, "reading a request", error == beast::error::timeout ? error_code() : error);
  if (websocket::is_upgrade(request_)) return Upgrade();
  if (request_.method() != http::verb::get) return Respond(http::status::method_not_allowed, kTextType, "GET only\n");
  const PageFile* file = gateway_.page().Find(request_.target());
  if (file == nullptr) return Respond(http::status::not_found, kTextType, "No such page\n");
  Respond(http::status::ok, file->content_type, file->body);
}

void HttpSession::Upgrade() {
  if (request_.target() != kCallTarget) return Respond(http::status::not_found, kTextType, "No such page\n");
  if (!OriginAllowed(gateway_.settings().origins, request_)) {
    return Respond(http::status::forbidden, kTextType, "Calls from this page's origin are not allowed\n");
  }
  slot_ = gateway_.TakeCallSlot();
  if (!slot_) return Respond(http::status::service_unavailable, kTextType, "Every line is busy\n");
  beast::tcp_stream& station = station_.emplace(browser_.get_executor());
  error_code error;
  if (const auto& source = gateway_.settings().source_address) {
    station.socket().open(gateway_.station().protocol(), error);
    if (!error) station.socket().bind({*source, 0}, error);
  }
  if (error) return OnStationConnected(error);
  station.expires_after(kStationConnectTimeout);
  station.async_connect(gateway_.station(), [self = shared_from_this()](const error_code& e) {
    self->OnStationConnected(e);
  });
}

void HttpSession::OnStationConnected(const error_code& error) {
  if (error) {
    Log(caller_, "cannot reach the station: " + error.message());
    slot_.reset();
    return Respond(http::status::bad_gateway, kTextType, "The station cannot be reached\n");
  }
  station_->expires_never();
  StartCall(std::move(*slot_), std::move(browser_), std::move(*station_), std::move(request_), caller_);
}

void HttpSession::Respond(http::status status, std::string_view content_type, std::string_view body) {
  response_ = {status, request_.version()};
  response_.set(http::field::content_type, content_type);
  response_.keep_alive(request_.keep_alive() && status == http::status::ok);
  response_.body() = body;
  response_.prepare_payload();
  http::async_write(browser_, response_, [self = shared_from_this()](const error_code& e, size_t) {
    self->OnResponded(e);
  });
}

void HttpSession::OnResponded(const error_code& error) {
  if (error) return Report(caller_, "answering a request", error);
  if (response_.keep_alive()) return ReadRequest();
  error_code ignored;
  browser_.socket().shutdown(tcp::socket::shutdown_send, ignored);
}

}  // namespace

void Report(std::string_view who, std::string_view what, const error_code& error) {
  // A browser's tab closed or its network gone is how calls usually end.
  const bool ordinary_end = !error || error == asio::error::eof || error == asio::error::operation_aborted ||
                            error == asio::error::connection_reset || error == asio::error::not_connected ||
                            error == http::error::end_of_stream || error == websocket::error::closed;
  if (!ordinary_end) Log(who, std::string(what) + ": " + error.message());
}

void Log(std::string_view who, std::string_view text) {
  std::cerr << "tellarium-web: " << who << ": " << text << std::endl;
}

Gateway::Gateway(asio::io_context& io, const Settings& settings, const Page& page, tcp::endpoint station)
    : settings_(settings), page_(page), station_(std::move(station)), acceptor_(io), accept_pause_(io) {
  const tcp::endpoint listen(settings.listen_address, settings.listen_port);
  try {
    acceptor_ = tcp::acceptor(io, listen);
  } catch (const boost::system::system_error& e) {
    throw std::runtime_error("cannot listen on " + Named(listen) + ": " + e.code().message());
  }
  Accept();
}

std::optional<CallSlot> Gateway::TakeCallSlot() {
  if (calls_ >= settings_.max_calls) return std::nullopt;
  return CallSlot(calls_);
}

void Gateway::Accept() {
  acceptor_.async_accept([this](const error_code& error, tcp::socket socket) {
    if (error) {
      Report("gateway", "accepting a connection", error);
      accept_pause_.expires_after(kAcceptPause);
      return accept_pause_.async_wait([this](const error_code&) { Accept(); });
    }
    error_code unknown;
    const std::string caller = Named(socket.remote_endpoint(unknown));
    std::make_shared<HttpSession>(*this, std::move(socket), caller)->ReadRequest();
    Accept();
  });
}

}  // namespace tellarium::web
