// Running core coroutines to completion in tests, and building clients that
// talk to the loopback fake service.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "core/client/core_client.hpp"
#include "core/client/core_config.hpp"

namespace zephlar::testing {

// Runs one task on a fresh single-threaded io_context and returns its value.
// (co_spawn wants a default-constructible result for an awaitable<T>, which
// CoreResult is not; the task runs inside an awaitable<void> instead.)
template <class T>
T run_task(boost::asio::awaitable<T> task) {
  boost::asio::io_context context;
  std::optional<T> out;
  boost::asio::co_spawn(
      context, [&]() -> boost::asio::awaitable<void> { out.emplace(co_await std::move(task)); },
      [](std::exception_ptr e) {
        if (e) std::rethrow_exception(e);
      });
  context.run();
  return std::move(*out);
}

// Starts a task on `executor` and hands its value to `done` when it ends.
template <class Executor, class T, class Done>
void spawn_task(Executor&& executor, boost::asio::awaitable<T> task, Done done) {
  boost::asio::co_spawn(
      std::forward<Executor>(executor),
      [task = std::move(task), done = std::move(done)]() mutable -> boost::asio::awaitable<void> {
        done(co_await std::move(task));
      },
      [](std::exception_ptr e) {
        if (e) std::rethrow_exception(e);
      });
}

// A monotonic clock that moves only when told to.
class ManualClock {
 public:
  std::chrono::steady_clock::time_point now() const {
    return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ns_.load()));
  }
  void advance(std::chrono::nanoseconds by) { ns_ += by.count(); }
  void set(std::chrono::nanoseconds since_epoch) { ns_ = since_epoch.count(); }

  client::CoreClient::Clock function() {
    return [this] { return now(); };
  }

 private:
  // Far from the epoch, so that going back in a test stays positive.
  std::atomic<std::int64_t> ns_{std::chrono::nanoseconds(std::chrono::hours(24 * 365)).count()};
};

inline client::CoreConfig config_for(std::string base_url, std::uint64_t cache_ttl = 300,
                                     std::uint32_t max_retries = 0) {
  client::CoreConfig config;
  config.base_url = std::move(base_url);
  config.timeout = 10.0;
  config.max_retries = max_retries;
  config.cache_ttl = cache_ttl;
  return config;
}

inline std::shared_ptr<client::CoreClient> make_client(client::CoreConfig config,
                                                       client::CoreClient::Clock clock = {}) {
  auto created = client::CoreClient::create(std::move(config), std::move(clock));
  if (!created) {
    ADD_FAILURE() << created.error().to_string();
    return nullptr;
  }
  return std::move(created).value();
}

// The text of a failed result, or a note that it succeeded.
template <class T>
std::string error_text(const CoreResult<T>& result) {
  return result ? std::string("<no error>") : result.error().to_string();
}

}  // namespace zephlar::testing
