#include "tests/support/ws_raw_peer.hpp"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <openssl/evp.h>

#include "tests/support/fake_service_tls.hpp"
#include "tests/support/loopback_acceptor.hpp"

namespace zephlar::testing {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

constexpr auto nothrow = asio::as_tuple(asio::use_awaitable);

// The value of header `name` (compared without regard to case) in the
// request head `head`; empty when absent.
std::string header_value(std::string_view head, std::string_view name) {
  std::size_t at = head.find("\r\n");
  while (at != std::string_view::npos && at + 2 < head.size()) {
    const std::size_t start = at + 2;
    const std::size_t end = head.find("\r\n", start);
    const std::string_view line = head.substr(start, end - start);
    const std::size_t colon = line.find(':');
    if (colon == name.size() && std::equal(name.begin(), name.end(), line.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        })) {
      std::string_view value = line.substr(colon + 1);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
      while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
      return std::string(value);
    }
    at = end;
  }
  return {};
}

std::string accept_value(const std::string& key) {
  const std::string text = key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha1(), nullptr);
  unsigned char encoded[4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1];
  const int length = EVP_EncodeBlock(encoded, digest, static_cast<int>(size));
  return std::string(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(length));
}

// Takes one complete frame off the front of `in`, if there is one.
std::optional<RawFrame> take_frame(std::string& in) {
  if (in.size() < 2) return std::nullopt;
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(in[i]); };
  std::size_t at = 2;
  std::uint64_t length = byte(1) & 0x7f;
  const std::size_t extra = length == 126 ? 2 : length == 127 ? 8 : 0;
  if (in.size() < at + extra) return std::nullopt;
  if (extra > 0) {
    length = 0;
    for (std::size_t i = 0; i < extra; ++i) length = (length << 8) | byte(at + i);
    at += extra;
  }
  const bool masked = (byte(1) & 0x80) != 0;
  unsigned char mask[4] = {0, 0, 0, 0};
  if (masked) {
    if (in.size() < at + 4) return std::nullopt;
    for (std::size_t i = 0; i < 4; ++i) mask[i] = byte(at + i);
    at += 4;
  }
  if (in.size() - at < length) return std::nullopt;
  RawFrame frame;
  frame.opcode = byte(0) & 0x0f;
  frame.payload = in.substr(at, static_cast<std::size_t>(length));
  for (std::size_t i = 0; i < frame.payload.size(); ++i) frame.payload[i] ^= static_cast<char>(mask[i % 4]);
  in.erase(0, at + static_cast<std::size_t>(length));
  return frame;
}

}  // namespace

struct RawWsPeer::Impl {
  explicit Impl(RawPeerScript s) : script(std::move(s)) {}

  const RawPeerScript script;
  std::optional<asio::ssl::context> tls;

  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::vector<RawPeerConnection> records;

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
    if (!tls) {
      co_await converse(socket, index);
      co_await hold(index);
      co_return;
    }
    asio::ssl::stream<tcp::socket> stream(std::move(socket), *tls);
    auto [ec] = co_await stream.async_handshake(asio::ssl::stream_base::server, nothrow);
    if (!ec) co_await converse(stream, index);
    co_await hold(index);
  }

  // Keeps the caller's frame, and so its connection, until the peer goes.
  asio::awaitable<void> hold(std::size_t index) {
    update(index, [](RawPeerConnection& c) { c.client_ended = true; });
    asio::steady_timer forever(io, asio::steady_timer::time_point::max());
    co_await forever.async_wait(nothrow);
  }

  // Until the client ends the connection.
  template <class Stream>
  asio::awaitable<void> converse(Stream& socket, std::size_t index) {
    std::string in;
    auto [ec, head_size] = co_await asio::async_read_until(socket, asio::dynamic_buffer(in), "\r\n\r\n", nothrow);
    if (ec) co_return;
    std::string answer = script.answer;
    if (answer.empty()) {
      answer =
          "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
          "Sec-WebSocket-Accept: " +
          accept_value(header_value(std::string_view(in).substr(0, head_size), "Sec-WebSocket-Key")) + "\r\n" +
          script.extra_headers + "\r\n";
    }
    in.erase(0, head_size);
    std::size_t n = 0;
    std::tie(ec, n) = co_await asio::async_write(socket, asio::buffer(answer), nothrow);
    if (ec) co_return;

    bool scripted = false;
    char chunk[4096];
    for (;;) {
      while (auto frame = take_frame(in)) {
        update(index, [&](RawPeerConnection& c) { c.frames.push_back(std::move(*frame)); });
        if (!scripted && !script.after_first_frame.empty()) {
          scripted = true;
          std::tie(ec, n) = co_await asio::async_write(socket, asio::buffer(script.after_first_frame), nothrow);
          if (ec) co_return;
        }
      }
      std::tie(ec, n) = co_await socket.async_read_some(asio::buffer(chunk), nothrow);
      if (ec) co_return;
      in.append(chunk, n);
    }
  }
};

