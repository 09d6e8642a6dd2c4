// The caches of the asset and pair lists: freshness strictly below the
// lifetime, one request per fetch, no lock held over a fetch, failed fetches
// leaving the cache alone, and the two caches apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <chrono>
#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/client/core_client.hpp"
#include "tests/client/market_data.hpp"
#include "tests/client/task_runner.hpp"
#include "tests/support/fake_service.hpp"

namespace zephlar::client {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using zephlar::testing::answer;
using zephlar::testing::AssetRow;
using zephlar::testing::assets_body;
using zephlar::testing::config_for;
using zephlar::testing::FakeService;
using zephlar::testing::make_client;
using zephlar::testing::ManualClock;
using zephlar::testing::PairRow;
using zephlar::testing::pairs_body;
using zephlar::testing::run_task;

constexpr const char* assets_path = "/api/v1/market/assets";
constexpr const char* pairs_path = "/api/v1/market/pairs";

std::size_t count_requests(const FakeService& service, std::string_view path) {
  const auto requests = service.requests();
  return static_cast<std::size_t>(std::count_if(requests.begin(), requests.end(), [&](const auto& request) {
    return request.method == "GET" && request.target == path;
  }));
}

std::vector<std::string> pair_ids(const std::vector<models::TradingPair>& pairs) {
  std::vector<std::string> ids;
  for (const auto& pair : pairs) ids.push_back(pair.id.value_or("?"));
  return ids;
}

class CacheTest : public ::testing::Test {
 protected:
  std::shared_ptr<CoreClient> client_with_ttl(std::uint64_t ttl) {
    return make_client(config_for(service.base_url(), ttl), clock.function());
  }

