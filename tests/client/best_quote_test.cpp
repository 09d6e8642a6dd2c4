// The best quote across the layers of a pair: which combinations are asked,
// in which order, and which answer wins.
#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "core/client/core_client.hpp"
#include "tests/client/market_data.hpp"
#include "tests/client/task_runner.hpp"
#include "tests/support/fake_service.hpp"

namespace zephlar::client {
namespace {

using zephlar::testing::answer;
using zephlar::testing::AssetRow;
using zephlar::testing::assets_body;
using zephlar::testing::config_for;
using zephlar::testing::FakeService;
using zephlar::testing::make_client;
using zephlar::testing::quote_body;
using zephlar::testing::run_task;

constexpr const char* quote_path = "/api/v1/market/quote";
constexpr std::optional<std::int64_t> none = std::nullopt;

// One quote request as sent: "FROM_ID:FROM_LAYER->TO_ID:TO_LAYER".
struct SentQuote {
  std::string text;
  std::string body;
};

class BestQuoteTest : public ::testing::Test {
 protected:
  void use_assets(std::vector<AssetRow> assets) {
    service.script("GET", "/api/v1/market/assets", {answer(200, assets_body(assets))});
    client = make_client(config_for(service.base_url()));
    ASSERT_TRUE(client);
  }

  // Answers the next quote requests, one each, with these to-amounts.
  void answer_quotes(const std::vector<std::int64_t>& to_amounts) {
    std::vector<zephlar::testing::ScriptedAnswer> answers;
    for (std::size_t i = 0; i < to_amounts.size(); ++i) {
      answers.push_back(answer(200, quote_body("rfq-" + std::to_string(i), "BTC_LN", "BTC_LN", to_amounts[i])));
    }
    service.script("POST", quote_path, answers);
  }

