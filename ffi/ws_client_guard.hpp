// The layer between the quote socket's WebSocket client and its transport
// (TCP, or TLS over TCP). It passes every byte through unchanged and adds
// two things the WebSocket client does not do on its own:
//
// - The answer to the upgrade request is judged as soon as its header is
//   complete: anything but 101, and a 101 that names a subprotocol or an
//   extension (this client asks for neither), fails the read at once. Left to
//   itself the client would first read the answer's body to its end, which
//   for an answer without a length is whenever the server closes.
//
// - The closing handshake is bounded. After a close message from the peer,
//   or after a protocol error the client answers with a close message of its
//   own, the client waits for the peer to end the connection; a peer that
//   never does would hold the read, and so the task, forever. Here the wait
//   lasts at most closing_wait, then the connection is closed from this end.
//
// Every operation runs on the executor of the transport (the task's strand),
// so the layer needs no locking of its own.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>

#include <boost/asio/buffer.hpp>
#include <boost/asio/compose.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/role.hpp>
#include <boost/beast/core/stream_traits.hpp>
#include <boost/beast/websocket/teardown.hpp>
#include <boost/system/error_code.hpp>

namespace zephlar::ffi {

// How long a closing connection waits for the peer to end it.
inline constexpr std::chrono::milliseconds closing_wait{500};

// The upgrade answer's bytes as they arrive, until its header is complete.
class UpgradeAnswerCheck {
 public:
  UpgradeAnswerCheck();
  ~UpgradeAnswerCheck();
  UpgradeAnswerCheck(const UpgradeAnswerCheck&) = delete;
  UpgradeAnswerCheck& operator=(const UpgradeAnswerCheck&) = delete;

  enum class Verdict { need_more, accepted, refused };

  // Takes the next bytes from the connection. `need_more` until the header
  // is complete; then `accepted` for a 101 without a subprotocol or an
  // extension, `refused` for anything else (a header that cannot be parsed
  // or grows beyond the limit included).
  Verdict add(const void* data, std::size_t size) noexcept;

 private:
  struct Parser;
  std::string seen_;
  std::unique_ptr<Parser> parser_;
};

template <class NextLayer>
class WsClientGuard {
 public:
  using executor_type = typename NextLayer::executor_type;
  using next_layer_type = NextLayer;

  template <class... Args>
  explicit WsClientGuard(Args&&... args) : next_(std::forward<Args>(args)...) {}

  executor_type get_executor() noexcept { return next_.get_executor(); }
  NextLayer& next_layer() noexcept { return next_; }
  const NextLayer& next_layer() const noexcept { return next_; }

  template <class MutableBuffers, class Token>
  auto async_read_some(const MutableBuffers& buffers, Token&& token) {
    return boost::asio::async_compose<Token, void(boost::system::error_code, std::size_t)>(
        ReadSome<MutableBuffers>{*this, buffers}, token, next_);
  }

  template <class ConstBuffers, class Token>
  auto async_write_some(const ConstBuffers& buffers, Token&& token) {
    return next_.async_write_some(buffers, std::forward<Token>(token));
  }

  // Closing handshake, bounded by closing_wait (see above).
  template <class Handler>
  friend void async_teardown(boost::beast::role_type role, WsClientGuard& guard, Handler&& handler) {
    boost::asio::async_compose<Handler, void(boost::system::error_code)>(BoundedTeardown{guard, role}, handler,
                                                                         guard.next_);
  }

  friend void teardown(boost::beast::role_type role, WsClientGuard& guard, boost::system::error_code& ec) {
    using boost::beast::websocket::teardown;
    teardown(role, guard.next_, ec);
  }

 private:
  // Runs the transport's read, then shows what it delivered to the check of
  // the upgrade answer while that check still waits for the header.
  template <class MutableBuffers>
  struct ReadSome {
    WsClientGuard& guard;
    MutableBuffers buffers;
    bool started = false;

    template <class Self>
    void operator()(Self& self, boost::system::error_code ec = {}, std::size_t size = 0) {
      if (!started) {
        started = true;
        guard.next_.async_read_some(buffers, std::move(self));
        return;
      }
      if (!ec && guard.answer_) ec = guard.judge_answer(buffers, size);
      self.complete(ec, size);
    }
  };

  // What the timer and the teardown share: the timer's handler may already
  // be queued when the teardown ends, and must then leave the connection
  // (perhaps gone by then) alone.
  struct TeardownState {
    explicit TeardownState(const executor_type& executor) : timer(executor, closing_wait) {}
    boost::asio::steady_timer timer;
    bool finished = false;
  };

  // The transport's own teardown (for the client: shut down the sending
  // side, then read until the peer ends the connection), with the
  // connection closed from this end once closing_wait has passed.
  struct BoundedTeardown {
    WsClientGuard& guard;
    boost::beast::role_type role;
    std::shared_ptr<TeardownState> state{};
    bool started = false;

    template <class Self>
    void operator()(Self& self, boost::system::error_code ec = {}) {
      if (!started) {
        started = true;
        try {
          state = std::make_shared<TeardownState>(guard.next_.get_executor());
          state->timer.async_wait([state = state, &guard = guard](boost::system::error_code waited) {
            if (!waited && !state->finished) guard.close_transport();
          });
        } catch (...) {
          // Without a timer there is no bounded wait: no wait at all.
          guard.close_transport();
        }
        using boost::beast::websocket::async_teardown;
        async_teardown(role, guard.next_, std::move(self));
        return;
      }
      if (state) {
        state->finished = true;
        state->timer.cancel();
      }
      self.complete(ec);
    }
  };

  template <class MutableBuffers>
  boost::system::error_code judge_answer(const MutableBuffers& buffers, std::size_t size) noexcept {
    auto verdict = UpgradeAnswerCheck::Verdict::need_more;
    for (auto it = boost::asio::buffer_sequence_begin(buffers);
         size > 0 && it != boost::asio::buffer_sequence_end(buffers); ++it) {
      const boost::asio::mutable_buffer piece(*it);
      const std::size_t used = piece.size() < size ? piece.size() : size;
      verdict = answer_->add(piece.data(), used);
      size -= used;
      if (verdict != UpgradeAnswerCheck::Verdict::need_more) break;
    }
    if (verdict == UpgradeAnswerCheck::Verdict::need_more) return {};
    answer_.reset();
    if (verdict == UpgradeAnswerCheck::Verdict::accepted) return {};
    return make_error_code(boost::system::errc::protocol_error);
  }

  void close_transport() noexcept {
    boost::system::error_code ignored;
    boost::beast::get_lowest_layer(next_).socket().close(ignored);
  }

  NextLayer next_;
  // Until the upgrade answer's header has been judged.
  std::unique_ptr<UpgradeAnswerCheck> answer_ = std::make_unique<UpgradeAnswerCheck>();
};

}  // namespace zephlar::ffi
