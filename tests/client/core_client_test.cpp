#include "core/client/core_client.hpp"

#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "core/json/value.hpp"
#include "tests/client/market_data.hpp"
#include "tests/client/task_runner.hpp"
#include "tests/support/fake_service.hpp"

namespace zephlar::client {
namespace {

using namespace std::chrono_literals;
using zephlar::testing::config_for;
using zephlar::testing::FakeService;
using zephlar::testing::make_client;
using zephlar::testing::run_task;

struct TimeoutCase {
  double seconds;
  std::int64_t nanos;
};

TEST(TimeoutFromSecondsTest, RoundsToTheNearestNanosecondTiesToEven) {
  constexpr auto max = std::numeric_limits<std::int64_t>::max();
  const TimeoutCase cases[] = {
      {0.0, 0},
      {-0.0, 0},
      {30.0, 30'000'000'000},
      {0.1, 100'000'000},  // 0.1000000000000000055...
      {2.5, 2'500'000'000},
      {1e-9, 1},
      {0.3, 300'000'000},
      {1.0 / 1024, 976'562},      // 976562.5 exactly: the even neighbour
      {3.0 / 1024, 2'929'688},    // 2929687.5 exactly: the even neighbour
      {5.0 / 1024, 4'882'812},    // 4882812.5
      {1.0 / 2048, 488'281},      // 488281.25
      {3.0 / 2048, 1'464'844},    // 1464843.75
      {std::ldexp(1.0, -31), 0},  // 0.4656... ns
      {std::numeric_limits<double>::denorm_min(), 0},
      {4e-10, 0},
      {6e-10, 1},
      {9'223'372'036.0, 9'223'372'036'000'000'000},
      // From 2^63 ns up to 2^64 s: held at the largest count.
      {9'223'372'037.0, max},
      {1e15, max},
      {18446744073709549568.0, max},  // the largest double below 2^64
  };
  for (const auto& c : cases) {
    auto converted = timeout_from_seconds(c.seconds);
    ASSERT_TRUE(converted) << c.seconds << ": " << converted.error().to_string();
    EXPECT_EQ(converted->count(), c.nanos) << c.seconds;
  }
}

TEST(TimeoutFromSecondsTest, RefusesValuesWithoutADuration) {
  const double refused[] = {-1e-300,
                            -1.0,
                            -std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN(),
                            18446744073709551616.0,  // 2^64
                            1e300};
  for (double seconds : refused) {
    auto converted = timeout_from_seconds(seconds);
    ASSERT_FALSE(converted) << seconds;
    EXPECT_TRUE(converted.error().is<CoreError::Config>());
    EXPECT_EQ(converted.error().to_string().rfind("Configuration error: timeout must be", 0), 0u)
        << converted.error().to_string();
  }
  auto config = config_for("http://127.0.0.1:1");
  config.timeout = -5.0;
  auto created = CoreClient::create(config);
  ASSERT_FALSE(created);
  EXPECT_EQ(created.error().to_string(),
            "Configuration error: timeout must be a finite number of seconds from 0 up to 2^64, got -5");
}

TEST(CoreClientTest, KeepsTheConfigurationAndSharesOneServiceClient) {
  CoreConfig config;
  config.base_url = "https://service.invalid/";
  config.api_key = "secret";
  config.timeout = 0.1;
  config.max_retries = 7;
  config.cache_ttl = 42;
  auto client = make_client(config);
  ASSERT_TRUE(client);

  EXPECT_EQ(client->config(), config);
  EXPECT_EQ(client->cache_ttl().count(), 42u);
  const auto& http = client->api_http();
  ASSERT_TRUE(http);
  EXPECT_EQ(http->base_url(), "https://service.invalid/");
  EXPECT_EQ(http->timeout(), 100'000'000ns);
  EXPECT_EQ(http->retry().max_retries, 7u);
  EXPECT_EQ(http->retry().initial_delay, 100ms);
  EXPECT_EQ(http->retry().max_delay, 10'000ms);
  EXPECT_EQ(http->retry().multiplier, 2.0);
  EXPECT_TRUE(http->retry().jitter);
  // The four groups and the client itself: five holders of the one client.
  EXPECT_EQ(client->market().http(), http);
  EXPECT_EQ(client->swaps().http(), http);
  EXPECT_EQ(client->orders().http(), http);
  EXPECT_EQ(client->lsp().http(), http);
  EXPECT_EQ(http.use_count(), 5);
}

TEST(CoreClientTest, NodeClientOnlyWhenANodeUrlIsGiven) {
  auto without = make_client(config_for("http://127.0.0.1:1"));
  ASSERT_TRUE(without);
  EXPECT_FALSE(without->has_node());
  auto missing = without->node_client();
  ASSERT_FALSE(missing);
  EXPECT_TRUE(missing.error().is<CoreError::NodeNotConfigured>());
  EXPECT_EQ(missing.error().to_string(),
            "Node URL not configured. This operation requires a connected RGB Lightning Node.");

  for (const std::string node_url : {"http://127.0.0.1:3001", ""}) {
    auto config = config_for("http://127.0.0.1:1");
    config.node_url = node_url;
    config.timeout = 2.5;
    auto with = make_client(config);
    ASSERT_TRUE(with);
    EXPECT_TRUE(with->has_node()) << '"' << node_url << '"';
    auto node = with->node_client();
    ASSERT_TRUE(node);
    ASSERT_TRUE(*node);
    EXPECT_EQ((*node)->base_url(), node_url);
    EXPECT_NE(*node, with->api_http());
    EXPECT_EQ((*node)->timeout(), 2'500'000'000ns);
  }
}

TEST(CoreClientTest, EmptyNodeUrlCountsAsConfiguredAndFailsOnUse) {
  auto config = config_for("http://127.0.0.1:1");
  config.node_url = "";
  auto client = make_client(config);
  ASSERT_TRUE(client);
  auto node = client->node_client();
  ASSERT_TRUE(node);
  // The joined URL is the bare path, which the HTTP client refuses.
  auto answer = run_task((*node)->get<json::JsonValue>("/nodeinfo"));
  ASSERT_FALSE(answer);
  EXPECT_EQ(answer.error().to_string(), "Network error: HTTP request failed");
}

TEST(CoreClientTest, ZeroTimeoutIsAZeroDuration) {
  auto config = config_for("http://127.0.0.1:1");
  config.timeout = 0.0;
  auto client = make_client(config);
  ASSERT_TRUE(client);
  EXPECT_EQ(client->api_http()->timeout(), 0ns);
}

TEST(CoreClientTest, ApiKeyIsNeverSent) {
  FakeService service;
  auto plain_config = config_for(service.base_url());
  auto keyed_config = plain_config;
  keyed_config.api_key = "k3y-that-must-not-travel";
  auto plain = make_client(plain_config);
  auto keyed = make_client(keyed_config);
  ASSERT_TRUE(plain && keyed);

  ASSERT_TRUE(run_task(plain->list_assets()));
  ASSERT_TRUE(run_task(keyed->list_assets()));
  ASSERT_TRUE(run_task(plain->get_quote_by_pair("BTC/USDT", 1000, std::nullopt, models::Layer::BTC_LN)));
  ASSERT_TRUE(run_task(keyed->get_quote_by_pair("BTC/USDT", 1000, std::nullopt, models::Layer::BTC_LN)));

  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 4u);
  for (std::size_t i : {0u, 2u}) {
    const auto& a = requests[i];
    const auto& b = requests[i + 1];
    EXPECT_EQ(a.method, b.method);
    EXPECT_EQ(a.target, b.target);
    EXPECT_EQ(a.body, b.body);
    EXPECT_EQ(a.headers, b.headers);
    for (const auto& [name, value] : b.headers) {
      EXPECT_EQ(value.find("k3y"), std::string::npos) << name;
    }
    EXPECT_EQ(b.target.find("k3y"), std::string::npos);
  }
}

TEST(CoreClientTest, TaskKeepsTheClientAlive) {
  FakeService service;
  auto client = make_client(config_for(service.base_url()));
  ASSERT_TRUE(client);
  std::weak_ptr<CoreClient> watch = client;

  boost::asio::io_context context;
  std::optional<CoreResult<std::vector<models::TradingPair>>> result;
  zephlar::testing::spawn_task(context, client->list_pairs(), [&](auto value) { result.emplace(std::move(value)); });
  client.reset();  // the task has not started yet
  EXPECT_FALSE(watch.expired());
  context.run();
  ASSERT_TRUE(result);
  ASSERT_TRUE(*result) << result->error().to_string();
  EXPECT_EQ((*result)->size(), 2u);
  EXPECT_TRUE(watch.expired());
}

}  // namespace
}  // namespace zephlar::client
