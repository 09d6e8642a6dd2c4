// The market methods of the wrapper client against the fake service: JSON
// results, the wrapper's own ticker look-ups and the core's, the quote
// methods and their checks.
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/ffi/wrapper_support.hpp"

namespace zephlar::ffi::testing {
namespace {

std::string asset(std::string_view ticker, bool active = true) {
  return "{\"ticker\":\"" + std::string(ticker) + "\",\"name\":\"" + std::string(ticker) +
         " coin\",\"precision\":8,\"is_active\":" + (active ? "true" : "false") + "}";
}

std::string assets_body(const std::vector<std::string>& assets) {
  std::string list;
  for (const auto& a : assets) list += (list.empty() ? "" : ",") + a;
  return "{\"assets\":[" + list + "],\"network\":\"regtest\",\"total\":" + std::to_string(assets.size()) +
         ",\"limit\":100,\"offset\":0,\"timestamp\":1700000000}";
}

std::string pair(std::string_view base, std::string_view quote, bool active = true) {
  return "{\"base\":{\"ticker\":\"" + std::string(base) + "\",\"name\":\"base\",\"precision\":8}" +
         ",\"quote\":{\"ticker\":\"" + std::string(quote) + "\",\"name\":\"quote\",\"precision\":6}" +
         ",\"is_active\":" + (active ? "true" : "false") + "}";
}

std::string pairs_body(const std::vector<std::string>& pairs) {
  std::string list;
  for (const auto& p : pairs) list += (list.empty() ? "" : ",") + p;
  return "{\"pairs\":[" + list + "],\"total\":" + std::to_string(pairs.size()) +
         ",\"limit\":100,\"offset\":0,\"timestamp\":1700000000}";
}

// The value of `"name":` in a compact JSON text, up to the next ',' or '}'.
std::string member(const std::string& json, std::string_view name) {
  const std::string key = "\"" + std::string(name) + "\":";
  const auto at = json.find(key);
  if (at == std::string::npos) return "<absent>";
  const auto start = at + key.size();
  return json.substr(start, json.find_first_of(",}", start) - start);
}

TEST(WrapperMarketTest, ListsAreBareCompactArrays) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);

  const auto assets = client->list_assets();
  ASSERT_TRUE(assets) << text_of(assets);
  EXPECT_EQ(assets.value().front(), '[');
  EXPECT_EQ(assets.value().back(), ']');
  for (const char* loose : {"\n", "\": ", ", \"", "{ ", " }"}) {
    EXPECT_EQ(assets.value().find(loose), std::string::npos) << loose << " in " << assets.value();
  }
  EXPECT_NE(assets.value().find("\"ticker\":\"USDT\""), std::string::npos) << assets.value();

  const auto pairs = client->list_pairs();
  ASSERT_TRUE(pairs) << text_of(pairs);
  EXPECT_EQ(pairs.value().front(), '[');
  EXPECT_NE(pairs.value().find("\"ticker\":\"XAUT\""), std::string::npos) << pairs.value();
}

TEST(WrapperMarketTest, EmptyListsAreEmptyArrays) {
  FakeService service;
  service.script("GET", "/api/v1/market/assets", {answer(200, assets_body({}))});
  service.script("GET", "/api/v1/market/pairs", {answer(200, pairs_body({}))});
  auto client = make_client(service);
  ASSERT_TRUE(client);
  EXPECT_EQ(text_of(client->list_assets()), "[]");
  EXPECT_EQ(text_of(client->list_pairs()), "[]");
  EXPECT_EQ(text_of(client->list_active_assets()), "[]");
  EXPECT_EQ(text_of(client->list_active_pairs()), "[]");
}

