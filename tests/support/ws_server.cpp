#include "tests/support/ws_server.hpp"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <boost/beast/websocket/stream.hpp>

#include "tests/support/fake_service_tls.hpp"
#include "tests/support/loopback_acceptor.hpp"

namespace zephlar::testing {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using namespace asio::experimental::awaitable_operators;

// This server links into the same programs as the library, which builds Asio
// with BOOST_ASIO_NO_DEPRECATED; built without it, its inline socket calls
// would share names but not calling conventions with the library's.
static_assert(std::is_void_v<decltype(std::declval<tcp::socket&>().close(
                  std::declval<boost::system::error_code&>()))>,
              "built without the project's Boost configuration (zephlar_boost)");

namespace {

constexpr auto nothrow = asio::as_tuple(asio::use_awaitable);

std::string quote_message(std::size_t seq) {
  const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                       .count();
  return R"({"type":"quote","data":{"seq":)" + std::to_string(seq) + R"(,"sent_ns":)" + std::to_string(now) + "}}";
}

}  // namespace

struct WsServer::Impl {
  Impl(std::vector<WsAction> s, WsServerOptions o) : script(std::move(s)), options(o) {}

  const std::vector<WsAction> script;
  const WsServerOptions options;
  std::optional<ssl::context> tls;

  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::vector<WsConnection> records;
  std::atomic<bool> gate_open{false};

  std::uint16_t port = 0;
  asio::io_context io{1};
  std::optional<tcp::acceptor> acceptor;
  std::thread thread;

  template <class F>
  void update(std::size_t index, F&& f) {
    {
      const std::lock_guard lock(mutex);
      f(records[index]);
    }
    changed.notify_all();
  }

  void set_end(std::size_t index, WsEnd end) {
    update(index, [&](WsConnection& c) {
      if (c.end == WsEnd::open) c.end = end;
    });
  }

  asio::awaitable<void> accept_loop() {
    for (;;) {
      auto [ec, socket] = co_await acceptor->async_accept(nothrow);
      if (ec) co_return;
      std::size_t index = 0;
      {
        const std::lock_guard lock(mutex);
        index = records.size();
        records.emplace_back();
      }
      changed.notify_all();
      asio::co_spawn(io, serve(std::move(socket), index), asio::detached);
    }
  }

  asio::awaitable<void> serve(tcp::socket socket, std::size_t index) {
    boost::system::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    if (!tls) {
      websocket::stream<beast::tcp_stream> ws(std::move(socket));
      co_await serve_ws(ws, index);
      co_return;
    }
    websocket::stream<ssl::stream<beast::tcp_stream>> ws(std::move(socket), *tls);
    auto [ec] = co_await ws.next_layer().async_handshake(ssl::stream_base::server, nothrow);
    if (ec) {
      set_end(index, WsEnd::client_gone);
      co_return;
    }
    co_await serve_ws(ws, index);
  }

  template <class Ws>
  asio::awaitable<void> serve_ws(Ws& ws, std::size_t index) {
    beast::flat_buffer buffer;
    http::request<http::string_body> request;
    auto [ec, n] = co_await http::async_read(ws.next_layer(), buffer, request, nothrow);
    if (ec) {
      set_end(index, WsEnd::client_gone);
      co_return;
    }
    update(index, [&](WsConnection& c) {
      c.target = std::string(request.target());
      for (const auto& field : request) c.headers.emplace_back(field.name_string(), field.value());
    });
    if (options.handshake_delay.count() > 0) {
      asio::steady_timer timer(io, options.handshake_delay);
      co_await timer.async_wait(nothrow);
    }
    std::tie(ec) = co_await ws.async_accept(request, nothrow);
    if (ec) {
      set_end(index, WsEnd::client_gone);
      co_return;
    }
    // The subscription comes first; the script starts after it.
    beast::flat_buffer first;
    std::tie(ec, n) = co_await ws.async_read(first, nothrow);
    if (ec) {
      set_end(index, ec == websocket::error::closed ? WsEnd::client_close : WsEnd::client_gone);
      co_return;
    }
    update(index, [&](WsConnection& c) { c.messages.push_back(beast::buffers_to_string(first.data())); });
    co_await (run_script(ws, index) && read_rest(ws, index));
  }

