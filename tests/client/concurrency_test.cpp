// One client shared by many coroutines on many threads: every operation
// gives the same answers it gives alone, and the caches stay whole.
#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/client/core_client.hpp"
#include "tests/client/task_runner.hpp"
#include "tests/support/fake_service.hpp"

namespace zephlar::client {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using zephlar::testing::config_for;
using zephlar::testing::FakeService;
using zephlar::testing::make_client;
using zephlar::testing::ManualClock;
using zephlar::testing::run_task;

TEST(ConcurrencyTest, ManyCoroutinesOnManyThreadsShareOneClient) {
  FakeService service;
  ManualClock clock;
  auto client = make_client(config_for(service.base_url(), 5), clock.function());
  ASSERT_TRUE(client);

  // What each operation gives when run alone.
  auto assets = run_task(client->list_assets());
  auto pairs = run_task(client->list_pairs());
  ASSERT_TRUE(assets && pairs);
  auto active_assets = run_task(client->list_active_assets());
  auto active_pairs = run_task(client->list_active_pairs());
  auto usdt = run_task(client->find_asset_by_ticker("usdt"));
  auto btc_usdt = run_task(client->find_pair_by_ticker("btc/usdt"));
  auto best = run_task(client->get_best_quote("BTC/USDT", 100000, std::nullopt));
  ASSERT_TRUE(active_assets && active_pairs && usdt && btc_usdt);
  ASSERT_TRUE(best) << best.error().to_string();

  constexpr int threads = 8;
  constexpr int coroutines = 96;
  constexpr int rounds = 6;
  std::atomic<int> failures{0};
  std::atomic<int> completed{0};

  auto worker = [&](int id) -> asio::awaitable<void> {
    for (int round = 0; round < rounds; ++round) {
      switch ((id + round) % 8) {
        case 0: {
          auto r = co_await client->list_assets();
          if (!r || *r != *assets) ++failures;
          break;
        }
        case 1: {
          auto r = co_await client->list_pairs();
          if (!r || *r != *pairs) ++failures;
          break;
        }
        case 2: {
          auto r = co_await client->find_asset_by_ticker("Usdt");
          if (!r || *r != *usdt) ++failures;
          break;
        }
        case 3: {
          auto r = co_await client->find_pair_by_ticker("BTC/usdt");
          if (!r || *r != *btc_usdt) ++failures;
          break;
        }
        case 4: {
          auto r = co_await client->list_active_assets();
          if (!r || *r != *active_assets) ++failures;
          break;
        }
        case 5: {
          auto r = co_await client->list_active_pairs();
          if (!r || *r != *active_pairs) ++failures;
          break;
        }
        case 6: {
          auto r = co_await client->get_best_quote("BTC/USDT", 100000, std::nullopt);
          if (!r || r->from_asset.layer != best->from_asset.layer || r->to_asset.layer != best->to_asset.layer ||
              r->to_asset.amount != best->to_asset.amount) {
            ++failures;
          }
          break;
        }
        default: {
          // Let the caches go stale now and then, so that fetches and
          // stores run among the readers.
          clock.advance(3s);
          auto r = co_await client->get_quote_by_pair("BTC/USDT", 5000, std::nullopt, models::Layer::BTC_LN);
          if (!r) ++failures;
          break;
        }
      }
    }
    ++completed;
  };

  asio::io_context context(threads);
  for (int id = 0; id < coroutines; ++id) asio::co_spawn(context, worker(id), asio::detached);
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) pool.emplace_back([&context] { context.run(); });
  for (auto& thread : pool) thread.join();

  EXPECT_EQ(completed.load(), coroutines);
  EXPECT_EQ(failures.load(), 0);
}

TEST(ConcurrencyTest, ClientsOnSeparateContextsShareNothing) {
  FakeService service;
  auto client = make_client(config_for(service.base_url(), 300));
  ASSERT_TRUE(client);
  constexpr int contexts = 4;
  std::atomic<int> failures{0};
  std::vector<std::thread> pool;
  for (int c = 0; c < contexts; ++c) {
    pool.emplace_back([&] {
      // Each thread drives its own event loop against the one client.
      for (int i = 0; i < 10; ++i) {
        auto found = run_task(client->find_asset_by_ticker("btc"));
        if (!found || found->ticker != "BTC") ++failures;
      }
    });
  }
  for (auto& thread : pool) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace zephlar::client