  std::vector<std::string> sent_quotes() const {
    static const std::regex leg(R"re(\{"asset_id":"([^"]*)","layer":"([A-Z_0-9]+)")re");
    std::vector<std::string> sent;
    for (const auto& request : service.requests()) {
      if (request.target != quote_path) continue;
      std::string text;
      for (std::sregex_iterator it(request.body.begin(), request.body.end(), leg), end; it != end; ++it) {
        text += (text.empty() ? "" : "->") + (*it)[1].str() + ":" + (*it)[2].str();
      }
      sent.push_back(text);
    }
    return sent;
  }

  std::size_t quote_request_count() const { return sent_quotes().size(); }

  FakeService service;
  std::shared_ptr<CoreClient> client;
};

TEST_F(BestQuoteTest, DefaultLayersInBaseOuterOrder) {
  for (const char* layers : {"", "null", "[]"}) {
    SCOPED_TRACE(layers);
    FakeService fresh;
    std::optional<std::string> layers_json;
    if (*layers) layers_json = layers;
    fresh.script("GET", "/api/v1/market/assets",
                 {answer(200, assets_body({{"BTC", layers_json}, {"USDT", layers_json}}))});
    auto c = make_client(config_for(fresh.base_url()));
    ASSERT_TRUE(c);
    auto best = run_task(c->get_best_quote("BTC/USDT", 100000, none));
    ASSERT_TRUE(best) << best.error().to_string();

    std::vector<std::string> sent;
    for (const auto& request : fresh.requests()) {
      if (request.target == quote_path) sent.push_back(request.body);
    }
    EXPECT_EQ(
        sent,
        (std::vector<std::string>{
            R"({"from_asset":{"asset_id":"BTC","layer":"BTC_LN","amount":100000},"to_asset":{"asset_id":"USDT","layer":"BTC_LN"}})",
            R"({"from_asset":{"asset_id":"BTC","layer":"BTC_LN","amount":100000},"to_asset":{"asset_id":"USDT","layer":"RGB_LN"}})",
            R"({"from_asset":{"asset_id":"BTC","layer":"RGB_LN","amount":100000},"to_asset":{"asset_id":"USDT","layer":"BTC_LN"}})",
            R"({"from_asset":{"asset_id":"BTC","layer":"RGB_LN","amount":100000},"to_asset":{"asset_id":"USDT","layer":"RGB_LN"}})"}));
  }
}

TEST_F(BestQuoteTest, LayerListsFromSupportedLayers) {
  const struct {
    const char* base_layers;
    const char* quote_layers;
    std::vector<std::string> sent;
  } cases[] = {
      // Unknown, lower-case and TAPASS names are dropped.
      {R"(["RGB_LN","rgb_ln","TAPASS_LN"])", R"(["BTC_LN"])", {"BTC:RGB_LN->USDT:BTC_LN"}},
      // Nothing recognised: the default pair of layers.
      {R"(["TAPASS_L1"," BTC_LN","LIGHTNING"])",
       R"(["BTC_L1"])",
       {"BTC:BTC_LN->USDT:BTC_L1", "BTC:RGB_LN->USDT:BTC_L1"}},
      // Order and repeats are kept.
      {R"(["BTC_SPARK","BTC_L1","BTC_SPARK"])",
       R"(["ARKADE_ARKADE","LIQUID_LIQUID"])",
       {"BTC:BTC_SPARK->USDT:ARKADE_ARKADE", "BTC:BTC_SPARK->USDT:LIQUID_LIQUID", "BTC:BTC_L1->USDT:ARKADE_ARKADE",
        "BTC:BTC_L1->USDT:LIQUID_LIQUID", "BTC:BTC_SPARK->USDT:ARKADE_ARKADE", "BTC:BTC_SPARK->USDT:LIQUID_LIQUID"}},
      {R"(["BTC_ARKADE","BTC_LIQUID","BTC_CASHU","RGB_L1","SPARK_SPARK"])",
       R"(["TAPASS_L1"])",
       {"BTC:BTC_ARKADE->USDT:BTC_LN", "BTC:BTC_ARKADE->USDT:RGB_LN", "BTC:BTC_LIQUID->USDT:BTC_LN",
        "BTC:BTC_LIQUID->USDT:RGB_LN", "BTC:BTC_CASHU->USDT:BTC_LN", "BTC:BTC_CASHU->USDT:RGB_LN",
        "BTC:RGB_L1->USDT:BTC_LN", "BTC:RGB_L1->USDT:RGB_LN", "BTC:SPARK_SPARK->USDT:BTC_LN",
        "BTC:SPARK_SPARK->USDT:RGB_LN"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.base_layers);
    service.reset();
    use_assets({{"BTC", c.base_layers}, {"USDT", c.quote_layers}});
    auto best = run_task(client->get_best_quote("BTC/USDT", 1, none));
    ASSERT_TRUE(best) << best.error().to_string();
    EXPECT_EQ(sent_quotes(), c.sent);
  }
}

TEST_F(BestQuoteTest, LargestToAmountWinsEarliestOfEquals) {
  const struct {
    std::vector<std::int64_t> to_amounts;
    const char* winner;
  } cases[] = {
      {{100, 250, 250, 90}, "rfq-1"},
      {{7, 7, 7, 7}, "rfq-0"},
      {{-5, 0, -1, -10}, "rfq-1"},  // a negative amount loses to any other
      {{-5, -7, -6, -9}, "rfq-0"},
      {{1, 2, 3, 4}, "rfq-3"},
      {{9223372036854775807, -9223372036854775807 - 1, 0, 9223372036854775807}, "rfq-0"},
  };
  for (const auto& c : cases) {
    service.reset();
    use_assets({{"BTC"}, {"USDT"}});
    answer_quotes(c.to_amounts);
    auto best = run_task(client->get_best_quote("BTC/USDT", none, 500));
    ASSERT_TRUE(best) << best.error().to_string();
    EXPECT_EQ(best->rfq_id, c.winner) << ::testing::PrintToString(c.to_amounts);
  }
}

TEST_F(BestQuoteTest, FailedCombinationsAreSkipped) {
  use_assets({{"BTC"}, {"USDT"}});
  service.script("POST", quote_path,
                 {answer(500, "{}"), answer(200, quote_body("second", "BTC_LN", "RGB_LN", 10)), answer(200, "not json"),
                  answer(400, "{}")});
  auto best = run_task(client->get_best_quote("BTC/USDT", 1, none));
  ASSERT_TRUE(best) << best.error().to_string();
  EXPECT_EQ(best->rfq_id, "second");
  EXPECT_EQ(quote_request_count(), 4u);
}

TEST_F(BestQuoteTest, NoSuccessfulCombinationIsQuoteNotFound) {
  use_assets({{"BTC"}, {"USDT"}});
  service.script("POST", quote_path, {answer(400, "{}"), answer(400, "{}"), answer(400, "{}"), answer(400, "{}")});
  auto best = run_task(client->get_best_quote("BTC/USDT", 1, none));
  ASSERT_FALSE(best);
  ASSERT_TRUE(best.error().is<CoreError::NotFound>());
  EXPECT_EQ(best.error().to_string(), "Quote not found: BTC/USDT");
  EXPECT_EQ(quote_request_count(), 4u);
}

TEST_F(BestQuoteTest, AmountErrorsSkipEveryCombinationWithoutARequest) {
  use_assets({{"BTC"}, {"USDT"}});
  for (auto [from, to] :
       {std::pair{none, none}, std::pair{std::optional<std::int64_t>(1), std::optional<std::int64_t>(2)}}) {
    auto best = run_task(client->get_best_quote("BTC/USDT", from, to));
    ASSERT_FALSE(best);
    EXPECT_EQ(best.error().to_string(), "Quote not found: BTC/USDT");
  }
  EXPECT_EQ(quote_request_count(), 0u);
}

TEST_F(BestQuoteTest, LowerCaseTickerFindsAssetsAndSendsItsOwnPieces) {
  use_assets({{"BTC", R"(["BTC_LN"])"}, {"USDT", R"(["RGB_LN"])"}});
  auto best = run_task(client->get_best_quote("btc/Usdt", 1, none));
  ASSERT_TRUE(best) << best.error().to_string();
  EXPECT_EQ(sent_quotes(), (std::vector<std::string>{"btc:BTC_LN->Usdt:RGB_LN"}));
}

TEST_F(BestQuoteTest, TickerAndAssetErrorsEndTheSearch) {
  use_assets({{"BTC"}, {"USDT"}});
  const struct {
    const char* ticker;
    const char* text;
  } cases[] = {
      {"BTCUSDT", "Validation error: Ticker must be in format ASSET/ASSET"},
      {"BTC/USDT/XAUT", "Validation error: Ticker must be in format ASSET/ASSET"},
      {"", "Validation error: Ticker must be in format ASSET/ASSET"},
      {"DOGE/USDT", "Asset not found: DOGE"},
      {"BTC/doge", "Asset not found: doge"},
      {"/USDT", "Asset not found: "},
  };
  for (const auto& c : cases) {
    auto best = run_task(client->get_best_quote(c.ticker, 1, none));
    ASSERT_FALSE(best) << c.ticker;
    EXPECT_EQ(best.error().to_string(), c.text);
  }
  EXPECT_EQ(quote_request_count(), 0u);
}

}  // namespace
}  // namespace zephlar::client
