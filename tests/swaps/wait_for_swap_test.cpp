// Waiting for a swap to end: polling until a final status, the time-out
// tested between polls, errors ending the wait at once, and a caller's
// cancellation reaching the request or the pause under way.
//
// The time-out tests read a clock that moves four seconds at every reading
// (the core client's replaceable clock), so the number of polls before the
// time-out is exact and no test waits for it.
#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "core/client/core_client.hpp"
#include "core/json/json.hpp"
#include "tests/swaps/service_test.hpp"

namespace zephlar::client {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using namespace boost::asio::experimental::awaitable_operators;
using zephlar::testing::answer;
using zephlar::testing::config_for;
using zephlar::testing::error_of;
using zephlar::testing::expect_api_error;
using zephlar::testing::expect_json_error;
using zephlar::testing::expect_requests;
using zephlar::testing::FakeService;
using zephlar::testing::make_client;
using zephlar::testing::post_request;
using zephlar::testing::run_task;
using zephlar::testing::ScriptedAnswer;

constexpr const char* status_path = "/api/v1/swaps/atomic/status";

std::string swap_json(const char* status) {
  return std::string(R"({"qty_from":100,"qty_to":9500,"from_asset":"BTC","to_asset":"USDT","payment_hash":"h",)") +
         R"("status":")" + status + R"(","requested_at":1,"initiated_at":null,"expires_at":600,"completed_at":null})";
}

std::string status_body(const char* status) { return "{\"swap\":" + swap_json(status) + "}"; }

// `n` answers "Waiting".
std::vector<ScriptedAnswer> waiting(int n) {
  return std::vector<ScriptedAnswer>(static_cast<std::size_t>(n), answer(200, status_body("Waiting")));
}

// A monotonic clock that moves on by `step` at every reading.
class SteppingClock {
 public:
  explicit SteppingClock(std::chrono::nanoseconds step) : step_(step) {}
  CoreClient::Clock function() {
    return [this] {
      const auto n = readings_.fetch_add(1);
      return std::chrono::steady_clock::time_point(std::chrono::hours(1) + n * step_);
    };
  }

 private:
  std::chrono::nanoseconds step_;
  std::atomic<std::int64_t> readings_{0};
};

asio::awaitable<void> sleep_for(std::chrono::milliseconds duration) {
  asio::steady_timer timer(co_await asio::this_coro::executor, duration);
  co_await timer.async_wait(asio::use_awaitable);
}

class WaitForSwapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client = make_client(config_for(service.base_url()));
    ASSERT_TRUE(client);
  }

  // Every request so far is the status query for `hash`.
  void expect_polls(std::size_t n, const std::string& body = R"({"payment_hash":"h"})") {
    expect_requests(service, std::vector(n, post_request(status_path, body)));
  }

  // Ends 20 ms after the service has received its first request, however
  // long that takes on a loaded machine: the racing wait is then in its
  // pause or its request, never before them.
  asio::awaitable<void> shortly_after_the_first_request() {
    while (service.requests().empty()) co_await sleep_for(2ms);
    co_await sleep_for(20ms);
  }

  FakeService service;
  std::shared_ptr<CoreClient> client;
};

TEST_F(WaitForSwapTest, PollsUntilTheSwapSucceeds) {
  // Neither no swap (absent or null) nor a running one ends the wait.
  service.script(
      "POST", status_path,
      {answer(200, status_body("Waiting")), answer(200, status_body("Pending")), answer(200, "{}"),
       answer(200, R"({"swap":null})"), answer(200, status_body("Succeeded")), answer(200, status_body("Failed"))});
  auto swap = run_task(client->wait_for_swap_completion("h", 10s, 1ms));
  ASSERT_TRUE(swap) << swap.error().to_string();
  auto expected = json::from_response_body<models::Swap>(swap_json("Succeeded"));
  ASSERT_TRUE(expected);
  EXPECT_EQ(*swap, *expected);
  expect_polls(5);
}

TEST_F(WaitForSwapTest, AFinalStatusIsTheResultAtOnce) {
  for (const char* status : {"Succeeded", "Expired", "Failed"}) {
    SCOPED_TRACE(status);
    service.reset();
    service.script("POST", status_path, {answer(200, status_body(status))});
    // Even a zero time-out returns it; the hour-long pause is never taken.
    auto swap = run_task(client->wait_for_swap_completion("a\"b", 0s, 1h));
    ASSERT_TRUE(swap) << swap.error().to_string();
    auto expected = json::from_response_body<models::Swap>(swap_json(status));
    ASSERT_TRUE(expected);
    EXPECT_EQ(*swap, *expected);
    expect_polls(1, R"({"payment_hash":"a\"b"})");
  }
}

