// Buffers for large answer bodies, handed back by their readers and received
// into again by the transfer engines.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace zephlar::http {

// Buffers for large bodies, handed back by their readers and received into
// again. A body of a megabyte or more freshly allocated for every answer
// comes from newly mapped memory (the C library hands such blocks back to the
// system when they are freed), so the transfer thread would take a page
// fault every few kilobytes while it copies the answer in, and every unmap
// would interrupt all the threads of the process to flush their address
// translations. Kept buffers are already in place.

class BodyPool {
 public:
  // An empty buffer with room for `length` bytes: the smallest kept one
  // that fits without being far too large, or a new one. Throws
  // std::bad_alloc when no memory is left for a new one.
  std::string take(std::size_t length) {
    std::string taken;
    {
      const std::lock_guard lock(mutex_);
      last_take_ = std::chrono::steady_clock::now();
      auto best = kept_.end();
      for (auto it = kept_.begin(); it != kept_.end(); ++it) {
        const std::size_t room = it->capacity();
        if (room >= length && room / 4 <= length && (best == kept_.end() || room < best->capacity())) best = it;
      }
      if (best != kept_.end()) {
        kept_bytes_ -= best->capacity();
        taken = std::move(*best);
        *best = std::move(kept_.back());
        kept_.pop_back();
      }
    }
    taken.reserve(length);
    return taken;
  }

  // Keeps `body` for a later answer when it is large enough to be worth it
  // and the pool has room. True when the transfer thread must be woken: it
  // went to sleep for long, with nothing kept and nothing taken lately, and
  // now has to watch for idleness.
  bool give_back(std::string body) noexcept {
    if (body.capacity() < min_kept || body.capacity() > max_kept_bytes) return false;
    body.clear();
    const std::lock_guard lock(mutex_);
    if (kept_.size() >= max_kept_ || kept_bytes_ + body.capacity() > max_kept_bytes) return false;
    try {
      kept_.push_back(std::move(body));
    } catch (...) {
      // No room to remember it: the buffer is simply freed.
      return false;
    }
    kept_bytes_ += kept_.back().capacity();
    return std::exchange(sleeping_long_, false);
  }

  // Keeps up to `count` buffers: the peak of transfers under way at once,
  // whose bodies were all in memory then anyway. Only ever raised, since
  // several engines report their own peaks.
  void keep_up_to(std::size_t count) noexcept {
    const std::lock_guard lock(mutex_);
    max_kept_ = std::max(max_kept_, count);
  }

  // How long the transfer thread may sleep before it checks for idleness;
  // called as it goes to sleep. A buffer taken lately is likely to come
  // back soon: the short sleep then spares its reader a wake-up call.
  std::chrono::milliseconds check_after() noexcept {
    const std::lock_guard lock(mutex_);
    sleeping_long_ = kept_.empty() && std::chrono::steady_clock::now() - last_take_ >= idle_after;
    return sleeping_long_ ? std::chrono::milliseconds(30'000) : std::chrono::milliseconds(idle_after);
  }

  // Frees the kept buffers once none has been taken for a while: memory is
  // held only while large answers keep coming.
  void trim_if_idle() noexcept {
    std::vector<std::string> dropped;
    {
      const std::lock_guard lock(mutex_);
      if (kept_.empty() || std::chrono::steady_clock::now() - last_take_ < idle_after) return;
      dropped.swap(kept_);
      kept_bytes_ = 0;
    }
  }

 private:
  // Below this size the allocator recycles freed memory by itself.
  static constexpr std::size_t min_kept = std::size_t{128} << 10;
  // Bounds the memory kept, in all, whatever the peak.
  static constexpr std::size_t max_kept_bytes = std::size_t{256} << 20;
  static constexpr std::chrono::milliseconds idle_after{1000};

  mutable std::mutex mutex_;
  std::vector<std::string> kept_;
  std::size_t kept_bytes_ = 0;
  std::size_t max_kept_ = 0;
  std::chrono::steady_clock::time_point last_take_{};
  bool sleeping_long_ = false;
};

}  // namespace zephlar::http
