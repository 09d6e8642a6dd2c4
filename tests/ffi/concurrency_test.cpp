// One wrapper client called from many threads at once. Also run under
// ThreadSanitizer.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/ffi/wrapper_support.hpp"

namespace zephlar::ffi::testing {
namespace {

TEST(WrapperConcurrencyTest, ManyThreadsShareOneClient) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);
  const std::string assets = text_of(client->list_assets());
  const std::string balance = text_of(client->get_btc_balance());
  ASSERT_EQ(assets.front(), '[');

  constexpr int threads = 12;
  constexpr int rounds = 8;
  std::atomic<int> mismatches{0};
  std::atomic<int> calls{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      for (int r = 0; r < rounds; ++r) {
        switch ((t + r) % 5) {
          case 0:
            if (text_of(client->list_assets()) != assets) ++mismatches;
            break;
          case 1:
            if (text_of(client->get_btc_balance()) != balance) ++mismatches;
            break;
          case 2:
            if (!client->get_asset_by_ticker("usdt")) ++mismatches;
            break;
          case 3:
            if (!client->get_quote_by_pair("BTC/USDT", 1000 + r, std::nullopt)) ++mismatches;
            break;
          case 4: {
            const auto missing = client->find_pair_by_ticker("NO/PAIR");
            if (missing || missing.error().display() != "Not found: TradingPair not found: NO/PAIR") ++mismatches;
            break;
          }
        }
        ++calls;
      }
    });
  }
  for (auto& thread : pool) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(calls.load(), threads * rounds);
}

TEST(WrapperConcurrencyTest, ClientsBuiltAndReleasedOnManyThreads) {
  FakeService service;
  std::atomic<int> failures{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < 6; ++t) {
    pool.emplace_back([&] {
      for (int r = 0; r < 3; ++r) {
        auto client = ZephClient::create(config_for(service.base_url(), service.base_url()));
        if (!client || !client.value()->lock_wallet()) ++failures;
      }
    });
  }
  for (auto& thread : pool) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace zephlar::ffi::testing