  FakeService service;
  ManualClock clock;
};

TEST_F(CacheTest, IsCacheFreshIsStrictlyBelowTheLifetime) {
  auto client = client_with_ttl(10);
  ASSERT_TRUE(client);
  const auto stored = clock.now();
  struct Case {
    std::chrono::nanoseconds elapsed;
    bool fresh;
  };
  const Case cases[] = {
      {0ns, true},        {1ns, true}, {9s, true},  {10s - 1ns, true}, {10s, false},
      {10s + 1ns, false}, {1h, false}, {-1s, true},  // a clock reading earlier than the stamp counts as no time elapsed
  };
  for (const auto& c : cases) {
    clock.set(stored.time_since_epoch() + c.elapsed);
    EXPECT_EQ(client->is_cache_fresh(stored), c.fresh) << c.elapsed.count() << "ns";
  }

  auto never = client_with_ttl(0);
  ASSERT_TRUE(never);
  for (const auto& c : cases) {
    clock.set(stored.time_since_epoch() + c.elapsed);
    EXPECT_FALSE(never->is_cache_fresh(stored)) << c.elapsed.count() << "ns";
  }

  // The longest lifetime does not overflow.
  auto forever = client_with_ttl(std::numeric_limits<std::uint64_t>::max());
  ASSERT_TRUE(forever);
  clock.set(stored.time_since_epoch() + std::chrono::hours(24 * 365 * 200));
  EXPECT_TRUE(forever->is_cache_fresh(stored));
}

TEST_F(CacheTest, ServesFromTheCacheUntilExactlyTheLifetime) {
  auto client = client_with_ttl(60);
  ASSERT_TRUE(client);

  auto first = run_task(client->list_pairs());
  ASSERT_TRUE(first) << first.error().to_string();
  EXPECT_EQ(count_requests(service, pairs_path), 1u);

  clock.advance(60s - 1ns);
  auto second = run_task(client->list_pairs());
  ASSERT_TRUE(second);
  EXPECT_EQ(*second, *first);
  EXPECT_EQ(count_requests(service, pairs_path), 1u);

  clock.advance(1ns);  // elapsed == lifetime: stale
  auto third = run_task(client->list_pairs());
  ASSERT_TRUE(third);
  EXPECT_EQ(count_requests(service, pairs_path), 2u);

  // Stored anew, stamped at the current time.
  clock.advance(59s);
  ASSERT_TRUE(run_task(client->list_pairs()));
  EXPECT_EQ(count_requests(service, pairs_path), 2u);
}

TEST_F(CacheTest, StampIsTakenAfterTheFetch) {
  // The cache reads the clock for a freshness test and for the stamp of a
  // stored entry; note how many requests had reached the service each time.
  std::vector<std::size_t> requests_at_reads;
  auto client = make_client(config_for(service.base_url(), 60), [&] {
    requests_at_reads.push_back(service.requests().size());
    return clock.now();
  });
  ASSERT_TRUE(client);
  ASSERT_TRUE(run_task(client->list_assets()));
  EXPECT_EQ(requests_at_reads, (std::vector<std::size_t>{1}));  // no entry to test; the stamp follows the fetch
  ASSERT_TRUE(run_task(client->list_assets()));
  EXPECT_EQ(requests_at_reads, (std::vector<std::size_t>{1, 1}));  // one freshness test, no fetch
}

TEST_F(CacheTest, ZeroLifetimeFetchesEveryTime) {
  auto client = client_with_ttl(0);
  ASSERT_TRUE(client);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(run_task(client->list_assets()));
  EXPECT_EQ(count_requests(service, assets_path), 3u);
}

TEST_F(CacheTest, EmptyListIsCachedLikeAnyOther) {
  service.script("GET", assets_path, {answer(200, assets_body({}))});
  auto client = client_with_ttl(300);
  ASSERT_TRUE(client);
  for (int i = 0; i < 3; ++i) {
    auto assets = run_task(client->list_assets());
    ASSERT_TRUE(assets) << assets.error().to_string();
    EXPECT_TRUE(assets->empty());
  }
  EXPECT_EQ(count_requests(service, assets_path), 1u);
}

TEST_F(CacheTest, FailedFetchReturnsTheErrorAndLeavesTheEntry) {
  service.script("GET", pairs_path,
                 {answer(200, pairs_body({{"BTC", "USDT", "true", "old"}})), answer(503, "{\"detail\":\"down\"}"),
                  answer(200, pairs_body({{"BTC", "USDT", "true", "new"}}))});
  auto client = client_with_ttl(10);
  ASSERT_TRUE(client);
  const auto stored_at = clock.now();

  auto first = run_task(client->list_pairs());
  ASSERT_TRUE(first);
  EXPECT_EQ(pair_ids(*first), (std::vector<std::string>{"old"}));

  clock.advance(10s);
  auto failed = run_task(client->list_pairs());
  ASSERT_FALSE(failed) << "the stale list came back instead of the error";
  EXPECT_EQ(failed.error().to_string(), "API error (503): Service Unavailable");

  // The old entry is still there, with its old stamp.
  clock.set(stored_at.time_since_epoch() + 10s - 1ns);
  auto cached = run_task(client->list_pairs());
  ASSERT_TRUE(cached);
  EXPECT_EQ(pair_ids(*cached), (std::vector<std::string>{"old"}));
  EXPECT_EQ(count_requests(service, pairs_path), 2u);

  // Stale again: the next call fetches.
  clock.advance(1ns);
  auto fetched = run_task(client->list_pairs());
  ASSERT_TRUE(fetched);
  EXPECT_EQ(pair_ids(*fetched), (std::vector<std::string>{"new"}));
  EXPECT_EQ(count_requests(service, pairs_path), 3u);
}

TEST_F(CacheTest, FailedFirstFetchLeavesTheCacheEmpty) {
  // "total" is dropped afterwards but must still decode.
  service.script("GET", assets_path, {answer(200, "{\"assets\":[],\"total\":\"3\",\"limit\":1,\"offset\":0}")});
  auto client = client_with_ttl(300);
  ASSERT_TRUE(client);
  auto failed = run_task(client->list_assets());
  ASSERT_FALSE(failed);
  EXPECT_TRUE(failed.error().is<CoreError::Json>()) << failed.error().to_string();

  auto fetched = run_task(client->list_assets());
  ASSERT_TRUE(fetched) << fetched.error().to_string();
  EXPECT_EQ(fetched->size(), 3u);  // the default data set
  EXPECT_EQ(count_requests(service, assets_path), 2u);
}

TEST_F(CacheTest, CallersGetCopies) {
  auto client = client_with_ttl(300);
  ASSERT_TRUE(client);
  auto first = run_task(client->list_assets());
  ASSERT_TRUE(first);
  const auto original = *first;
  ASSERT_FALSE(original.empty());
  first->front().ticker = "CHANGED";
  first->pop_back();

  auto second = run_task(client->list_assets());
  ASSERT_TRUE(second);
  EXPECT_EQ(*second, original);
  second->clear();
  auto third = run_task(client->list_assets());
  ASSERT_TRUE(third);
  EXPECT_EQ(*third, original);
  EXPECT_EQ(count_requests(service, assets_path), 1u);
}

TEST_F(CacheTest, TheTwoCachesAreIndependent) {
  auto client = client_with_ttl(300);
  ASSERT_TRUE(client);
  ASSERT_TRUE(run_task(client->list_assets()));
  EXPECT_EQ(count_requests(service, pairs_path), 0u);
  ASSERT_TRUE(run_task(client->list_pairs()));
  EXPECT_EQ(count_requests(service, pairs_path), 1u);
  EXPECT_EQ(count_requests(service, assets_path), 1u);

  // A failed pairs fetch touches neither cache's entry.
  clock.advance(300s);
  service.script("GET", pairs_path, {answer(500, "")});
  ASSERT_FALSE(run_task(client->list_pairs()));
  clock.advance(-1ns);
  ASSERT_TRUE(run_task(client->list_assets()));
  ASSERT_TRUE(run_task(client->list_pairs()));
  EXPECT_EQ(count_requests(service, assets_path), 1u);
  EXPECT_EQ(count_requests(service, pairs_path), 2u);
}

TEST_F(CacheTest, ConcurrentMissesEachFetchAndReceiveTheirOwnList) {
  constexpr int callers = 4;
  std::vector<zephlar::testing::ScriptedAnswer> answers;
  for (int i = 0; i < callers; ++i) {
    answers.push_back(answer(200, pairs_body({{"BTC", "USDT", "true", "fetch-" + std::to_string(i)}}),
                             std::chrono::milliseconds(200)));
  }
  service.script("GET", pairs_path, answers);
  auto client = client_with_ttl(300);
  ASSERT_TRUE(client);

  asio::io_context context;
  std::vector<std::string> received;
  for (int i = 0; i < callers; ++i) {
    zephlar::testing::spawn_task(context, client->list_pairs(), [&](CoreResult<std::vector<models::TradingPair>> r) {
      ASSERT_TRUE(r) << r.error().to_string();
      ASSERT_EQ(r->size(), 1u);
      received.push_back(r->front().id.value_or("?"));
    });
  }
  context.run();

  EXPECT_EQ(count_requests(service, pairs_path), static_cast<std::size_t>(callers));
  std::set<std::string> distinct(received.begin(), received.end());
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(callers)) << "callers shared a fetch";

