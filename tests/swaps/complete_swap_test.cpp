// Completing a swap from a quote: the requests in each branch, in order and
// exactly, and where each failure stops the sequence.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/client/core_client.hpp"
#include "core/json/json.hpp"
#include "tests/swaps/service_test.hpp"

namespace zephlar::client {
namespace {

using models::Layer;
using zephlar::testing::answer;
using zephlar::testing::config_for;
using zephlar::testing::error_of;
using zephlar::testing::expect_requests;
using zephlar::testing::FakeService;
using zephlar::testing::get_request;
using zephlar::testing::make_client;
using zephlar::testing::post_request;
using zephlar::testing::request_lines;
using zephlar::testing::run_task;
using zephlar::testing::ScriptedAnswer;

constexpr const char* nodeinfo_path = "/api/v1/swaps/nodeinfo";
constexpr const char* init_path = "/api/v1/swaps/init";
constexpr const char* taker_path = "/api/v1/swaps/taker";
constexpr const char* execute_path = "/api/v1/swaps/execute";

constexpr const char* init_line = "POST /api/v1/swaps/init";
constexpr const char* nodeinfo_line = "GET /api/v1/swaps/nodeinfo";
constexpr const char* taker_line = "POST /api/v1/swaps/taker";
constexpr const char* execute_line = "POST /api/v1/swaps/execute";

// A quote whose legs' tickers differ from their asset ids, and which
// expired long ago (nothing looks at that).
models::PairQuoteResponse sample_quote() {
  models::PairQuoteResponse quote;
  quote.rfq_id = "r1";
  quote.from_asset = {"BTC", "Bitcoin", "BTC", Layer::BTC_LN, 100000, 8};
  quote.to_asset = {"USDT", "Tether USD", "USDt", Layer::RGB_LN, 9500, 6};
  quote.price = 95000;
  quote.fee = {10, 5, 0.001, 15, "BTC", 8};
  quote.timestamp = 1;
  quote.expires_at = 2;
  return quote;
}

constexpr const char* init_body =
    R"({"rfq_id":"r1","from_asset":"BTC","from_amount":100000,"to_asset":"USDT","to_amount":9500})";

class CompleteSwapTest : public ::testing::Test {
 protected:
  // A client on the service; with a node URL (of a second fake server that
  // must receive nothing) when asked.
  std::shared_ptr<CoreClient> make(bool with_node) {
    auto config = config_for(service.base_url());
    if (with_node) config.node_url = node.base_url();
    auto client = make_client(std::move(config));
    EXPECT_TRUE(client && client->has_node() == with_node);
    return client;
  }

  // The answers of a swap that goes through.
  void script_happy_path() {
    service.script("POST", init_path, {answer(200, R"({"swapstring":"s1","payment_hash":"h1"})")});
    service.script("GET", nodeinfo_path, {answer(200, R"({"pubkey":"pk1","network":"regtest","block_height":5})")});
    service.script("POST", taker_path, {answer(200, "{}")});
    service.script("POST", execute_path, {answer(200, R"({"status":200,"message":"done"})")});
  }

