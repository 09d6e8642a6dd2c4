// The wrapper client itself: construction, has_node, the runtime it owns
// and where a blocking call's steps run, the internal faults (a blocking
// call on a runtime thread, seconds that cannot become a time span), and the
// unit conversions.
#include <chrono>
#include <cmath>
#include <future>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <gtest/gtest.h>

#include "ffi/internal_fault.hpp"
#include "ffi/seconds.hpp"
#include "tests/ffi/wrapper_support.hpp"

namespace zephlar::ffi::testing {
namespace {

TEST(WrapperClientTest, BuildsWithoutSendingAnything) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);
  EXPECT_TRUE(service.requests().empty());
  EXPECT_GE(client->runtime()->thread_count(), 1u);
  EXPECT_EQ(client->core()->config().base_url, service.base_url());
}

TEST(WrapperClientTest, ConfigGoesToTheCoreUnchanged) {
  ZephConfig config;
  config.base_url = "not a url/";
  config.node_url = "";
  config.api_key = "key";
  config.timeout = 0.0;
  config.max_retries = 7;
  config.cache_ttl = 0xFFFFFFFFFFFFFFFFull;
  auto client = make_client(config);
  ASSERT_TRUE(client);
  const auto& core = client->core()->config();
  EXPECT_EQ(core.base_url, config.base_url);
  EXPECT_EQ(core.node_url, config.node_url);
  EXPECT_EQ(core.api_key, config.api_key);
  EXPECT_EQ(core.timeout, config.timeout);
  EXPECT_EQ(core.max_retries, config.max_retries);
  EXPECT_EQ(core.cache_ttl, config.cache_ttl);
}

TEST(WrapperClientTest, HasNodeFollowsThePresenceOfTheNodeUrl) {
  EXPECT_FALSE(make_client(config_for("http://127.0.0.1:1"))->has_node());
  EXPECT_TRUE(make_client(config_for("http://127.0.0.1:1", ""))->has_node());
  EXPECT_TRUE(make_client(config_for("http://127.0.0.1:1", "http://127.0.0.1:2"))->has_node());
}

TEST(WrapperClientTest, BadTimeoutIsAnInternalFault) {
  struct Case {
    double seconds;
    std::string_view message;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Case> cases = {
      {-1.0, negative_seconds_message},
      {-inf, negative_seconds_message},
      {std::nan(""), invalid_seconds_message},
      {inf, invalid_seconds_message},
      {18446744073709551616.0, invalid_seconds_message},
      {1e20, invalid_seconds_message},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.seconds);
    auto config = config_for("http://127.0.0.1:1");
    config.timeout = c.seconds;
    try {
      static_cast<void>(ZephClient::create(config));
      ADD_FAILURE() << "no fault";
    } catch (const InternalFault& fault) {
      EXPECT_EQ(fault.what(), std::string(c.message));
    }
  }
  // The edges that are still time spans.
  for (double seconds : {0.0, -0.0, 18446744073709549568.0}) {
    auto config = config_for("http://127.0.0.1:1");
    config.timeout = seconds;
    EXPECT_TRUE(make_client(config)) << seconds;
  }
}

