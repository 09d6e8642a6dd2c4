#include "ffi/quote_socket.hpp"

#include <algorithm>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/host_name_verification.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <charconv>
#include <cstdint>
#include <exception>
#include <mutex>
#include <utility>

#include "core/http/trusted_roots.hpp"
#include "core/json/json.hpp"
#include "ffi/runtime.hpp"
#include "ffi/ws_client_guard.hpp"

namespace zephlar::ffi {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using boost::system::error_code;

using PlainWs = websocket::stream<WsClientGuard<beast::tcp_stream>>;
using TlsWs = websocket::stream<WsClientGuard<ssl::stream<beast::tcp_stream>>>;

namespace {

// How the runtime ends the task when it shuts down: the task's TCP socket is
// closed on the task's executor, which ends a read under way, and a send
// parked on the full channel fails. The task then ends without clearing the
// connected flag, as a task torn down with its runtime leaves it.
class TaskStop final : public Runtime::LongTask, public std::enable_shared_from_this<TaskStop> {
 public:
  explicit TaskStop(QuoteSender::Interrupt interrupt_send) noexcept : interrupt_send_(std::move(interrupt_send)) {}

  void end_for_shutdown() noexcept override {
    stopping_.store(true, std::memory_order_release);
    interrupt_send_();
    const std::lock_guard lock(mutex_);
    if (socket_ == nullptr) return;
    try {
      asio::post(executor_, [self = shared_from_this()] { self->close_socket(); });
    } catch (...) {
      // No memory to get there: the task is torn down with the runtime.
    }
  }

  bool stopping() const noexcept { return stopping_.load(std::memory_order_acquire); }

  // While it lives, the socket of `ws` is the one to close; set on the
  // task's executor.
  class Watch {
   public:
    Watch(TaskStop& stop, beast::tcp_stream& socket, asio::any_io_executor executor) noexcept : stop_(stop) {
      {
        const std::lock_guard lock(stop_.mutex_);
        stop_.socket_ = &socket;
        stop_.executor_ = std::move(executor);
      }
      // Asked before the socket existed: it never gets to connect.
      if (stop_.stopping()) stop_.close_socket();
    }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;
    ~Watch() {
      const std::lock_guard lock(stop_.mutex_);
      stop_.socket_ = nullptr;
    }

   private:
    TaskStop& stop_;
  };

 private:
  void close_socket() noexcept {
    const std::lock_guard lock(mutex_);
    if (socket_ == nullptr) return;
    error_code ec;
    socket_->socket().close(ec);
  }