  template <class Ws>
  asio::awaitable<void> read_rest(Ws& ws, std::size_t index) {
    beast::flat_buffer buffer;
    for (;;) {
      buffer.clear();
      auto [ec, n] = co_await ws.async_read(buffer, nothrow);
      if (ec) {
        set_end(index, ec == websocket::error::closed ? WsEnd::client_close : WsEnd::client_gone);
        co_return;
      }
      update(index, [&](WsConnection& c) { c.messages.push_back(beast::buffers_to_string(buffer.data())); });
    }
  }

  template <class Ws>
  asio::awaitable<void> run_script(Ws& ws, std::size_t index) {
    for (const WsAction& action : script) {
      boost::system::error_code ec;
      std::size_t n = 0;
      switch (action.kind) {
        case WsAction::Kind::text:
        case WsAction::Kind::binary:
          ws.text(action.kind == WsAction::Kind::text);
          std::tie(ec, n) = co_await ws.async_write(asio::buffer(action.payload), nothrow);
          break;
        case WsAction::Kind::ping:
          std::tie(ec) = co_await ws.async_ping({}, nothrow);
          break;
        case WsAction::Kind::close:
          set_end(index, WsEnd::server_close);
          std::tie(ec) = co_await ws.async_close(websocket::close_code::normal, nothrow);
          step_done(index);
          co_return;
        case WsAction::Kind::drop: {
          set_end(index, WsEnd::server_drop);
          auto& socket = beast::get_lowest_layer(ws).socket();
          socket.shutdown(tcp::socket::shutdown_both, ec);
          socket.close(ec);
          step_done(index);
          co_return;
        }
        case WsAction::Kind::pause: {
          asio::steady_timer timer(io, action.delay);
          co_await timer.async_wait(nothrow);
          break;
        }
        case WsAction::Kind::wait_gate: {
          asio::steady_timer timer(io);
          while (!gate_open.load()) {
            timer.expires_after(std::chrono::milliseconds(2));
            co_await timer.async_wait(nothrow);
          }
          break;
        }
        case WsAction::Kind::quotes:
          ws.text(true);
          for (std::size_t i = 0; i < action.count && !ec; ++i) {
            const std::string message = quote_message(i);
            std::tie(ec, n) = co_await ws.async_write(asio::buffer(message), nothrow);
          }
          break;
      }
      if (ec) co_return;
      step_done(index);
    }
  }

  void step_done(std::size_t index) {
    update(index, [](WsConnection& c) { ++c.script_steps_done; });
  }
};

WsServer::WsServer(std::vector<WsAction> script, WsServerOptions options)
    : impl_(std::make_unique<Impl>(std::move(script), options)) {
  Impl& s = *impl_;
  if (options.tls) {
    const TlsIdentity& id = tls_identity();
    s.tls.emplace(ssl::context::tls_server);
    s.tls->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                       ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1);
    s.tls->use_certificate_chain(asio::buffer(id.server_certificate_pem));
    s.tls->use_private_key(asio::buffer(id.server_key_pem), ssl::context::pem);
  }
  s.acceptor.emplace(open_loopback_acceptor(s.io));
  s.port = s.acceptor->local_endpoint().port();
  asio::co_spawn(s.io, s.accept_loop(), asio::detached);
  s.thread = std::thread([&io = s.io] { io.run(); });
}

WsServer::~WsServer() {
  Impl& s = *impl_;
  s.io.stop();
  s.thread.join();
  // The connections still open go with their coroutine frames; the acceptor
  // belongs to the context and goes first.
  s.acceptor.reset();
}

std::uint16_t WsServer::port() const { return impl_->port; }

std::string WsServer::base_url() const {
  return (impl_->options.tls ? "https://localhost:" : "http://127.0.0.1:") + std::to_string(impl_->port);
}

std::vector<WsConnection> WsServer::connections() const {
  const std::lock_guard lock(impl_->mutex);
  return impl_->records;
}

std::size_t WsServer::connections_accepted() const {
  const std::lock_guard lock(impl_->mutex);
  return impl_->records.size();
}

bool WsServer::wait_until(const std::function<bool(const std::vector<WsConnection>&)>& done,
                          std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, timeout, [&] { return done(impl_->records); });
}

void WsServer::open_gate() { impl_->gate_open.store(true); }

}  // namespace zephlar::testing