TEST(WrapperClientTest, SecondsBecomeWholeNanoseconds) {
  struct Case {
    double seconds;
    SecondsSpan span;
  };
  const std::vector<Case> cases = {
      {0.0, {0, 0}},
      {-0.0, {0, 0}},
      {1.5, {1, 500'000'000}},
      {30.0, {30, 0}},
      {1e-9, {0, 1}},
      {0.4e-9, {0, 0}},
      {0.75e-9, {0, 1}},
      {1.0 / 1024, {0, 976'562}},    // 976562.5 ns exactly: a tie, to the even count
      {3.0 / 1024, {0, 2'929'688}},  // 2929687.5 ns exactly: a tie, to the even count
      {4e-300, {0, 0}},
      {0.1, {0, 100'000'000}},
      {18446744073709549568.0, {18446744073709549568ull, 0}},  // the largest double below 2^64
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.seconds);
    EXPECT_EQ(seconds_to_span(c.seconds), c.span);
  }
  EXPECT_EQ((SecondsSpan{1, 5}).to_nanoseconds(), std::chrono::nanoseconds(1'000'000'005));
  EXPECT_EQ((SecondsSpan{18446744073709549568ull, 0}).to_nanoseconds(), std::chrono::nanoseconds::max());
  EXPECT_EQ((SecondsSpan{9'223'372'036, 854'775'807}).to_nanoseconds(), std::chrono::nanoseconds::max());
  EXPECT_EQ((SecondsSpan{9'223'372'036, 854'775'808}).to_nanoseconds(), std::chrono::nanoseconds::max());
  EXPECT_EQ((SecondsSpan{9'223'372'036, 854'775'806}).to_nanoseconds().count(),
            std::numeric_limits<std::int64_t>::max() - 1);
}

TEST(WrapperClientTest, BlockingCallOnARuntimeThreadIsAnInternalFault) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);
  auto other = make_client(service);
  ASSERT_TRUE(other);

  // On a thread of the client's own runtime and on one of another client's.
  for (auto* runtime_owner : {client.get(), other.get()}) {
    std::promise<std::string> outcome;
    boost::asio::post(runtime_owner->runtime()->executor(), [&] {
      try {
        const auto result = client->list_assets();
        outcome.set_value("returned " + text_of(result));
      } catch (const InternalFault& fault) {
        outcome.set_value(fault.what());
      }
    });
    EXPECT_EQ(outcome.get_future().get(), blocking_on_runtime_thread_message);
  }
  EXPECT_TRUE(service.requests().empty());
  // The client still works from an ordinary thread.
  EXPECT_TRUE(client->list_assets());
}

TEST(WrapperClientTest, AnExceptionInATaskComesBackAsAnInternalFault) {
  auto runtime = Runtime::create(2);
  auto throwing = []() -> boost::asio::awaitable<int> {
    throw std::runtime_error("broken invariant");
    co_return 0;
  };
  try {
    static_cast<void>(runtime->block_on(throwing()));
    ADD_FAILURE() << "no fault";
  } catch (const InternalFault& fault) {
    EXPECT_STREQ(fault.what(), "broken invariant");
  }
  auto fine = []() -> boost::asio::awaitable<int> { co_return 42; };
  EXPECT_EQ(runtime->block_on(fine()), 42);
}

// The task's steps run on the thread that blocks, before and after each
// wait: a hop through the runtime's threads, a timer and a request all hand
// the task back to it. Checked on several threads one after another, each
// ending after its call (as a host that starts a thread per call does), and
// on one thread twice.
TEST(WrapperClientTest, ATaskRunsItsStepsOnTheBlockingThread) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);
  const auto runtime = client->runtime();
  const auto core = client->core();
  const auto steps_on = [&]() -> std::vector<std::thread::id> {
    auto task = [&]() -> boost::asio::awaitable<std::vector<std::thread::id>> {
      std::vector<std::thread::id> seen{std::this_thread::get_id()};
      co_await boost::asio::post(runtime->executor(), boost::asio::use_awaitable);
      seen.push_back(std::this_thread::get_id());
      boost::asio::steady_timer timer(co_await boost::asio::this_coro::executor, std::chrono::milliseconds(1));
      co_await timer.async_wait(boost::asio::use_awaitable);
      seen.push_back(std::this_thread::get_id());
      const auto pairs = co_await core->list_pairs();
      seen.push_back(pairs && pairs->size() == 2 ? std::this_thread::get_id() : std::thread::id());
      co_return seen;
    };
    return runtime->block_on(task());
  };

  for (int round = 0; round < 3; ++round) {
    std::vector<std::thread::id> seen;
    std::thread::id caller;
    std::thread([&] {
      caller = std::this_thread::get_id();
      seen = steps_on();
    }).join();
    EXPECT_EQ(seen, std::vector<std::thread::id>(4, caller)) << "round " << round;
  }
  const auto here = std::this_thread::get_id();
  EXPECT_EQ(steps_on(), std::vector<std::thread::id>(4, here));
  EXPECT_EQ(steps_on(), std::vector<std::thread::id>(4, here));
}

TEST(WrapperClientTest, TheRuntimeOutlivesTheClientWhileShared) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);
  std::shared_ptr<Runtime> runtime = client->runtime();
  std::weak_ptr<client::CoreClient> core = client->core();
  client.reset();
  EXPECT_TRUE(core.expired());
  auto answer = []() -> boost::asio::awaitable<std::string> { co_return "still running"; };
  EXPECT_EQ(runtime->block_on(answer()), "still running");
}

TEST(WrapperClientTest, TwoClientsShareNeitherCachesNorRuntime) {
  FakeService service;
  auto config = config_for(service.base_url());
  auto first = make_client(config);
  auto second = make_client(config);
  ASSERT_TRUE(first && second);
  EXPECT_NE(first->runtime(), second->runtime());
  EXPECT_TRUE(first->list_assets());
  EXPECT_TRUE(first->list_assets());
  EXPECT_TRUE(second->list_assets());
  EXPECT_EQ(requests_to(service, "/api/v1/market/assets").size(), 2u);
}

TEST(WrapperClientTest, UnitConversions) {
  struct Display {
    std::int64_t amount;
    std::uint8_t precision;
    double expected;
  };
  for (const auto& c : std::vector<Display>{{250, 2, 2.5}, {5, 0, 5.0}, {-150000000, 8, -1.5}, {0, 18, 0.0}}) {
    EXPECT_EQ(to_display_units(c.amount, c.precision), c.expected) << c.amount << " " << int(c.precision);
  }
  struct Smallest {
    double amount;
    std::uint8_t precision;
    std::int64_t expected;
  };
  constexpr auto max = std::numeric_limits<std::int64_t>::max();
  constexpr auto min = std::numeric_limits<std::int64_t>::min();
  const std::vector<Smallest> cases = {
      {2.5, 2, 250}, {0.5, 0, 1},    {-0.5, 0, -1},  {2.5, 0, 3},   {std::nan(""), 8, 0},
      {1e30, 0, max}, {-1e30, 0, min}, {1.0, 18, 1'000'000'000'000'000'000},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(to_smallest_units(c.amount, c.precision), c.expected) << c.amount << " " << int(c.precision);
  }
}

}  // namespace
}  // namespace zephlar::ffi::testing