  const QuoteSender::Interrupt interrupt_send_;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  beast::tcp_stream* socket_ = nullptr;
  asio::any_io_executor executor_;
};


void replace_all(std::string& text, std::string_view from, std::string_view to) {
  std::string out;
  out.reserve(text.size());
  std::size_t at = 0;
  for (;;) {
    const std::size_t found = text.find(from, at);
    if (found == std::string::npos) break;
    out.append(text, at, found - at);
    out.append(to);
    at = found + from.size();
  }
  out.append(text, at, std::string::npos);
  text = std::move(out);
}

bool iequals_ascii(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

// Completion token that turns failures into an error_code instead of an
// exception.
#define ZEPHLAR_AWAIT_EC(ec) asio::redirect_error(asio::use_awaitable, ec)

// Subscribes, then reads until one of the loop's ends. Returns when the task
// is to end; the caller clears the flag.
template <class Ws>
asio::awaitable<void> subscribe_and_forward(Ws& ws, const std::string& pair_ticker, std::atomic<bool>& connected,
                                            QuoteSender& sender) {
  error_code ec;
  ws.text(true);
  const std::string subscribe = subscribe_message(pair_ticker);
  co_await ws.async_write(asio::buffer(subscribe), ZEPHLAR_AWAIT_EC(ec));
  if (ec) co_return;

  beast::flat_buffer buffer;
  while (connected.load(std::memory_order_acquire)) {
    buffer.clear();
    co_await ws.async_read(buffer, ZEPHLAR_AWAIT_EC(ec));
    // A close message, a read error and the end of the connection all end
    // the loop; pings are answered and pongs consumed inside the read.
    if (ec) co_return;
    if (!ws.got_text()) continue;
    const auto data = buffer.data();
    auto text = quote_text_of(std::string_view(static_cast<const char*>(data.data()), data.size()));
    if (!text) continue;
    const bool queued = co_await sender.send(std::move(*text));
    if (!queued) co_return;
  }
}

// The opening handshake with only the headers the protocol requires.
template <class Ws>
asio::awaitable<bool> handshake(Ws& ws, const WebSocketUrl& url) {
  error_code ec;
  co_await ws.async_handshake(url.host_header, url.target, ZEPHLAR_AWAIT_EC(ec));
  co_return !ec;
}

asio::awaitable<bool> connect_tcp(beast::tcp_stream& stream, const WebSocketUrl& url) {
  tcp::resolver resolver(co_await asio::this_coro::executor);
  error_code ec;
  const auto endpoints = co_await resolver.async_resolve(url.host, url.port, ZEPHLAR_AWAIT_EC(ec));
  if (ec) co_return false;
  co_await stream.async_connect(endpoints, ZEPHLAR_AWAIT_EC(ec));
  co_return !ec;
}

asio::awaitable<void> open_plain(PlainWs& ws, const WebSocketUrl& url, const std::string& pair_ticker,
                                 std::atomic<bool>& connected, QuoteSender& sender) {
  const bool reached = co_await connect_tcp(beast::get_lowest_layer(ws), url);
  if (!reached) co_return;
  const bool upgraded = co_await handshake(ws, url);
  if (!upgraded) co_return;
  co_await subscribe_and_forward(ws, pair_ticker, connected, sender);
}

asio::awaitable<void> run_plain(const WebSocketUrl& url, const std::string& pair_ticker, std::atomic<bool>& connected,
                                QuoteSender& sender, TaskStop& stop) {
  const auto executor = co_await asio::this_coro::executor;
  PlainWs ws(executor);
  const TaskStop::Watch watch(stop, beast::get_lowest_layer(ws), executor);
  co_await open_plain(ws, url, pair_ticker, connected, sender);
  // The flag goes first; leaving the scope then drops the connection without
  // a close message.
  if (!stop.stopping()) connected.store(false, std::memory_order_release);
}

// A TLS client context that trusts the compiled-in roots only.
std::optional<ssl::context> make_tls_context() {
  ssl::context context(ssl::context::tls_client);
  error_code ec;
  context.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                          ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1,
                      ec);
  if (ec) return std::nullopt;
  context.set_verify_mode(ssl::verify_peer, ec);
  if (ec) return std::nullopt;
  const std::string roots = http::trusted_roots_pem();
  context.add_certificate_authority(asio::buffer(roots), ec);
  if (ec) return std::nullopt;
  return context;
}

asio::awaitable<void> open_tls(TlsWs& ws, const WebSocketUrl& url, const std::string& pair_ticker,
                               std::atomic<bool>& connected, QuoteSender& sender) {
  auto& tls = ws.next_layer().next_layer();
  error_code ec;
  // Server name indication carries host names only, never address literals.
  asio::ip::make_address(url.host, ec);
  if (ec && SSL_set_tlsext_host_name(tls.native_handle(), url.host.c_str()) != 1) co_return;
  tls.set_verify_callback(ssl::host_name_verification(url.host), ec);
  if (ec) co_return;

  const bool reached = co_await connect_tcp(beast::get_lowest_layer(ws), url);
  if (!reached) co_return;
  co_await tls.async_handshake(ssl::stream_base::client, ZEPHLAR_AWAIT_EC(ec));
  if (ec) co_return;
  const bool upgraded = co_await handshake(ws, url);
  if (!upgraded) co_return;
  co_await subscribe_and_forward(ws, pair_ticker, connected, sender);
}

asio::awaitable<void> run_tls(const WebSocketUrl& url, const std::string& pair_ticker, std::atomic<bool>& connected,
                              QuoteSender& sender, TaskStop& stop) {
  auto context = make_tls_context();
  if (!context) co_return;
  const auto executor = co_await asio::this_coro::executor;
  TlsWs ws(executor, *context);
  const TaskStop::Watch watch(stop, beast::get_lowest_layer(ws), executor);
  co_await open_tls(ws, url, pair_ticker, connected, sender);
  if (!stop.stopping()) connected.store(false, std::memory_order_release);
}

#undef ZEPHLAR_AWAIT_EC

}  // namespace

std::string quote_stream_url(std::string_view base_url) {
  std::string url(base_url);
  replace_all(url, "https://", "wss://");
  replace_all(url, "http://", "ws://");
  url += "/ws";
  return url;
}

std::string subscribe_message(std::string_view pair_ticker) {
  json::JsonValue::Object data;
  data.emplace("pair_id", json::JsonValue(std::string(pair_ticker)));
  json::JsonValue::Object message;
  message.emplace("data", json::JsonValue(std::move(data)));
  message.emplace("type", json::JsonValue("subscribe"));
  return json::to_json(json::JsonValue(std::move(message)));
}

std::optional<std::string> quote_text_of(std::string_view message) {
  auto parsed = json::read_json<json::JsonValue>(message, json::Source::response_body);
  if (!parsed) return std::nullopt;
  const auto* object = parsed->get_if<json::JsonValue::Object>();
  if (object == nullptr) return std::nullopt;
  const auto type = object->find("type");
  if (type == object->end()) return std::nullopt;
  const auto* type_text = type->second.get_if<std::string>();
  if (type_text == nullptr || *type_text != "quote") return std::nullopt;
  const auto data = object->find("data");
  if (data == object->end()) return std::nullopt;
  return json::to_json(data->second);
}

std::optional<WebSocketUrl> parse_websocket_url(std::string_view url) {
  // The host goes to the resolver and into the server name as a C string,
  // and the target into the request line: a NUL would cut either short, and
  // a control character or a space would end a line or a field early.
  const auto unusable = [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == '\x7f'; };
  if (std::any_of(url.begin(), url.end(), unusable)) return std::nullopt;
  const std::size_t colon = url.find("://");
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string_view scheme = url.substr(0, colon);
  WebSocketUrl out;
  if (iequals_ascii(scheme, "wss")) {
    out.tls = true;
  } else if (!iequals_ascii(scheme, "ws")) {
    return std::nullopt;
  }
  std::string_view rest = url.substr(colon + 3);
  const std::size_t fragment = rest.find('#');
  if (fragment != std::string_view::npos) rest = rest.substr(0, fragment);
  const std::size_t authority_end = rest.find_first_of("/?");
  std::string_view authority = rest.substr(0, authority_end);
  const std::string_view after =
      authority_end == std::string_view::npos ? std::string_view() : rest.substr(authority_end);

  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority = authority.substr(at + 1);

  std::string_view host;
  std::string_view port;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = authority.substr(1, close - 1);
    const std::string_view tail = authority.substr(close + 1);
    if (!tail.empty()) {
      if (tail.front() != ':') return std::nullopt;
      port = tail.substr(1);
    }
  } else {
    const std::size_t port_colon = authority.rfind(':');
    host = authority.substr(0, port_colon);
    if (port_colon != std::string_view::npos) port = authority.substr(port_colon + 1);
  }
  if (host.empty()) return std::nullopt;