RawWsPeer::RawWsPeer(RawPeerScript script) : impl_(std::make_unique<Impl>(std::move(script))) {
  Impl& s = *impl_;
  if (s.script.tls) {
    const TlsIdentity& id = tls_identity();
    s.tls.emplace(asio::ssl::context::tls_server);
    s.tls->use_certificate_chain(asio::buffer(id.server_certificate_pem));
    s.tls->use_private_key(asio::buffer(id.server_key_pem), asio::ssl::context::pem);
  }
  s.acceptor.emplace(open_loopback_acceptor(s.io));
  s.port = s.acceptor->local_endpoint().port();
  asio::co_spawn(s.io, s.accept_loop(), asio::detached);
  s.thread = std::thread([&io = s.io] { io.run(); });
}

RawWsPeer::~RawWsPeer() {
  Impl& s = *impl_;
  s.io.stop();
  s.thread.join();
  // The held connections go with their coroutine frames; the acceptor
  // belongs to the context and goes first.
  s.acceptor.reset();
}

std::string RawWsPeer::base_url() const {
  return (impl_->script.tls ? "https://localhost:" : "http://127.0.0.1:") + std::to_string(impl_->port);
}

std::vector<RawPeerConnection> RawWsPeer::connections() const {
  const std::lock_guard lock(impl_->mutex);
  return impl_->records;
}

bool RawWsPeer::wait_until(const std::function<bool(const std::vector<RawPeerConnection>&)>& done,
                           std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, timeout, [&] { return done(impl_->records); });
}

std::string raw_frame(std::uint8_t opcode, std::string_view payload, RawFrameBits bits) {
  std::string out;
  out.push_back(static_cast<char>(0x80 | (bits.rsv1 ? 0x40 : 0) | (opcode & 0x0f)));
  const char mask_bit = bits.masked ? static_cast<char>(0x80) : 0;
  if (payload.size() < 126) {
    out.push_back(static_cast<char>(mask_bit | static_cast<char>(payload.size())));
  } else if (payload.size() <= 0xffff) {
    out.push_back(static_cast<char>(mask_bit | 126));
    out.push_back(static_cast<char>(payload.size() >> 8));
    out.push_back(static_cast<char>(payload.size() & 0xff));
  } else {
    out.push_back(static_cast<char>(mask_bit | 127));
    for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<char>((payload.size() >> shift) & 0xff));
  }
  const unsigned char mask[4] = {0x12, 0x34, 0x56, 0x78};
  if (bits.masked) out.append(reinterpret_cast<const char*>(mask), 4);
  for (std::size_t i = 0; i < payload.size(); ++i) {
    out.push_back(bits.masked ? static_cast<char>(payload[i] ^ static_cast<char>(mask[i % 4])) : payload[i]);
  }
  return out;
}

std::string raw_text_frame(std::string_view text) { return raw_frame(raw_opcode_text, text); }

std::string raw_close_frame(std::uint16_t code) {
  const char payload[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xff)};
  return raw_frame(raw_opcode_close, std::string_view(payload, 2));
}

std::uint16_t raw_close_code(const RawFrame& frame) {
  if (frame.opcode != raw_opcode_close || frame.payload.size() < 2) return 0;
  return static_cast<std::uint16_t>((static_cast<unsigned char>(frame.payload[0]) << 8) |
                                    static_cast<unsigned char>(frame.payload[1]));
}

}  // namespace zephlar::testing
