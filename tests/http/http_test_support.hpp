// Shared by the HTTP tests: running a coroutine to its end, building clients,
// and watching the back-off through the retry hooks.
#pragma once

#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/http/http_client.hpp"
#include "core/http/retry_hooks.hpp"
#include "core/json/json.hpp"

namespace zephlar::testing {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using json::JsonValue;

// Runs one coroutine on a fresh single-threaded context and returns its
// result.
template <class T>
T run(asio::awaitable<T> task) {
  asio::io_context ctx;
  std::optional<T> result;
  std::exception_ptr failure;
  asio::co_spawn(
      ctx, [&]() -> asio::awaitable<void> { result.emplace(co_await std::move(task)); },
      [&](std::exception_ptr e) { failure = e; });
  ctx.run();
  if (failure) std::rethrow_exception(failure);
  return std::move(*result);
}

inline http::RetryConfig retries(std::uint32_t max_retries) {
  http::RetryConfig config;
  config.max_retries = max_retries;
  return config;
}

inline std::shared_ptr<http::HttpClient> make_client(std::string base_url, std::uint32_t max_retries = 0,
                                                     std::chrono::nanoseconds timeout = 60s) {
  auto client = http::HttpClient::create(std::move(base_url), timeout, retries(max_retries));
  if (!client) {
    ADD_FAILURE() << client.error().to_string();
    return nullptr;
  }
  return std::move(client).value();
}

// Records the back-off: every uniform draw yields the next of `draws` (the
// last one repeats), every requested wait is recorded and replaced by `wait`.
class BackoffRecorder {
 public:
  explicit BackoffRecorder(std::vector<double> draws = {0.5}, std::chrono::milliseconds wait = 0ms)
      : draws_(std::move(draws)),
        hooks_(http::testing::RetryHooks{[this] {
                                           const std::lock_guard lock(mutex_);
                                           const double u = draws_[std::min(next_draw_, draws_.size() - 1)];
                                           ++next_draw_;
                                           return u;
                                         },
                                         [this, wait](std::chrono::milliseconds requested) {
                                           const std::lock_guard lock(mutex_);
                                           sleeps_.push_back(requested.count());
                                           return wait;
                                         }}) {}

  std::vector<long long> sleeps() const {
    const std::lock_guard lock(mutex_);
    return sleeps_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<double> draws_;
  std::size_t next_draw_ = 0;
  std::vector<long long> sleeps_;
  http::testing::ScopedRetryHooks hooks_;  // last: removed before the rest goes
};

// Proxy variables of the environment the tests run in would send loopback
// traffic elsewhere; every HTTP test starts without them.
inline void clear_proxy_environment() {
  for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                           "no_proxy", "NO_PROXY", "REQUEST_METHOD"}) {
    ::unsetenv(name);
  }
}

class HttpTest : public ::testing::Test {
 protected:
  HttpTest() { clear_proxy_environment(); }
};

inline std::string error_text(const CoreError& e) { return e.to_string(); }

}  // namespace zephlar::testing