  // One of the stored entries remains and is served without a request.
  auto cached = run_task(client->list_pairs());
  ASSERT_TRUE(cached);
  ASSERT_EQ(cached->size(), 1u);
  EXPECT_TRUE(distinct.count(cached->front().id.value_or("?")));
  EXPECT_EQ(count_requests(service, pairs_path), static_cast<std::size_t>(callers));
}

TEST_F(CacheTest, NoLockIsHeldWhileFetching) {
  auto client = client_with_ttl(30);
  ASSERT_TRUE(client);
  ASSERT_TRUE(run_task(client->list_assets()));
  const auto stored_at = clock.now();
  clock.advance(30s);

  // The stale caller's fetch is held up at the service; meanwhile another
  // caller that finds the entry fresh gets its copy at once.
  service.script("GET", assets_path, {answer(200, assets_body({{"LATE"}}), std::chrono::milliseconds(1500))});
  asio::io_context context;
  std::vector<std::string> finished;
  zephlar::testing::spawn_task(context, client->list_assets(), [&](CoreResult<std::vector<models::Asset>> r) {
    EXPECT_TRUE(r);
    finished.push_back("stale caller");
  });
  asio::co_spawn(
      context,
      [&]() -> asio::awaitable<void> {
        asio::steady_timer timer(co_await asio::this_coro::executor);
        while (count_requests(service, assets_path) < 2) {
          timer.expires_after(5ms);
          co_await timer.async_wait(asio::use_awaitable);
        }
        clock.set(stored_at.time_since_epoch());
        auto r = co_await client->list_assets();
        EXPECT_TRUE(r);
        if (r) {
          EXPECT_EQ(r->size(), 3u);
        }
        finished.push_back("fresh caller");
      },
      asio::detached);
  context.run();

  EXPECT_EQ(finished, (std::vector<std::string>{"fresh caller", "stale caller"}));
  EXPECT_EQ(count_requests(service, assets_path), 2u);
  // The late fetch was stored after all.
  auto now_cached = run_task(client->list_assets());
  ASSERT_TRUE(now_cached);
  ASSERT_EQ(now_cached->size(), 1u);
  EXPECT_EQ(now_cached->front().ticker, "LATE");
}

}  // namespace
}  // namespace zephlar::client
