// Quotes: argument checks and their order, the exact request bodies, and the
// swap-fee estimate.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "core/client/core_client.hpp"
#include "core/json/json.hpp"
#include "tests/client/market_data.hpp"
#include "tests/client/task_runner.hpp"
#include "tests/support/fake_service.hpp"

namespace zephlar::client {
namespace {

using models::Layer;
using zephlar::testing::answer;
using zephlar::testing::config_for;
using zephlar::testing::FakeService;
using zephlar::testing::make_client;
using zephlar::testing::quote_body;
using zephlar::testing::run_task;

constexpr const char* quote_path = "/api/v1/market/quote";
constexpr std::optional<std::int64_t> none = std::nullopt;

class QuoteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client = make_client(config_for(service.base_url()));
    ASSERT_TRUE(client);
  }

  // The bodies of the quote requests so far.
  std::vector<std::string> quote_bodies() const {
    std::vector<std::string> bodies;
    for (const auto& request : service.requests()) {
      EXPECT_EQ(request.method, "POST");
      EXPECT_EQ(request.target, quote_path);
      EXPECT_EQ(request.header("Content-Type"), std::optional<std::string>("application/json"));
      bodies.push_back(request.body);
    }
    return bodies;
  }

  FakeService service;
  std::shared_ptr<CoreClient> client;
};

TEST_F(QuoteTest, QuoteByPairSendsTheLegsAsWritten) {
  const struct {
    const char* ticker;
    std::optional<std::int64_t> from_amount;
    std::optional<std::int64_t> to_amount;
    Layer layer;
    const char* body;
  } cases[] = {
      {"BTC/USDT", 250, none, Layer::BTC_LN,
       R"({"from_asset":{"asset_id":"BTC","layer":"BTC_LN","amount":250},"to_asset":{"asset_id":"USDT","layer":"BTC_LN"}})"},
      {"BTC/USDT", none, 250, Layer::BTC_LN,
       R"({"from_asset":{"asset_id":"BTC","layer":"BTC_LN"},"to_asset":{"asset_id":"USDT","layer":"BTC_LN","amount":250}})"},
      {"btc/usdt", 0, none, Layer::RGB_LN,
       R"({"from_asset":{"asset_id":"btc","layer":"RGB_LN","amount":0},"to_asset":{"asset_id":"usdt","layer":"RGB_LN"}})"},
      {"BTC/USDT", -9223372036854775807 - 1, none, Layer::TAPASS_L1,
       R"({"from_asset":{"asset_id":"BTC","layer":"TAPASS_L1","amount":-9223372036854775808},"to_asset":{"asset_id":"USDT","layer":"TAPASS_L1"}})"},
      {"/", 1, none, Layer::BTC_L1,
       R"({"from_asset":{"asset_id":"","layer":"BTC_L1","amount":1},"to_asset":{"asset_id":"","layer":"BTC_L1"}})"},
      {"BTC/", none, 7, Layer::SPARK_SPARK,
       R"({"from_asset":{"asset_id":"BTC","layer":"SPARK_SPARK"},"to_asset":{"asset_id":"","layer":"SPARK_SPARK","amount":7}})"},
      {" a\"b/ß", 5, none, Layer::BTC_LN,
       R"({"from_asset":{"asset_id":" a\"b","layer":"BTC_LN","amount":5},"to_asset":{"asset_id":"ß","layer":"BTC_LN"}})"},
  };
  std::vector<std::string> expected;
  for (const auto& c : cases) {
    // Whatever the service makes of the ids, the answer is a quote.
    service.script("POST", quote_path, {answer(200, quote_body("rfq", "BTC_LN", "BTC_LN", 1))});
    auto quote = run_task(client->get_quote_by_pair(c.ticker, c.from_amount, c.to_amount, c.layer));
    EXPECT_TRUE(quote) << c.ticker << ": " << quote.error().to_string();
    expected.push_back(c.body);
  }
  EXPECT_EQ(quote_bodies(), expected);
}

TEST_F(QuoteTest, ReturnsTheServicesQuoteUnchanged) {
  const std::string body = quote_body("rfq-42", "BTC_LN", "RGB_LN", 9'500'000);
  service.script("POST", quote_path, {answer(200, body)});
  auto quote = run_task(client->get_quote_by_pair("BTC/USDT", 100000, none, Layer::BTC_LN));
  ASSERT_TRUE(quote) << quote.error().to_string();
  auto expected = json::from_response_body<models::PairQuoteResponse>(body);
  ASSERT_TRUE(expected);
  EXPECT_EQ(*quote, *expected);
  EXPECT_EQ(quote->rfq_id, "rfq-42");
  EXPECT_EQ(quote->to_asset.layer, Layer::RGB_LN);
}