  FakeService service;
  FakeService node;
};

TEST_F(CompleteSwapTest, WithoutANodeInitNodeInfoAndExecute) {
  auto client = make(false);
  script_happy_path();
  auto confirmed = run_task(client->complete_swap_from_quote(sample_quote()));
  ASSERT_TRUE(confirmed) << confirmed.error().to_string();
  EXPECT_EQ(*confirmed, (models::ConfirmSwapResponse{200, "done"}));
  expect_requests(service,
                  {
                      post_request(init_path, init_body),
                      get_request(nodeinfo_path),
                      post_request(execute_path, R"({"swapstring":"s1","taker_pubkey":"pk1","payment_hash":"h1"})"),
                  });
}

TEST_F(CompleteSwapTest, AnExecuteDroppedAfterItWasReadIsNeverSentAgain) {
  // The execute step runs on the connection the earlier steps left open;
  // the service reads it and drops the connection without answering. It may
  // have executed the swap, so the call fails rather than execute it twice.
  for (const auto fault : {ScriptedAnswer::Fault::reset_before_headers, ScriptedAnswer::Fault::close_before_headers}) {
    service.reset();
    auto client = make(false);
    service.script("POST", init_path, {answer(200, R"({"swapstring":"s1","payment_hash":"h1"})")});
    service.script("GET", nodeinfo_path, {answer(200, R"({"pubkey":"pk1","network":"regtest","block_height":5})")});
    ScriptedAnswer dropped;
    dropped.fault = fault;
    service.script("POST", execute_path, {dropped});
    auto confirmed = run_task(client->complete_swap_from_quote(sample_quote()));
    ASSERT_FALSE(confirmed);
    EXPECT_EQ(error_of(confirmed).to_string(), "Network error: HTTP request failed");
    EXPECT_EQ(request_lines(service), (std::vector<std::string>{init_line, nodeinfo_line, execute_line}));
  }
}

TEST_F(CompleteSwapTest, WithANodeTheTakerRequestGoesToTheService) {
  auto client = make(true);
  script_happy_path();
  auto confirmed = run_task(client->complete_swap_from_quote(sample_quote()));
  ASSERT_TRUE(confirmed) << confirmed.error().to_string();
  EXPECT_EQ(*confirmed, (models::ConfirmSwapResponse{200, "done"}));
  expect_requests(service,
                  {
                      post_request(init_path, init_body),
                      get_request(nodeinfo_path),
                      post_request(taker_path, R"({"swapstring":"s1"})"),
                      post_request(execute_path, R"({"swapstring":"s1","taker_pubkey":"pk1","payment_hash":"h1"})"),
                  });
  EXPECT_TRUE(node.requests().empty());
}

TEST_F(CompleteSwapTest, TheFirstFailureEndsItUnchanged) {
  struct Script {
    const char* method;
    const char* path;
    ScriptedAnswer answer;
  };
  struct Case {
    const char* name;
    bool with_node;
    Script failure;
    std::vector<std::string> lines;  // the requests sent, in order
    std::string text;                // the start of the error's text
    std::optional<std::string> details;
  };
  const std::string missing_pubkey = R"({"network":"regtest","block_height":5})";
  const Case cases[] = {
      {"init fails",
       true,
       {"POST", init_path, answer(500, "init down")},
       {init_line},
       "API error (500): Internal Server Error",
       "init down"},
      {"init answer does not decode",
       true,
       {"POST", init_path, answer(200, R"({"swapstring":"s1"})")},
       {init_line},
       "JSON error: missing field `payment_hash`",
       std::nullopt},
      {"node info fails",
       true,
       {"GET", nodeinfo_path, answer(404, "gone")},
       {init_line, nodeinfo_line},
       "API error (404): Not Found",
       "gone"},
      {"null pubkey without node",
       false,
       {"GET", nodeinfo_path, answer(200, R"({"pubkey":null,"network":"regtest","block_height":5})")},
       {init_line, nodeinfo_line},
       "Configuration error: Node pubkey not available",
       std::nullopt},
      {"null pubkey with node",
       true,
       {"GET", nodeinfo_path, answer(200, R"({"pubkey":null,"network":"regtest","block_height":5})")},
       {init_line, nodeinfo_line},
       "Configuration error: Node pubkey not available",
       std::nullopt},
      {"pubkey missing",
       true,
       {"GET", nodeinfo_path, answer(200, missing_pubkey)},
       {init_line, nodeinfo_line},
       "JSON error: missing field `pubkey`",
       std::nullopt},
      {"taker fails",
       true,
       {"POST", taker_path, answer(422, R"({"detail":"bad"})")},
       {init_line, nodeinfo_line, taker_line},
       "API error (422): Unprocessable Entity",
       R"({"detail":"bad"})"},
      {"taker answers nothing",
       true,
       {"POST", taker_path, answer(200, "")},
       {init_line, nodeinfo_line, taker_line},
       "JSON error: EOF while parsing a value",
       std::nullopt},
      {"taker answers bare text",
       true,
       {"POST", taker_path, answer(200, "ok")},
       {init_line, nodeinfo_line, taker_line},
       "JSON error: expected",
       std::nullopt},
      {"execute fails without node",
       false,
       {"POST", execute_path, answer(400, "no")},
       {init_line, nodeinfo_line, execute_line},
       "API error (400): Bad Request",
       "no"},
      {"execute fails with node",
       true,
       {"POST", execute_path, answer(503, "busy")},
       {init_line, nodeinfo_line, taker_line, execute_line},
       "API error (503): Service Unavailable",
       "busy"},
      {"execute answer does not decode",
       true,
       {"POST", execute_path, answer(200, R"({"status":"200","message":""})")},
       {init_line, nodeinfo_line, taker_line, execute_line},
       "JSON error: invalid type",
       std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    service.reset();
    auto client = make(c.with_node);
    // The failing answer is queued before the ones that would succeed.
    service.script(c.failure.method, c.failure.path, {c.failure.answer});
    script_happy_path();
    const CoreError error = error_of(run_task(client->complete_swap_from_quote(sample_quote())));
    EXPECT_EQ(error.to_string().rfind(c.text, 0), 0u) << error.to_string();
    if (c.details) {
      const auto* api = error.get_if<CoreError::Api>();
      ASSERT_NE(api, nullptr);
      EXPECT_EQ(api->details, c.details);
    }
    // Nothing is undone: no request beyond the failing one.
    EXPECT_EQ(request_lines(service), c.lines);
  }
  EXPECT_TRUE(node.requests().empty());
}

TEST_F(CompleteSwapTest, AnyJsonValueAnswersTheTakerRequest) {
  auto client = make(true);
  for (const char* body : {"{}", "null", "[]", "\"ok\"", " 12 ", R"({"accepted":[true,false]})"}) {
    SCOPED_TRACE(body);
    service.reset();
    service.script("POST", taker_path, {answer(200, body)});
    script_happy_path();
    auto confirmed = run_task(client->complete_swap_from_quote(sample_quote()));
    ASSERT_TRUE(confirmed) << confirmed.error().to_string();
    EXPECT_EQ(request_lines(service), (std::vector<std::string>{init_line, nodeinfo_line, taker_line, execute_line}));
  }
}

TEST_F(CompleteSwapTest, AnEmptyPubkeyIsAKey) {
  auto client = make(false);
  service.script("GET", nodeinfo_path, {answer(200, R"({"pubkey":"","network":null,"block_height":null})")});
  script_happy_path();
  ASSERT_TRUE(run_task(client->complete_swap_from_quote(sample_quote())));
  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[2].body, R"({"swapstring":"s1","taker_pubkey":"","payment_hash":"h1"})");
}

TEST_F(CompleteSwapTest, QuoteValuesGoOutAsTheyAre) {
  auto client = make(false);
  auto quote = sample_quote();
  quote.rfq_id = "";
  quote.from_asset.asset_id = "a\"b";
  quote.from_asset.amount = 0;
  quote.to_asset.amount = -1;
  script_happy_path();
  ASSERT_TRUE(run_task(client->complete_swap_from_quote(quote)));
  ASSERT_FALSE(service.requests().empty());
  EXPECT_EQ(service.requests()[0].body,
            R"({"rfq_id":"","from_asset":"a\"b","from_amount":0,"to_asset":"USDT","to_amount":-1})");
}

TEST_F(CompleteSwapTest, AgainstTheServicesOwnAnswers) {
  // The default routes: the swap is Waiting once initialised and Succeeded
  // once executed.
  auto client = make(true);
  auto quote = sample_quote();
  quote.from_asset.asset_id = std::string(zephlar::testing::fake_data::btc_asset_id);
  quote.to_asset.asset_id = std::string(zephlar::testing::fake_data::usdt_asset_id);
  auto confirmed = run_task(client->complete_swap_from_quote(quote));
  ASSERT_TRUE(confirmed) << confirmed.error().to_string();
  EXPECT_EQ(*confirmed, (models::ConfirmSwapResponse{200, "Swap executed"}));

  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 4u);
  auto init = json::from_response_body<models::SwapRequest>(requests[0].body);
  ASSERT_TRUE(init);
  EXPECT_EQ(init->to_asset, zephlar::testing::fake_data::usdt_asset_id);
  auto executed = json::from_response_body<models::ConfirmSwapRequest>(requests[3].body);
  ASSERT_TRUE(executed);
  EXPECT_EQ(executed->taker_pubkey, zephlar::testing::fake_data::service_pubkey);
  auto swap = run_task(
      client->wait_for_swap_completion(executed->payment_hash, std::chrono::seconds(5), std::chrono::milliseconds(1)));
  ASSERT_TRUE(swap) << swap.error().to_string();
  EXPECT_EQ(swap->status, models::SwapStatus::Succeeded);
  EXPECT_EQ(swap->qty_from, 100000);
}

}  // namespace
}  // namespace zephlar::client
