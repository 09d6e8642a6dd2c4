#include "ffi/quote_channel.hpp"

#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace zephlar::ffi {

namespace asio = boost::asio;

namespace detail {

// A send parked until there is room: a timer that never expires on its own
// and is cancelled to wake the send. Lives in the send's coroutine frame.
struct RoomWait {
  explicit RoomWait(const asio::any_io_executor& executor) : timer(executor) {}
  asio::steady_timer timer;
  bool woken = false;  // a wake-up has been posted (guarded by the channel mutex)
};

struct QuoteChannelState {
  explicit QuoteChannelState(std::size_t room) : capacity(room == 0 ? 1 : room) {}

  std::mutex mutex;
  std::condition_variable readable;
  std::deque<std::string> queue;
  const std::size_t capacity;
  bool sender_gone = false;
  bool receiver_gone = false;
  bool sends_interrupted = false;
  RoomWait* room_wait = nullptr;  // the parked send, if any

  // Wakes the parked send, once. Called with `mutex` held. The cancel runs
  // on the send's executor, after the send has suspended: the send only
  // suspends after registering, and it registers from inside that executor.
  //
  // Posting allocates. When that fails the send stays parked and unmarked,
  // so that the next receive or the receiver's release tries again; the
  // callers include a noexcept release, which must not see the failure.
  void wake_sender_locked() noexcept {
    if (room_wait == nullptr || room_wait->woken) return;
    RoomWait* wait = room_wait;
    try {
      asio::post(wait->timer.get_executor(), [wait] { wait->timer.cancel(); });
      wait->woken = true;
    } catch (...) {
    }
  }
};

}  // namespace detail

namespace {

// Unregisters a parked send when it resumes or when its frame is destroyed
// (the runtime tearing the task down).
class RoomWaitRegistration {
 public:
  RoomWaitRegistration(detail::QuoteChannelState& state, detail::RoomWait& wait) noexcept
      : state_(state), wait_(wait) {}
  RoomWaitRegistration(const RoomWaitRegistration&) = delete;
  RoomWaitRegistration& operator=(const RoomWaitRegistration&) = delete;
  ~RoomWaitRegistration() {
    const std::lock_guard lock(state_.mutex);
    if (state_.room_wait == &wait_) state_.room_wait = nullptr;
  }

 private:
  detail::QuoteChannelState& state_;
  detail::RoomWait& wait_;
};

}  // namespace

std::pair<QuoteSender, QuoteReceiver> make_quote_channel(std::size_t capacity) {
  auto state = std::make_shared<detail::QuoteChannelState>(capacity);
  return {QuoteSender(state), QuoteReceiver(state)};
}

QuoteSender& QuoteSender::operator=(QuoteSender&& other) noexcept {
  if (this != &other) {
    reset();
    state_ = std::move(other.state_);
  }
  return *this;
}

QuoteSender::~QuoteSender() { reset(); }

void QuoteSender::reset() noexcept {
  if (!state_) return;
  {
    const std::lock_guard lock(state_->mutex);
    state_->sender_gone = true;
  }
  state_->readable.notify_all();
  state_.reset();
}

void QuoteSender::Interrupt::operator()() const noexcept {
  const auto state = state_.lock();
  if (!state) return;
  const std::lock_guard lock(state->mutex);
  state->sends_interrupted = true;
  state->wake_sender_locked();
}

asio::awaitable<bool> QuoteSender::send(std::string text) {
  if (!state_) co_return false;
  // The frame keeps the state alive even if the sender is moved from while
  // suspended.
  const std::shared_ptr<detail::QuoteChannelState> state = state_;
  const asio::any_io_executor executor = co_await asio::this_coro::executor;
  std::optional<detail::RoomWait> wait;
  for (;;) {
    {
      std::unique_lock lock(state->mutex);
      if (state->receiver_gone || state->sends_interrupted) co_return false;
      if (state->queue.size() < state->capacity) {
        state->queue.push_back(std::move(text));
        lock.unlock();
        state->readable.notify_one();
        co_return true;
      }
      if (!wait) wait.emplace(executor);
      wait->woken = false;
      wait->timer.expires_at(asio::steady_timer::time_point::max());
      state->room_wait = &*wait;
    }
    const RoomWaitRegistration registration(*state, *wait);
    boost::system::error_code ignored;
    co_await wait->timer.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
  }
}

QuoteReceiver& QuoteReceiver::operator=(QuoteReceiver&& other) noexcept {
  if (this != &other) {
    reset();
    state_ = std::move(other.state_);
  }
  return *this;
}

QuoteReceiver::~QuoteReceiver() { reset(); }

void QuoteReceiver::reset() noexcept {
  if (!state_) return;
  {
    // The queued texts are freed in place: a deque to swap them into would
    // allocate even when empty, and this release must not fail.
    const std::lock_guard lock(state_->mutex);
    state_->receiver_gone = true;
    state_->queue.clear();
    state_->wake_sender_locked();
  }
  state_.reset();
}

QuoteReceiver::Status QuoteReceiver::receive_until(std::chrono::steady_clock::time_point deadline, std::string& out) {
  if (!state_) return Status::closed;
  auto& state = *state_;
  std::unique_lock lock(state.mutex);
  for (;;) {
    if (!state.queue.empty()) {
      out = std::move(state.queue.front());
      state.queue.pop_front();
      state.wake_sender_locked();
      return Status::received;
    }
    if (state.sender_gone) return Status::closed;
    if (state.readable.wait_until(lock, deadline) == std::cv_status::timeout && state.queue.empty() &&
        !state.sender_gone) {
      return Status::timed_out;
    }
  }
}

bool QuoteReceiver::sender_waiting_for_room() const {
  if (!state_) return false;
  const std::lock_guard lock(state_->mutex);
  return state_->room_wait != nullptr && !state_->room_wait->woken;
}

}  // namespace zephlar::ffi
