// Ticker matching by full Unicode upper-casing, the look-ups and the active
// lists built on the cached lists.
#include "core/client/ticker.hpp"

#include <gtest/gtest.h>

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
using zephlar::testing::PairRow;
using zephlar::testing::pairs_body;
using zephlar::testing::run_task;

TEST(ToUpperFullTest, MapsEveryCharacterByTheFullMapping) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},
      {"usdt", "USDT"},
      {"UsDt", "USDT"},
      {" btc\t", " BTC\t"},          // nothing trimmed
      {"btc-1_x.9/", "BTC-1_X.9/"},  // only letters change
      {"ß", "SS"},                   // lengthening special casing
      {"straße", "STRASSE"},
      {"\xEF\xAC\x81", "FI"},                    // U+FB01 LATIN SMALL LIGATURE FI
      {"\xC5\x89", "\xCA\xBCN"},                 // U+0149 -> U+02BC U+004E
      {"\xCE\x90", "\xCE\x99\xCC\x88\xCC\x81"},  // U+0390 -> three code points
      {"i", "I"},                                // root locale: no dotted capital I
      {"\xC4\xB1", "I"},                         // U+0131 dotless i
      {"\xD1\x89", "\xD0\xA9"},                  // Cyrillic shcha
      {"\xC7\x85", "\xC7\x84"},                  // U+01C5 title case DZ with caron
      {"\xE2\x93\x90", "\xE2\x92\xB6"},          // circled a
      {"\xF0\x9F\x9A\x80", "\xF0\x9F\x9A\x80"},  // no mapping: unchanged
      {"\xE2\x82\xBF", "\xE2\x82\xBF"},          // BITCOIN SIGN
      {"\xC3\xA9th", "\xC3\x89TH"},              // precomposed e acute
      {"e\xCC\x81th", "E\xCC\x81TH"},            // decomposed: not normalised
      {"\xFF", "\xEF\xBF\xBD"},                  // ill-formed byte: U+FFFD
  };
  for (const auto& c : cases) EXPECT_EQ(to_upper_full(c.in), c.out) << c.in;
}

models::Asset asset(std::string ticker, std::string name = "", std::optional<bool> active = std::nullopt) {
  models::Asset a;
  a.ticker = std::move(ticker);
  a.name = std::move(name);
  a.is_active = active;
  return a;
}

models::TradingPair pair(std::string base, std::string quote, std::optional<bool> active = std::nullopt,
                         std::string id = "") {
  models::TradingPair p;
  p.base.ticker = std::move(base);
  p.quote.ticker = std::move(quote);
  p.is_active = active;
  if (!id.empty()) p.id = std::move(id);
  return p;
}

TEST(FindInListTest, AssetsMatchOnUpperCasedTickersFirstWins) {
  const std::vector<models::Asset> assets = {asset("usdt", "lower"), asset("USDT", "upper"), asset("STRASSE", "ss"),
                                             asset("straße", "sharp"), asset(" BTC", "blank")};
  const struct {
    const char* upper;
    const char* name;  // empty: no match
  } cases[] = {
      {"USDT", "lower"},               // the earlier of two that differ only in case
      {"STRASSE", "ss"},               // the sharp-s spelling comes later
      {" BTC", "blank"}, {"BTC", ""},  // no trimming
      {"usdt", ""},                    // the wanted ticker is upper-cased by the caller
      {"", ""},
  };
  for (const auto& c : cases) {
    auto found = find_asset_in_list(assets, c.upper);
    if (*c.name == '\0') {
      EXPECT_FALSE(found) << c.upper;
    } else {
      ASSERT_TRUE(found) << c.upper;
      EXPECT_EQ(found->name, c.name) << c.upper;
    }
  }
  EXPECT_EQ(find_asset_in_list({asset("straße", "sharp")}, "STRASSE")->name, "sharp");
  EXPECT_FALSE(find_asset_in_list({}, "BTC"));
}

TEST(FindInListTest, PairsMatchOnTheirJoinedTicker) {
  const std::vector<models::TradingPair> pairs = {
      pair("BTC", "USDT", true, "first"), pair("btc", "usdt", true, "second"), pair("BTC/X", "Y", true, "slashed"),
      pair("GROß", "BTC", true, "sharp")};
  const struct {
    const char* upper;
    const char* id;
  } cases[] = {
      {"BTC/USDT", "first"},  {"USDT/BTC", ""},        // no reversal
      {" BTC/USDT", ""},                               // no trimming
      {"BTC/USDT ", ""},      {"BTC/X/Y", "slashed"},  // compared whole, never split
      {"GROSS/BTC", "sharp"}, {"BTCUSDT", ""},
  };
  for (const auto& c : cases) {
    auto found = find_pair_in_list(pairs, c.upper);
    if (*c.id == '\0') {
      EXPECT_FALSE(found) << c.upper;
    } else {
      ASSERT_TRUE(found) << c.upper;
      EXPECT_EQ(found->id, std::optional<std::string>(c.id)) << c.upper;
    }
  }
  EXPECT_EQ(pair_ticker(pair("a", "b")), "a/b");
}

TEST(RetainActiveTest, KeepsOnlyTrueInOrder) {
  auto assets = retain_active_assets({asset("A", "", true), asset("B", "", false), asset("C"), asset("D", "", true)});
  ASSERT_EQ(assets.size(), 2u);
  EXPECT_EQ(assets[0].ticker, "A");
  EXPECT_EQ(assets[1].ticker, "D");
  auto pairs = retain_active_pairs({pair("A", "B"), pair("C", "D", true), pair("E", "F", false), pair("G", "H", true)});
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].base.ticker, "C");
  EXPECT_EQ(pairs[1].base.ticker, "G");
  EXPECT_TRUE(retain_active_assets({}).empty());
}

class LookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service.script("GET", "/api/v1/market/assets",
                   {answer(200, assets_body({{"USDT", std::nullopt, "true"},
                                             {"usdt", std::nullopt, "false"},
                                             {"BTC"},
                                             {"GROSS", std::nullopt, "true"}}))});
    service.script("GET", "/api/v1/market/pairs",
                   {answer(200, pairs_body({{"BTC", "USDT", "true", "p1"},
                                            {"BTC", "XAUT", "false", "p2"},
                                            {"XAUT", "USDT", std::nullopt, "p3"}}))});
    client = make_client(config_for(service.base_url()));
    ASSERT_TRUE(client);
  }

  std::size_t request_count() const { return service.requests().size(); }

  FakeService service;
  std::shared_ptr<CoreClient> client;
};

TEST_F(LookupTest, FindsAssetsWithoutRegardToCase) {
  for (const char* ticker : {"usdt", "USDT", "Usdt"}) {
    auto found = run_task(client->find_asset_by_ticker(ticker));
    ASSERT_TRUE(found) << ticker << ": " << found.error().to_string();
    EXPECT_EQ(found->ticker, "USDT") << ticker;  // the earlier of the two
    EXPECT_EQ(found->is_active, true);
  }
  auto sharp = run_task(client->find_asset_by_ticker("groß"));
  ASSERT_TRUE(sharp) << sharp.error().to_string();
  EXPECT_EQ(sharp->ticker, "GROSS");
  EXPECT_EQ(request_count(), 1u);  // served from the cache after the first
}

TEST_F(LookupTest, NotFoundKeepsTheCallersForm) {
  const struct {
    const char* ticker;
    const char* text;
  } cases[] = {
      {"xaut", "Asset not found: xaut"},
      {" BTC", "Asset not found:  BTC"},
      {"", "Asset not found: "},
  };
  for (const auto& c : cases) {
    auto missing = run_task(client->find_asset_by_ticker(c.ticker));
    ASSERT_FALSE(missing);
    ASSERT_TRUE(missing.error().is<CoreError::NotFound>());
    EXPECT_EQ(missing.error().get_if<CoreError::NotFound>()->id, c.ticker);
    EXPECT_EQ(missing.error().to_string(), c.text);
  }
}

TEST_F(LookupTest, FindsPairsByTheirWholeTicker) {
  auto found = run_task(client->find_pair_by_ticker("btc/usdt"));
  ASSERT_TRUE(found) << found.error().to_string();
  EXPECT_EQ(found->id, std::optional<std::string>("p1"));
  for (const char* ticker : {"USDT/BTC", " BTC/USDT", "BTC", "BTC/"}) {
    auto missing = run_task(client->find_pair_by_ticker(ticker));
    ASSERT_FALSE(missing) << ticker;
    EXPECT_EQ(missing.error().to_string(), std::string("TradingPair not found: ") + ticker);
  }
  EXPECT_EQ(request_count(), 1u);
}

TEST_F(LookupTest, ActiveListsKeepOnlyTrue) {
  auto assets = run_task(client->list_active_assets());
  ASSERT_TRUE(assets);
  std::vector<std::string> tickers;
  for (const auto& a : *assets) tickers.push_back(a.ticker);
  EXPECT_EQ(tickers, (std::vector<std::string>{"USDT", "GROSS"}));

  auto pairs = run_task(client->list_active_pairs());
  ASSERT_TRUE(pairs);
  ASSERT_EQ(pairs->size(), 1u);
  EXPECT_EQ(pairs->front().id, std::optional<std::string>("p1"));

  // The full lists are untouched by the filtering.
  auto all = run_task(client->list_assets());
  ASSERT_TRUE(all);
  EXPECT_EQ(all->size(), 4u);
  EXPECT_EQ(request_count(), 2u);
}

TEST(LookupFailureTest, ListErrorsComeBeforeMatching) {
  // Nothing listens on port 1 of the loopback address.
  auto client = make_client(config_for("http://127.0.0.1:1"));
  ASSERT_TRUE(client);
  auto asset = run_task(client->find_asset_by_ticker("BTC"));
  ASSERT_FALSE(asset);
  EXPECT_EQ(asset.error().to_string(), "Network error: Connection failed");
  auto pair = run_task(client->find_pair_by_ticker("BTC/USDT"));
  ASSERT_FALSE(pair);
  EXPECT_TRUE(pair.error().is<CoreError::Network>());
  EXPECT_FALSE(run_task(client->list_active_assets()));
  EXPECT_FALSE(run_task(client->list_active_pairs()));
}

TEST(LookupFailureTest, EmptyListsFindNothing) {
  FakeService service;
  service.script("GET", "/api/v1/market/assets", {answer(200, assets_body({}))});
  service.script("GET", "/api/v1/market/pairs", {answer(200, pairs_body({}))});
  auto client = make_client(config_for(service.base_url()));
  ASSERT_TRUE(client);
  auto asset = run_task(client->find_asset_by_ticker("BTC"));
  ASSERT_FALSE(asset);
  EXPECT_EQ(asset.error().to_string(), "Asset not found: BTC");
  auto pair = run_task(client->find_pair_by_ticker("BTC/USDT"));
  ASSERT_FALSE(pair);
  EXPECT_EQ(pair.error().to_string(), "TradingPair not found: BTC/USDT");
  auto assets = run_task(client->list_active_assets());
  ASSERT_TRUE(assets);
  EXPECT_TRUE(assets->empty());
  auto pairs = run_task(client->list_active_pairs());
  ASSERT_TRUE(pairs);
  EXPECT_TRUE(pairs->empty());
  EXPECT_EQ(service.requests().size(), 2u);
}

}  // namespace
}  // namespace zephlar::client