  const bool port_written = !port.empty();
  if (port_written) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (ec != std::errc() || end != port.data() + port.size() || value > 65535) return std::nullopt;
  }
  out.host = std::string(host);
  out.port = port_written ? std::string(port) : std::string(out.tls ? "443" : "80");
  // The Host header as written, less an empty port's colon.
  if (!authority.empty() && authority.back() == ':') authority.remove_suffix(1);
  out.host_header = std::string(authority);
  if (after.empty() || after.front() == '?') {
    out.target = "/";
    out.target.append(after);
  } else {
    out.target = std::string(after);
  }
  return out;
}

namespace {

asio::awaitable<void> run_stoppable(std::string url, std::string pair_ticker,
                                    std::shared_ptr<std::atomic<bool>> connected, QuoteSender sender,
                                    std::shared_ptr<TaskStop> stop) {
  try {
    if (const auto parsed = parse_websocket_url(url)) {
      if (parsed->tls) {
        co_await run_tls(*parsed, pair_ticker, *connected, sender, *stop);
      } else {
        co_await run_plain(*parsed, pair_ticker, *connected, sender, *stop);
      }
    }
  } catch (const std::exception&) {
    // Out of memory or a failure inside the TLS library: the task ends like
    // any other failure.
  }
  // Every end of the task's own clears the flag (the connection, where there
  // was one, was dropped just after); the sending end goes with the frame.
  // An end asked for by the runtime shutting down leaves it as it was.
  if (!stop->stopping()) connected->store(false, std::memory_order_release);
}

}  // namespace

asio::awaitable<void> run_quote_socket(std::string url, std::string pair_ticker,
                                       std::shared_ptr<std::atomic<bool>> connected, QuoteSender sender) {
  auto stop = std::make_shared<TaskStop>(sender.interrupt());
  co_await run_stoppable(std::move(url), std::move(pair_ticker), std::move(connected), std::move(sender),
                         std::move(stop));
}

void spawn_quote_socket(Runtime& runtime, std::string url, std::string pair_ticker,
                        std::shared_ptr<std::atomic<bool>> connected, QuoteSender sender) {
  auto stop = std::make_shared<TaskStop>(sender.interrupt());
  runtime.register_long_task(stop);
  auto task =
      run_stoppable(std::move(url), std::move(pair_ticker), std::move(connected), std::move(sender), std::move(stop));
  // The runtime's stream thread runs every step of the task, one at a time.
  asio::co_spawn(runtime.stream_executor(), std::move(task), asio::detached);
}

}  // namespace zephlar::ffi