TEST(WrapperMarketTest, ActiveListsKeepOnlyActiveEntriesInOrder) {
  FakeService service;
  service.script("GET", "/api/v1/market/assets",
                 {answer(200, assets_body({asset("AAA"), asset("BBB", false), asset("CCC")}))});
  service.script("GET", "/api/v1/market/pairs",
                 {answer(200, pairs_body({pair("AAA", "BBB", false), pair("AAA", "CCC")}))});
  auto client = make_client(service);
  ASSERT_TRUE(client);
  const auto assets = client->list_active_assets();
  ASSERT_TRUE(assets) << text_of(assets);
  EXPECT_NE(assets.value().find("AAA"), std::string::npos);
  EXPECT_EQ(assets.value().find("BBB"), std::string::npos);
  EXPECT_LT(assets.value().find("AAA"), assets.value().find("CCC"));
  const auto pairs = client->list_active_pairs();
  ASSERT_TRUE(pairs) << text_of(pairs);
  EXPECT_EQ(pairs.value().find("BBB"), std::string::npos) << pairs.value();
  EXPECT_NE(pairs.value().find("CCC"), std::string::npos) << pairs.value();
}

TEST(WrapperMarketTest, TickerLookUps) {
  FakeService service;
  service.script("GET", "/api/v1/market/assets",
                 {answer(200, assets_body({asset("usdt"), asset("USDT"), asset("STRASSE"), asset("BTC")}))});
  service.script("GET", "/api/v1/market/pairs",
                 {answer(200, pairs_body({pair("BTC", "USDT"), pair("btc", "usdt"), pair("BTC", "XAUT")}))});
  auto client = make_client(service);
  ASSERT_TRUE(client);

  struct Case {
    const char* name;
    ZephResult<std::string> (ZephClient::*method)(std::string_view) const;
    const char* ticker;
    std::string expected;  // the matched entry's tell-tale member, or the display text of the error
  };
  using C = ZephClient;
  const std::vector<Case> cases = {
      {"get asset: earliest of equal tickers", &C::get_asset_by_ticker, "UsDt", "\"usdt\""},
      {"find asset: earliest of equal tickers", &C::find_asset_by_ticker, "UsDt", "\"usdt\""},
      {"get asset: full case mapping", &C::get_asset_by_ticker, "stra\xC3\x9F" "e", "\"STRASSE\""},
      {"find asset: full case mapping", &C::find_asset_by_ticker, "stra\xC3\x9F" "e", "\"STRASSE\""},
      {"get asset: none", &C::get_asset_by_ticker, "dOgE", "Not found: Asset not found: dOgE"},
      {"find asset: none", &C::find_asset_by_ticker, "dOgE", "Not found: Asset not found: dOgE"},
      {"get pair: lower case", &C::get_pair_by_ticker, "btc/xaut", "\"XAUT\""},
      {"find pair: lower case", &C::find_pair_by_ticker, "btc/xaut", "\"XAUT\""},
      {"get pair: earliest", &C::get_pair_by_ticker, "btc/usdt", "\"USDT\""},
      {"find pair: earliest", &C::find_pair_by_ticker, "btc/usdt", "\"USDT\""},
      {"get pair: none", &C::get_pair_by_ticker, "usdt/btc", "Not found: Trading pair not found: usdt/btc"},
      {"find pair: none", &C::find_pair_by_ticker, "usdt/btc", "Not found: TradingPair not found: usdt/btc"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto result = (client.get()->*c.method)(c.ticker);
    if (result) {
      // An asset's own ticker, or the quote ticker of a pair (written last).
      const auto quote = result.value().find("\"quote\":");
      const std::string tell = quote == std::string::npos ? result.value() : result.value().substr(quote);
      EXPECT_EQ(member(tell, "ticker"), c.expected) << result.value();
      EXPECT_EQ(result.value().front(), '{');
    } else {
      EXPECT_EQ(result.error().kind(), ZephError::Kind::NotFoundError);
      EXPECT_EQ(result.error().display(), c.expected);
    }
  }
  // Both lists were fetched once and read from the cache afterwards.
  EXPECT_EQ(requests_to(service, "/api/v1/market/assets").size(), 1u);
  EXPECT_EQ(requests_to(service, "/api/v1/market/pairs").size(), 1u);
}

TEST(WrapperMarketTest, QuotesGoOutOnLightningWithTheGivenAmounts) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);

  const auto by_pair = client->get_quote_by_pair("BTC/USDT", 100000, std::nullopt);
  ASSERT_TRUE(by_pair) << text_of(by_pair);
  const auto by_assets = client->get_quote_by_assets("BTC", "USDT", 100000, std::nullopt);
  ASSERT_TRUE(by_assets) << text_of(by_assets);
  const auto sent = requests_to(service, "/api/v1/market/quote");
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].body, sent[1].body);
  EXPECT_NE(sent[0].body.find("\"BTC_LN\""), std::string::npos) << sent[0].body;
  EXPECT_EQ(sent[0].body.find("RGB_LN"), std::string::npos) << sent[0].body;
  EXPECT_EQ(by_pair.value().front(), '{');
  EXPECT_NE(by_pair.value().find("\"rfq_id\""), std::string::npos) << by_pair.value();

  // An amount of 2^63 and above goes out as the same bits, signed.
  service.clear_requests();
  static_cast<void>(client->get_quote_by_pair("BTC/USDT", std::nullopt, 0xFFFFFFFFFFFFFFFFull));
  const auto wrapped = requests_to(service, "/api/v1/market/quote");
  ASSERT_EQ(wrapped.size(), 1u);
  EXPECT_NE(wrapped[0].body.find("-1"), std::string::npos) << wrapped[0].body;

  const auto best = client->get_best_quote("BTC/USDT", 100000, std::nullopt);
  ASSERT_TRUE(best) << text_of(best);
  EXPECT_NE(best.value().find("\"rfq_id\""), std::string::npos);
}

