// One client shared by many coroutines on several threads and by several
// threads with executors of their own.
#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/http/http_test_support.hpp"
#include "tests/support/fake_service.hpp"

namespace zephlar::testing {
namespace {

class ConcurrencyTest : public HttpTest {
 protected:
  FakeService service_;
};

// Alternates a GET, a POST echoing its number and a GET answered 404.
asio::awaitable<void> worker(std::shared_ptr<http::HttpClient> client, int id, int rounds, std::atomic<int>& good,
                             std::vector<std::string>& failures, std::mutex& mutex) {
  for (int i = 0; i < rounds; ++i) {
    std::string failure;
    switch ((id + i) % 3) {
      case 0: {
        const auto r = co_await client->get<JsonValue>("/api/v1/market/pairs");
        if (!r.ok()) failure = "GET: " + r.error().to_string();
        break;
      }
      case 1: {
        JsonValue::Object body;
        body["order_id"] = JsonValue("w" + std::to_string(id) + "-" + std::to_string(i));
        const auto r = co_await client->post<JsonValue>("/api/v1/swaps/orders/status", JsonValue(body));
        if (!r.ok()) failure = "POST: " + r.error().to_string();
        break;
      }
      default: {
        const auto r = co_await client->get<JsonValue>("/t/nothing-here");
        const auto* api = r.ok() ? nullptr : r.error().get_if<CoreError::Api>();
        if (api == nullptr || api->status != 404) failure = "404 expected";
        break;
      }
    }
    if (failure.empty()) {
      good.fetch_add(1);
    } else {
      const std::lock_guard lock(mutex);
      failures.push_back(std::move(failure));
    }
  }
}

std::multiset<std::string> posted_ids(const std::vector<RecordedRequest>& requests) {
  std::multiset<std::string> ids;
  for (const auto& r : requests) {
    if (r.method == "POST") ids.insert(r.body);
  }
  return ids;
}

TEST_F(ConcurrencyTest, ManyCoroutinesOnAThreadPool) {
  const auto client = make_client(service_.base_url());
  constexpr int workers = 64;
  constexpr int rounds = 6;
  std::atomic<int> good{0};
  std::vector<std::string> failures;
  std::mutex mutex;
  {
    asio::thread_pool pool(4);
    for (int id = 0; id < workers; ++id) {
      asio::co_spawn(pool, worker(client, id, rounds, good, failures, mutex), asio::detached);
    }
    pool.join();
  }
  EXPECT_TRUE(failures.empty()) << failures.front();
  EXPECT_EQ(good.load(), workers * rounds);
  const auto requests = service_.requests();
  EXPECT_EQ(requests.size(), static_cast<std::size_t>(workers * rounds));
  // Every POST arrived once with its own body.
  std::multiset<std::string> expected;
  for (int id = 0; id < workers; ++id) {
    for (int i = 0; i < rounds; ++i) {
      if ((id + i) % 3 == 1)
        expected.insert("{\"order_id\":\"w" + std::to_string(id) + "-" + std::to_string(i) + "\"}");
    }
  }
  EXPECT_EQ(posted_ids(requests), expected);
  // Connections were shared: far fewer than requests (the pool may still
  // close some when fewer transfers are under way).
  EXPECT_LT(service_.connections_accepted(), static_cast<std::size_t>(workers * rounds / 2));
}

TEST_F(ConcurrencyTest, ThreadsWithTheirOwnExecutors) {
  const auto client = make_client(service_.base_url());
  constexpr int threads = 8;
  constexpr int rounds = 20;
  std::atomic<int> good{0};
  std::vector<std::string> failures;
  std::mutex mutex;
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      asio::io_context ctx;
      asio::co_spawn(ctx, worker(client, t, rounds, good, failures, mutex), asio::detached);
      ctx.run();
    });
  }
  for (auto& t : pool) t.join();
  EXPECT_TRUE(failures.empty()) << failures.front();
  EXPECT_EQ(good.load(), threads * rounds);
  EXPECT_EQ(service_.requests().size(), static_cast<std::size_t>(threads * rounds));
}

TEST_F(ConcurrencyTest, RetriesInterleaveAcrossCoroutines) {
  // Every fourth answer is a 503; each coroutine retries its own request.
  std::vector<ScriptedAnswer> answers;
  for (int i = 0; i < 200; ++i) {
    ScriptedAnswer a;
    a.status = i % 4 == 0 ? 503 : 200;
    a.body = "{}";
    answers.push_back(a);
  }
  service_.script("GET", "/t/flaky", answers);
  BackoffRecorder backoff;
  const auto client = make_client(service_.base_url(), 5);
  std::atomic<int> good{0};
  {
    asio::thread_pool pool(4);
    for (int i = 0; i < 150; ++i) {
      asio::co_spawn(
          pool,
          [client, &good]() -> asio::awaitable<void> {
            const auto r = co_await client->get<JsonValue>("/t/flaky");
            if (r.ok()) good.fetch_add(1);
          },
          asio::detached);
    }
    pool.join();
  }
  EXPECT_EQ(good.load(), 150);
  // 150 successes need exactly 200 answers, 50 of them the 503s retried.
  EXPECT_EQ(service_.requests().size(), 200u);
  EXPECT_EQ(backoff.sleeps().size(), 50u);
}

TEST_F(ConcurrencyTest, ABurstLeavesItsConnectionsForTheNext) {
  // Answers are held back long enough for every request of a burst to be
  // under way at once, so each burst needs as many connections as requests.
  ScriptedAnswer slow;
  slow.body = "{}";
  slow.delay = 150ms;
  service_.set_standing_answer("GET", "/t/slow", slow);
  const auto client = make_client(service_.base_url());
  constexpr int burst = 24;
  std::atomic<int> good{0};
  for (int round = 0; round < 3; ++round) {
    asio::thread_pool pool(4);
    for (int i = 0; i < burst; ++i) {
      asio::co_spawn(
          pool,
          [client, &good]() -> asio::awaitable<void> {
            if ((co_await client->get<JsonValue>("/t/slow")).ok()) good.fetch_add(1);
          },
          asio::detached);
    }
    pool.join();
  }
  EXPECT_EQ(good.load(), 3 * burst);
  // The later bursts found every connection of the first one still open.
  EXPECT_EQ(service_.connections_accepted(), static_cast<std::size_t>(burst));
}

TEST_F(ConcurrencyTest, ClientsComeAndGo) {
  for (int i = 0; i < 20; ++i) {
    const auto client = make_client(service_.base_url());
    ASSERT_TRUE(run(client->get<JsonValue>("/api/v1/market/pairs")).ok());
  }
  // A client that is never used starts and stops cleanly too.
  for (int i = 0; i < 20; ++i) EXPECT_TRUE(make_client("http://127.0.0.1:9"));
  EXPECT_EQ(service_.requests().size(), 20u);
}

}  // namespace
}  // namespace zephlar::testing