TEST_F(QuoteTest, QuoteByPairChecksTickerThenAmounts) {
  const struct {
    const char* ticker;
    std::optional<std::int64_t> from_amount;
    std::optional<std::int64_t> to_amount;
    const char* text;
  } cases[] = {
      // The ticker's form is checked first, whatever the amounts.
      {"BTC/USDT/X", none, none,
       "Validation error: Invalid ticker format: 'BTC/USDT/X'. Expected format: 'BASE/QUOTE'"},
      {"BTCUSDT", 1, 2, "Validation error: Invalid ticker format: 'BTCUSDT'. Expected format: 'BASE/QUOTE'"},
      {"", 1, none, "Validation error: Invalid ticker format: ''. Expected format: 'BASE/QUOTE'"},
      {"//", 1, none, "Validation error: Invalid ticker format: '//'. Expected format: 'BASE/QUOTE'"},
      {" btc usdt ", 1, none, "Validation error: Invalid ticker format: ' btc usdt '. Expected format: 'BASE/QUOTE'"},
      // Then that some amount is given, then that not both are.
      {"BTC/USDT", none, none, "Validation error: Must specify either from_amount or to_amount"},
      {"/", none, none, "Validation error: Must specify either from_amount or to_amount"},
      {"BTC/USDT", 1, 2, "Validation error: Cannot specify both from_amount and to_amount"},
      {"BTC/USDT", 0, 0, "Validation error: Cannot specify both from_amount and to_amount"},
  };
  for (const auto& c : cases) {
    auto quote = run_task(client->get_quote_by_pair(c.ticker, c.from_amount, c.to_amount, Layer::BTC_LN));
    ASSERT_FALSE(quote) << c.ticker;
    EXPECT_TRUE(quote.error().is<CoreError::Validation>());
    EXPECT_EQ(quote.error().to_string(), c.text);
  }
  EXPECT_TRUE(service.requests().empty());
}

models::PairQuoteRequest request_with(decltype(models::SwapLegRequest::amount) from,
                                      decltype(models::SwapLegRequest::amount) to) {
  models::PairQuoteRequest request;
  request.from_asset = {"BTC", Layer::BTC_LN, from};
  request.to_asset = {"USDT", Layer::RGB_LN, to};
  return request;
}

TEST_F(QuoteTest, GetQuoteNeedsExactlyOneAmount) {
  using Amount = decltype(models::SwapLegRequest::amount);
  auto both = run_task(client->get_quote(request_with(Amount(1), Amount(2))));
  ASSERT_FALSE(both);
  EXPECT_EQ(both.error().to_string(), "Validation error: Cannot specify both from_amount and to_amount");
  auto neither = run_task(client->get_quote(request_with(Amount(), Amount())));
  ASSERT_FALSE(neither);
  EXPECT_EQ(neither.error().to_string(), "Validation error: Must specify either from_amount or to_amount");
  EXPECT_TRUE(service.requests().empty());

  auto sent = run_task(client->get_quote(request_with(Amount(), Amount(-3))));
  ASSERT_TRUE(sent) << sent.error().to_string();
  EXPECT_EQ(
      quote_bodies(),
      (std::vector<std::string>{
          R"({"from_asset":{"asset_id":"BTC","layer":"BTC_LN"},"to_asset":{"asset_id":"USDT","layer":"RGB_LN","amount":-3}})"}));
}

TEST_F(QuoteTest, ServiceErrorsComeBackUnchanged) {
  service.script("POST", quote_path, {answer(422, R"({"detail":"bad pair"})")});
  auto quote = run_task(client->get_quote_by_pair("BTC/USDT", 1, none, Layer::BTC_LN));
  ASSERT_FALSE(quote);
  const auto* api = quote.error().get_if<CoreError::Api>();
  ASSERT_NE(api, nullptr) << quote.error().to_string();
  EXPECT_EQ(api->status, 422);
  EXPECT_EQ(api->message, "Unprocessable Entity");
  EXPECT_EQ(api->details, std::optional<std::string>(R"({"detail":"bad pair"})"));

  service.script("POST", quote_path, {answer(200, R"({"rfq_id":"x"})")});
  auto undecodable = run_task(client->get_quote_by_pair("BTC/USDT", 1, none, Layer::BTC_LN));
  ASSERT_FALSE(undecodable);
  EXPECT_TRUE(undecodable.error().is<CoreError::Json>()) << undecodable.error().to_string();
}

TEST_F(QuoteTest, EstimateSwapFeesQuotesThenReportsNotImplemented) {
  auto estimate = run_task(client->estimate_swap_fees("BTC/USDT", 100000, Layer::BTC_LN));
  ASSERT_FALSE(estimate);
  EXPECT_TRUE(estimate.error().is<CoreError::NotImplemented>());
  EXPECT_EQ(estimate.error().to_string(), "Not implemented");
  EXPECT_EQ(
      quote_bodies(),
      (std::vector<std::string>{
          R"({"from_asset":{"asset_id":"BTC","layer":"BTC_LN","amount":100000},"to_asset":{"asset_id":"USDT","layer":"BTC_LN"}})"}));

  service.clear_requests();
  service.script("POST", quote_path, {answer(404, "{\"detail\":\"Not Found\"}")});
  auto missing = run_task(client->estimate_swap_fees("BTC/USDT", 100000, Layer::BTC_LN));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().to_string(), "API error (404): Not Found");

  auto malformed = run_task(client->estimate_swap_fees("BTCUSDT", 1, Layer::BTC_LN));
  ASSERT_FALSE(malformed);
  EXPECT_EQ(malformed.error().to_string(),
            "Validation error: Invalid ticker format: 'BTCUSDT'. Expected format: 'BASE/QUOTE'");
  EXPECT_EQ(service.requests().size(), 1u);
}

}  // namespace
}  // namespace zephlar::client
