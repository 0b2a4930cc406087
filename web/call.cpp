#include "web/call.h"

#include <array>
#include <memory>

#include "web/cp437.h"
#include "web/proxy_header.h"
#include "web/station_telnet.h"

namespace tellarium::web {
namespace {

// Output a side has left unread past which the call is ended: far more than
// any screen, so only a side that stopped reading reaches it.
constexpr size_t kMostUnread = 1 << 20;
constexpr size_t kStationReadSize = 16 << 10;
// A paste larger than this arrives as several messages from the page.
constexpr size_t kLongestBrowserMessage = 64 << 10;

// What waits for one side: the piece being written and what came after it.
struct Outbox {
  std::string writing, queued;

  // False when the side has more than it may leave unread.
  bool Add(std::string_view bytes) {
    queued += bytes;
    return writing.size() + queued.size() <= kMostUnread;
  }
  // True when the queued bytes are now the piece to write.
  bool StartNext() {
    if (!writing.empty() || queued.empty()) return false;
    writing.swap(queued);
    return true;
  }
  bool Empty() const { return writing.empty() && queued.empty(); }
};

class Call : public std::enable_shared_from_this<Call> {
 public:
  Call(CallSlot slot, beast::tcp_stream browser, beast::tcp_stream station, Request request, std::string caller)
      : slot_(std::move(slot)), browser_(std::move(browser)), station_(std::move(station)),
        request_(std::move(request)), caller_(std::move(caller)) {}

  void Start();

 private:
  void OnAccepted(const error_code& error);
  void ReadStation();
  void OnStationRead(const error_code& error, size_t length);
  void ReadBrowser();
  void OnBrowserRead(const error_code& error);
  void ToStation(std::string_view bytes);
  void ToBrowser(std::string_view text);
  void CloseBrowserOnceSent();
  void HangUp(std::string_view why);

  CallSlot slot_;
  websocket::stream<beast::tcp_stream> browser_;
  beast::tcp_stream station_;
  Request request_;
  std::string caller_;
  StationTelnet telnet_;
  Outbox to_station_, to_browser_;
  std::array<char, kStationReadSize> from_station_;
  beast::flat_buffer from_browser_;
  bool station_ended_ = false;
  bool hung_up_ = false;
};

// The station hears who calls before anything else: the caller as the
// browser's connection shows it, the gateway as its station connection's end.
void Call::Start() {
  try {
    const tcp::socket& station = station_.socket();
    const tcp::endpoint gateway(station.local_endpoint().address(), station.remote_endpoint().port());
    ToStation(ProxyHeaderLine(browser_.next_layer().socket().remote_endpoint(), gateway));
  } catch (const boost::system::system_error& e) {
    return Report(caller_, "naming the caller to the station", e.code());
  }
  // The WebSocket keeps its own time from here: a browser gone without a word
  // is found by a ping left unanswered.
  beast::get_lowest_layer(browser_).expires_never();
  auto timeouts = websocket::stream_base::timeout::suggested(beast::role_type::server);
  timeouts.keep_alive_pings = true;
  browser_.set_option(timeouts);
  browser_.read_message_max(kLongestBrowserMessage);
  browser_.async_accept(request_, [self = shared_from_this()](const error_code& e) { self->OnAccepted(e); });
}

void Call::OnAccepted(const error_code& error) {
  if (error) {
    station_.close();
    return Report(caller_, "opening the WebSocket", error);
  }
  browser_.text(true);
  ReadStation();
  ReadBrowser();
}

void Call::ReadStation() {
  if (hung_up_) return;
  station_.async_read_some(asio::buffer(from_station_), [self = shared_from_this()](const error_code& e, size_t n) {
    self->OnStationRead(e, n);
  });
}

void Call::OnStationRead(const error_code& error, size_t length) {
  if (error) {
    Report(caller_, "reading from the station", error);
    station_ended_ = true;
    station_.close();
    return CloseBrowserOnceSent();
  }
  const StationTelnet::Received received = telnet_.Receive({from_station_.data(), length});
  ToStation(received.answers);
  ToBrowser(Cp437ToUtf8(received.data));
  ReadStation();
}

void Call::ReadBrowser() {
  if (hung_up_) return;
  browser_.async_read(from_browser_, [self = shared_from_this()](const error_code& e, size_t) {
    self->OnBrowserRead(e);
  });
}

void Call::OnBrowserRead(const error_code& error) {
  if (error) {
    Report(caller_, "reading from the browser", error);
    return station_.close();
  }
  ToStation(StationTelnet::Typed(Utf8ToCp437(beast::buffers_to_string(from_browser_.data()))));
  from_browser_.clear();
  ReadBrowser();
}

void Call::ToStation(std::string_view bytes) {
  if (hung_up_ || station_ended_) return;
  if (!to_station_.Add(bytes)) return HangUp("the station left too much unread");
  if (!to_station_.StartNext()) return;
  const auto self = shared_from_this();
  asio::async_write(station_, asio::buffer(to_station_.writing), [self](const error_code& e, size_t) {
    self->to_station_.writing.clear();
    if (e) return Report(self->caller_, "writing to the station", e);
    self->ToStation({});
  });
}

void Call::ToBrowser(std::string_view text) {
  if (hung_up_) return;
  if (!to_browser_.Add(text)) return HangUp("the browser left too much unread");
  if (!to_browser_.StartNext()) return;
  browser_.async_write(asio::buffer(to_browser_.writing), [self = shared_from_this()](const error_code& e, size_t) {
    self->to_browser_.writing.clear();
    if (e) return Report(self->caller_, "writing to the browser", e);
    self->ToBrowser({});
    self->CloseBrowserOnceSent();
  });
}

// What the station said last still reaches the browser before the call ends.
void Call::CloseBrowserOnceSent() {
  if (!station_ended_ || hung_up_ || !to_browser_.Empty() || !browser_.is_open()) return;
  browser_.async_close(websocket::close_code::normal, [self = shared_from_this()](const error_code& e) {
    Report(self->caller_, "closing the WebSocket", e);
  });
}

void Call::HangUp(std::string_view why) {
  hung_up_ = true;
  Log(caller_, "call ended: " + std::string(why));
  station_.close();
  beast::get_lowest_layer(browser_).close();
}

}  // namespace

void StartCall(CallSlot slot, beast::tcp_stream browser, beast::tcp_stream station, Request request,
               std::string caller) {
  std::make_shared<Call>(std::move(slot), std::move(browser), std::move(station), std::move(request),
                         std::move(caller))
      ->Start();
}

}  // namespace tellarium::web