TEST(WrapperMarketTest, QuoteChecksFailBeforeAnyRequest) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);
  struct Case {
    const char* name;
    ZephResult<std::string> result;
    std::string display;
  };
  const std::vector<Case> cases = {
      {"no amount", client->get_quote_by_pair("BTC/USDT", std::nullopt, std::nullopt),
       "Validation error: Must specify either from_amount or to_amount"},
      {"both amounts", client->get_quote_by_pair("BTC/USDT", 1, 2),
       "Validation error: Cannot specify both from_amount and to_amount"},
      {"bad ticker", client->get_quote_by_pair("BTCUSDT", 1, std::nullopt),
       "Validation error: Invalid ticker format: 'BTCUSDT'. Expected format: 'BASE/QUOTE'"},
      {"joined ticker with a slash", client->get_quote_by_assets("BTC/X", "USDT", 1, std::nullopt),
       "Validation error: Invalid ticker format: 'BTC/X/USDT'. Expected format: 'BASE/QUOTE'"},
      {"best quote ticker", client->get_best_quote("BTC", 1, std::nullopt),
       "Validation error: Ticker must be in format ASSET/ASSET"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.result);
    EXPECT_EQ(c.result.error().kind(), ZephError::Kind::ValidationError);
    EXPECT_EQ(c.result.error().display(), c.display);
  }
  EXPECT_TRUE(service.requests().empty());
}

TEST(WrapperMarketTest, EstimateSwapFeesNeverYieldsANumber) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);
  const auto fees = client->estimate_swap_fees("BTC/USDT", 100000);
  ASSERT_FALSE(fees);
  EXPECT_EQ(fees.error().kind(), ZephError::Kind::InternalError);
  EXPECT_EQ(fees.error().message(), "Not implemented");
  EXPECT_EQ(fees.error().display(), "Internal error: Not implemented");
  EXPECT_EQ(requests_to(service, "/api/v1/market/quote").size(), 1u);

  // A failing quote gives its own error.
  service.script("POST", "/api/v1/market/quote", {answer(403, "{\"detail\":\"no\"}")});
  const auto refused = client->estimate_swap_fees("BTC/USDT", 100000);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().display(), "API error: Forbidden");
}

}  // namespace
}  // namespace zephlar::ffi::testing
