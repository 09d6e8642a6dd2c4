#include "ffi/quote_stream.hpp"

#include <limits>
#include <utility>

#include "ffi/internal_fault.hpp"
#include "ffi/quote_socket.hpp"
#include "ffi/zeph_client.hpp"

namespace zephlar::ffi {

std::chrono::steady_clock::time_point quote_deadline(std::chrono::steady_clock::time_point now, SecondsSpan timeout) {
  using clock = std::chrono::steady_clock;
  constexpr auto thirty_years = std::chrono::seconds(946'080'000);
  const auto room = clock::time_point::max() - now;  // now is never negative on a monotonic clock
  const std::chrono::nanoseconds span = timeout.to_nanoseconds();
  if (span == std::chrono::nanoseconds::max() || span > room) return now + thirty_years;
  return now + std::chrono::duration_cast<clock::duration>(span);
}

QuoteStream::QuoteStream(std::shared_ptr<Runtime> runtime, QuoteReceiver receiver,
                         std::shared_ptr<std::atomic<bool>> connected) noexcept
    : runtime_(std::move(runtime)), receiver_(std::move(receiver)), connected_(std::move(connected)) {}

std::shared_ptr<QuoteStream> QuoteStream::create(std::shared_ptr<Runtime> runtime, std::string_view base_url,
                                                 std::string_view pair_ticker) {
  std::string url = quote_stream_url(base_url);
  auto [sender, receiver] = make_quote_channel(quote_channel_capacity);
  auto connected = std::make_shared<std::atomic<bool>>(true);
  spawn_quote_socket(*runtime, std::move(url), std::string(pair_ticker), connected, std::move(sender));
  return std::shared_ptr<QuoteStream>(new QuoteStream(std::move(runtime), std::move(receiver), std::move(connected)));
}

QuoteStream::~QuoteStream() {
  runtime_.reset();
  {
    const std::lock_guard lock(receiver_mutex_);
    receiver_.reset();
  }
  connected_.reset();
}

std::optional<std::string> QuoteStream::recv(double timeout_secs) {
  const SecondsSpan timeout = seconds_to_span(timeout_secs);
  if (Runtime::on_runtime_thread()) throw InternalFault(blocking_on_runtime_thread_message);
  return recv_with_timeout(timeout);
}

std::optional<std::string> QuoteStream::recv_with_timeout(SecondsSpan timeout) {
  QuoteReceiver receiver;
  {
    const std::lock_guard lock(receiver_mutex_);
    if (!receiver_) return std::nullopt;
    receiver = std::move(receiver_);
  }
  const auto deadline = quote_deadline(std::chrono::steady_clock::now(), timeout);
  std::string text;
  switch (receiver.receive_until(deadline, text)) {
    case QuoteReceiver::Status::received: {
      const std::lock_guard lock(receiver_mutex_);
      receiver_ = std::move(receiver);
      return text;
    }
    case QuoteReceiver::Status::timed_out: {
      const std::lock_guard lock(receiver_mutex_);
      receiver_ = std::move(receiver);
      return std::nullopt;
    }
    case QuoteReceiver::Status::closed:
      break;
  }
  // Closed and drained: the receiving end goes, the slot stays empty.
  return std::nullopt;
}

std::shared_ptr<QuoteStream> ZephClient::create_quote_stream(std::string_view pair_ticker) const {
  return QuoteStream::create(runtime_, core_->config().base_url, pair_ticker);
}

void QuoteStream::close() noexcept {
  connected_->exchange(false, std::memory_order_acq_rel);
  QuoteReceiver dropped;
  const std::lock_guard lock(receiver_mutex_);
  dropped = std::move(receiver_);
  dropped.reset();
}

}  // namespace zephlar::ffi
