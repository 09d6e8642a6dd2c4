// For the C++ tests only: watch and steer the back-off of the request loop.
// Hidden inside the library like test_roots.hpp.
#pragma once

#include <chrono>
#include <functional>

namespace zephlar::http::testing {

struct RetryHooks {
  // Replaces the jitter's uniform draw from [0, 1) when set.
  std::function<double()> uniform;
  // Told each wait before a repeat; returns how long to wait instead (the
  // wait is still an asynchronous timer on the caller's executor).
  std::function<std::chrono::milliseconds(std::chrono::milliseconds)> sleep;
};

// Installs `hooks` for every client, on every thread, while it lives.
// Guards do not nest.
class ScopedRetryHooks {
 public:
  __attribute__((visibility("hidden"))) explicit ScopedRetryHooks(RetryHooks hooks);
  __attribute__((visibility("hidden"))) ~ScopedRetryHooks();
  ScopedRetryHooks(const ScopedRetryHooks&) = delete;
  ScopedRetryHooks& operator=(const ScopedRetryHooks&) = delete;
};

}  // namespace zephlar::http::testing
