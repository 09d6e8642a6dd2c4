// The bounded first-in-first-out channel of quote texts between a stream's
// socket task and its QuoteStream: one sending end, owned by the task, and
// one receiving end, owned by the stream.
//
// The sending end is asynchronous: a send into a full channel suspends the
// task's coroutine, without holding a thread, until the receiving end takes a
// text or goes away. The receiving end is blocking: a receive parks the
// calling thread until a text arrives, the sending end is gone and the queue
// is drained, or a deadline passes.
//
// Dropping the receiving end closes the channel: the queued texts are
// discarded and every later send fails. Dropping the sending end lets the
// receiving end drain the queue in order and then report the channel closed.
//
// A send waiting for room parks on a timer of its own coroutine frame, so the
// wait is an ordinary operation of the task's io_context: when that context
// is torn down the wait is destroyed with the frame, and nothing of the task
// stays behind in the channel. The task must run on a strand (or a
// single-threaded context): the wake-up is posted to the waiting send's
// executor.
#pragma once

#include <boost/asio/awaitable.hpp>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>

namespace zephlar::ffi {

namespace detail {
struct QuoteChannelState;
}

class QuoteSender {
 public:
  QuoteSender() noexcept = default;
  explicit QuoteSender(std::shared_ptr<detail::QuoteChannelState> state) noexcept : state_(std::move(state)) {}
  QuoteSender(QuoteSender&&) noexcept = default;
  QuoteSender& operator=(QuoteSender&& other) noexcept;
  QuoteSender(const QuoteSender&) = delete;
  QuoteSender& operator=(const QuoteSender&) = delete;
  ~QuoteSender();

  // Queues `text`, waiting for room while the channel is full. True once the
  // text is queued; false when the receiving end is gone (then or while
  // waiting), and the text is dropped.
  boost::asio::awaitable<bool> send(std::string text);

  // Drops the sending end now (as the destructor does).
  void reset() noexcept;

  // Makes every later send, and one parked now, fail as if the receiving
  // end were gone, while the receiving end keeps what is queued. For ending
  // the sending task from outside it; any thread.
  class Interrupt {
   public:
    Interrupt() noexcept = default;
    explicit Interrupt(std::weak_ptr<detail::QuoteChannelState> state) noexcept : state_(std::move(state)) {}
    void operator()() const noexcept;

   private:
    std::weak_ptr<detail::QuoteChannelState> state_;
  };
  Interrupt interrupt() const noexcept { return Interrupt(state_); }

 private:
  std::shared_ptr<detail::QuoteChannelState> state_;
};

class QuoteReceiver {
 public:
  enum class Status { received, timed_out, closed };

  QuoteReceiver() noexcept = default;
  explicit QuoteReceiver(std::shared_ptr<detail::QuoteChannelState> state) noexcept : state_(std::move(state)) {}
  QuoteReceiver(QuoteReceiver&&) noexcept = default;
  QuoteReceiver& operator=(QuoteReceiver&& other) noexcept;
  QuoteReceiver(const QuoteReceiver&) = delete;
  QuoteReceiver& operator=(const QuoteReceiver&) = delete;
  ~QuoteReceiver();

  // Blocks the calling thread until a text can be taken (received, the text
  // in `out`), the sending end is gone and nothing is queued (closed), or
  // `deadline` has passed (timed_out). A queued text is taken even when the
  // deadline has already passed.
  Status receive_until(std::chrono::steady_clock::time_point deadline, std::string& out);

  // Whether a send is parked on the full channel with no wake-up on its way:
  // the queue is then full and stays so until the next receive.
  bool sender_waiting_for_room() const;

  // Drops the receiving end now (as the destructor does).
  void reset() noexcept;

  explicit operator bool() const noexcept { return state_ != nullptr; }

 private:
  std::shared_ptr<detail::QuoteChannelState> state_;
};

// A new channel with room for `capacity` texts (at least one).
std::pair<QuoteSender, QuoteReceiver> make_quote_channel(std::size_t capacity);

// The room of every stream's channel.
inline constexpr std::size_t quote_channel_capacity = 32;

}  // namespace zephlar::ffi