TEST_F(WaitForSwapTest, TimesOutAfterANonFinalAnswerOnceTheTimeIsUp) {
  struct Case {
    std::chrono::nanoseconds timeout;
    std::size_t polls;  // the clock reads 4 s, 8 s, 12 s ... after each answer
    const char* text;
  };
  const Case cases[] = {
      {0s, 1, "Request timed out after 0s"},
      {500ms, 1, "Request timed out after 0.5s"},
      {4s, 1, "Request timed out after 4s"},  // equal counts as timed out
      {4s + 1ns, 2, "Request timed out after 4.000000001s"},
      {8s, 2, "Request timed out after 8s"},
      {10s, 3, "Request timed out after 10s"},
      {12s + 1ns, 4, "Request timed out after 12.000000001s"},
      {60s, 15, "Request timed out after 60s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    service.reset();
    service.script("POST", status_path, waiting(20));
    SteppingClock clock(4s);
    auto stepping = make_client(config_for(service.base_url()), clock.function());
    ASSERT_TRUE(stepping);
    const CoreError error = error_of(run_task(stepping->wait_for_swap_completion("h", c.timeout, 0s)));
    const auto* timeout = error.get_if<CoreError::Timeout>();
    ASSERT_NE(timeout, nullptr) << error.to_string();
    EXPECT_EQ(timeout->seconds, std::chrono::duration<double>(c.timeout).count());
    EXPECT_EQ(error.to_string(), c.text);
    expect_polls(c.polls);
  }
}

TEST_F(WaitForSwapTest, TimesOutOnTheRealClock) {
  // An initialised swap that is never executed stays Waiting.
  auto swap = run_task(client->init_maker_swap({"r", "BTC", 1, "USDT", 2}));
  ASSERT_TRUE(swap) << swap.error().to_string();
  service.clear_requests();

  const CoreError error = error_of(run_task(client->wait_for_swap_completion(swap->payment_hash, 50ms, 5ms)));
  EXPECT_EQ(error.to_string(), "Request timed out after 0.05s");
  const auto requests = service.requests();
  ASSERT_FALSE(requests.empty());
  for (const auto& request : requests) {
    EXPECT_EQ(request.target, status_path);
    EXPECT_EQ(request.body, R"({"payment_hash":")" + swap->payment_hash + "\"}");
  }
}

TEST_F(WaitForSwapTest, AFailedStatusRequestEndsItAtOnce) {
  // After a few polls, an error status: no retry (max_retries is 0 here)
  // and no further poll.
  service.script("POST", status_path, waiting(2));
  service.script("POST", status_path, {answer(404, "unknown hash"), answer(200, status_body("Succeeded"))});
  expect_api_error(error_of(run_task(client->wait_for_swap_completion("h", 10s, 0s))), 404, "unknown hash");
  expect_polls(3);

  service.reset();
  service.script("POST", status_path, {answer(200, status_body("Done")), answer(200, status_body("Succeeded"))});
  expect_json_error(error_of(run_task(client->wait_for_swap_completion("h", 10s, 0s))), "unknown variant `Done`");
  expect_polls(1);

  // A 503 is retried by the request loop first, and ends the wait once the
  // tries are spent.
  service.reset();
  auto retrying = make_client(config_for(service.base_url(), 300, 1));
  ASSERT_TRUE(retrying);
  service.script("POST", status_path,
                 {answer(200, status_body("Pending")), answer(503, "busy"), answer(503, "still busy"),
                  answer(200, status_body("Succeeded"))});
  expect_api_error(error_of(run_task(retrying->wait_for_swap_completion("h", 10s, 0s))), 503, "still busy");
  expect_polls(3);
}

TEST_F(WaitForSwapTest, CancellingTheCallerStopsThePause) {
  // A pause of an hour after the first answer; the caller's deadline ends
  // the wait in the middle of it.
  service.script("POST", status_path, waiting(1));
  auto raced = run_task(client->wait_for_swap_completion("h", 2h, 1h) || shortly_after_the_first_request());
  EXPECT_EQ(raced.index(), 1u);
  expect_polls(1);
}

TEST_F(WaitForSwapTest, CancellingTheCallerAbortsTheRequestUnderWay) {
  // The answer would come after a minute; the transfer is aborted instead.
  service.script("POST", status_path, {answer(200, status_body("Succeeded"), 60s)});
  auto raced = run_task(client->wait_for_swap_completion("h", 2h, 0s) || shortly_after_the_first_request());
  EXPECT_EQ(raced.index(), 1u);
  expect_polls(1);
}

}  // namespace
}  // namespace zephlar::client
