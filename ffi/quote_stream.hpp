// A live stream of quotes for one trading pair, fed by the service's
// WebSocket endpoint.
//
// Creating a stream starts its socket task (ffi/quote_socket.hpp), detached,
// on the client's runtime and returns at once, before any network activity.
// The stream and its task share two things only: the quote channel (room for
// 32 texts; the task waits when it is full, so no quote is ever dropped) and
// the `connected` flag. The caller polls with recv, reads the flag with
// is_connected and ends the stream with close.
//
// A stream lives behind a shared_ptr and holds its own reference to the
// runtime, so it outlives the client that created it; the runtime (and the
// tasks of all its streams) goes on until the last reference, the client's or
// any stream's, is released.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "ffi/quote_channel.hpp"
#include "ffi/runtime.hpp"
#include "ffi/seconds.hpp"

namespace zephlar::ffi {

class QuoteStream {
 public:
  // The stream URL is derived from `base_url` (quote_stream_url); the ticker
  // is sent as given. Never fails: a URL that cannot be used, a host that
  // cannot be reached or a refused handshake only turn `connected` false.
  static std::shared_ptr<QuoteStream> create(std::shared_ptr<Runtime> runtime, std::string_view base_url,
                                             std::string_view pair_ticker);

  // Releases the runtime reference first (possibly the last one, which stops
  // the runtime and drops the task where it stands), then the receiving end,
  // then the flag. The flag is not cleared.
  ~QuoteStream();

  QuoteStream(const QuoteStream&) = delete;
  QuoteStream& operator=(const QuoteStream&) = delete;

  // The next quote text, waiting at most `timeout_secs` seconds for one. A
  // queued text is returned at once, even with a zero time-out. Nothing when
  // the time-out passes, when another recv is waiting, after close, or once
  // the task has ended and every queued text has been taken.
  //
  // Throws InternalFault, leaving the stream untouched, for a negative, NaN,
  // infinite or too large time-out, and when called on a thread that runs
  // asynchronous tasks.
  std::optional<std::string> recv(double timeout_secs);

  // The receive step of recv for a time span already converted.
  std::optional<std::string> recv_with_timeout(SecondsSpan timeout);

  // Clears `connected` and drops the receiving end (discarding every queued
  // text) unless a recv has it out at the moment. Any number of calls.
  void close() noexcept;

  bool is_connected() const noexcept { return connected_->load(std::memory_order_acquire); }

  // The runtime the stream belongs to (for tests and the host layers).
  const std::shared_ptr<Runtime>& runtime() const noexcept { return runtime_; }

 private:
  QuoteStream(std::shared_ptr<Runtime> runtime, QuoteReceiver receiver,
              std::shared_ptr<std::atomic<bool>> connected) noexcept;

  std::shared_ptr<Runtime> runtime_;
  // The receiver slot: holds the channel's receiving end, empty while a recv
  // has it out and for good after close or a drained, closed channel.
  std::mutex receiver_mutex_;
  QuoteReceiver receiver_;
  std::shared_ptr<std::atomic<bool>> connected_;
};

// The deadline of a wait of `timeout` from `now`: when that lies beyond the
// clock's range, 30 years from `now`.
std::chrono::steady_clock::time_point quote_deadline(std::chrono::steady_clock::time_point now, SecondsSpan timeout);

}  // namespace zephlar::ffi
