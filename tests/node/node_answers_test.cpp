// How the node operations read the node's answers: records with their
// defaults, lists taken out of their answer record, untyped JSON values,
// and the failures of answers of the wrong shape, of error statuses and of
// repeated tries.
#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/client/core_client.hpp"
#include "tests/node/node_test_support.hpp"
#include "tests/support/fake_service.hpp"

namespace zephlar::testing {
namespace {

ScriptedAnswer answer(int status, std::string body) {
  ScriptedAnswer a;
  a.status = status;
  a.body = std::move(body);
  return a;
}

class NodeAnswerTest : public NodeTest {
 protected:
  std::shared_ptr<client::CoreClient> client_for(std::uint32_t max_retries) {
    return node_client_for("http://127.0.0.1:1", node_.base_url(), max_retries);
  }

  FakeService node_;
};

// One 200 answer and what the operation makes of it: "ok" and the result
// written as compact JSON, or "error" and the error's text.
struct AnswerCase {
  std::string_view operation;
  std::string body;
  std::string outcome;
};

void run_answer_cases(FakeService& node, const std::shared_ptr<client::CoreClient>& client,
                      const std::vector<AnswerCase>& cases) {
  ASSERT_NE(client, nullptr);
  for (const AnswerCase& c : cases) {
    const NodeOperation& op = node_operation(c.operation);
    SCOPED_TRACE(std::string(c.operation) + " on " + c.body);
    node.clear_requests();
    node.script(std::string(op.method), std::string(op.path), {answer(200, c.body)});
    const NodeOutcome outcome = op.call(client);
    EXPECT_EQ(outcome_text(outcome), c.outcome);
    // A decoding failure is never tried again.
    EXPECT_EQ(node.requests().size(), 1u);
  }
}

TEST_F(NodeAnswerTest, StatusRecordsAndLists) {
  const std::string nine = "9223372036854775807";
  run_answer_cases(
      node_, client_for(3),
      {
          // RgbNodeInfo: every member defaults; present ones must have their type.
          {"get_rgb_node_info", "{}",
           R"(ok {"pubkey":"","network":"","block_height":0,"num_channels":0,"num_peers":0})"},
          {"get_rgb_node_info",
           R"({"pubkey":"p","network":"Testnet","block_height":7,"num_channels":1,"num_peers":3,"x":[1]})",
           R"(ok {"pubkey":"p","network":"Testnet","block_height":7,"num_channels":1,"num_peers":3})"},
          {"get_rgb_node_info", R"({"num_peers":-2,"block_height":)" + nine + "}",
           R"(ok {"pubkey":"","network":"","block_height":)" + nine + R"(,"num_channels":0,"num_peers":-2})"},
          {"get_rgb_node_info", R"({"block_height":"12"})",
           R"(error JSON error: invalid type: string "12", expected i64 at line 1 column 20)"},
          {"get_rgb_node_info", R"({"pubkey":null})",
           "error JSON error: invalid type: null, expected a string at line 1 column 14"},
          {"get_rgb_node_info", R"(["p","n",1])",
           R"(ok {"pubkey":"p","network":"n","block_height":1,"num_channels":0,"num_peers":0})"},
          {"get_rgb_node_info", "[]",
           R"(ok {"pubkey":"","network":"","block_height":0,"num_channels":0,"num_peers":0})"},
          {"get_rgb_node_info", "{} {}", "error JSON error: trailing characters at line 1 column 4"},
          {"get_rgb_node_info", R"({"pubkey":"a","pubkey":"b"})",
           "error JSON error: duplicate field `pubkey` at line 1 column 22"},

          // Peers.
          {"list_peers", R"({"peers":[]})", "ok []"},
          {"list_peers", R"({"peers":[{"pubkey":"p"}]})", R"(ok [{"pubkey":"p","address":null,"connected":false}])"},
          {"list_peers", R"({"peers":[{"pubkey":"p","address":null,"connected":true,"extra":{}}]})",
           R"(ok [{"pubkey":"p","address":null,"connected":true}])"},
          {"list_peers", R"({"total":2,"peers":[{"pubkey":"b","address":"h:1"},{"pubkey":"a"}]})",
           R"(ok [{"pubkey":"b","address":"h:1","connected":false},{"pubkey":"a","address":null,"connected":false}])"},
          {"list_peers", R"({"peers":[{"address":"a"}]})",
           "error JSON error: missing field `pubkey` at line 1 column 25"},
          {"list_peers", R"({"peers":[{"pubkey":"p"},{"pubkey":1}]})",
           "error JSON error: invalid type: integer `1`, expected a string at line 1 column 36"},
          {"list_peers", "{}", "error JSON error: missing field `peers` at line 1 column 2"},
          {"list_peers", R"({"peers":[]} x)", "error JSON error: trailing characters at line 1 column 14"},
          {"list_peers", R"({"peers":null})",
           "error JSON error: invalid type: null, expected a sequence at line 1 column 13"},
          {"list_peers", R"({"peers":{}})",
           "error JSON error: invalid type: map, expected a sequence at line 1 column 9"},
          {"list_peers", "[]",
           "error JSON error: invalid length 0, expected struct Response with 1 element at line 1 column 2"},

          // Channels.
          {"list_channels", R"({"channels":[]})", "ok []"},
          {"list_channels", R"({"channels":[{"channel_id":"c","asset_id":"rgb:x","capacity":5}],"more":true})",
           R"(ok [{"channel_id":"c","peer_pubkey":"","capacity":5,"local_balance":0,"remote_balance":0,"is_active":false,"is_public":false}])"},
          {"list_channels", R"({"channels":[{"peer_pubkey":"p"}]})",
           "error JSON error: missing field `channel_id` at line 1 column 32"},
          {"list_channels", R"({"channels":[{"channel_id":"c","is_active":1}]})",
           "error JSON error: invalid type: integer `1`, expected a boolean at line 1 column 44"},
          {"list_channels", "{}", "error JSON error: missing field `channels` at line 1 column 2"},

          // Payments.
          {"list_payments", R"({"payments":[]})", "ok []"},
          {"list_payments", R"({"payments":[{"payment_hash":"h","amount_msat":-1,"preimage":"x"}]})",
           R"(ok [{"payment_hash":"h","status":"","amount_msat":-1,"direction":"","created_at":0}])"},
          {"list_payments", R"({"payments":[{"status":"Pending"}]})",
           "error JSON error: missing field `payment_hash` at line 1 column 33"},
          {"list_payments", R"({"payments":null})",
           "error JSON error: invalid type: null, expected a sequence at line 1 column 16"},
      });
}

TEST_F(NodeAnswerTest, FundsRecordsAndLists) {
  run_answer_cases(
      node_, client_for(3),
      {
          // BtcBalance: members default to 0; numbers must be whole and in range.
          {"get_btc_balance", "{}", R"(ok {"confirmed":0,"unconfirmed":0,"total":0})"},
          {"get_btc_balance", R"({"confirmed":1000,"unconfirmed":20,"total":1020})",
           R"(ok {"confirmed":1000,"unconfirmed":20,"total":1020})"},
          // total is taken as sent, not computed.
          {"get_btc_balance", R"({"total":5,"confirmed":-5})", R"(ok {"confirmed":-5,"unconfirmed":0,"total":5})"},
          {"get_btc_balance", R"({"confirmed":1.5})",
           "error JSON error: invalid type: floating point `1.5`, expected i64 at line 1 column 16"},
          {"get_btc_balance", R"({"confirmed":1e2})",
           "error JSON error: invalid type: floating point `100.0`, expected i64 at line 1 column 16"},
          {"get_btc_balance", R"({"total":"10"})",
           R"(error JSON error: invalid type: string "10", expected i64 at line 1 column 13)"},
          {"get_btc_balance", R"({"confirmed":null})",
           "error JSON error: invalid type: null, expected i64 at line 1 column 17"},
          {"get_btc_balance", R"({"confirmed":9223372036854775808})",
           "error JSON error: invalid value: integer `9223372036854775808`, expected i64 at line 1 column 32"},
          {"get_btc_balance", "[7]", R"(ok {"confirmed":7,"unconfirmed":0,"total":0})"},
          {"get_btc_balance", "[1,2,3,4]", "error JSON error: trailing characters at line 1 column 8"},
          // An unknown member is skipped however deeply it nests.
          {"get_btc_balance", R"({"x":)" + std::string(300, '[') + std::string(300, ']') + R"(,"total":3})",
           R"(ok {"confirmed":0,"unconfirmed":0,"total":3})"},
          {"get_btc_balance", R"({"total":1,"total":2})",
           "error JSON error: duplicate field `total` at line 1 column 18"},
          {"get_btc_balance", "7",
           "error JSON error: invalid type: integer `7`, expected struct BtcBalance at line 1 column 1"},

          // RgbAssetBalance, read the same way.
          {"get_asset_balance", R"({"settled":5})", R"(ok {"settled":5,"future":0,"spendable":0})"},
          {"get_asset_balance", R"({"settled":1,"future":2,"spendable":3,"offchain_outbound":4})",
           R"(ok {"settled":1,"future":2,"spendable":3})"},
          {"get_asset_balance", R"({"spendable":-0.0})",
           "error JSON error: invalid type: floating point `-0.0`, expected i64 at line 1 column 17"},

          // Node assets.
          {"list_node_assets", R"({"assets":[]})", "ok []"},
          {"list_node_assets", R"({"assets":[{"asset_id":"a"}]})",
           R"(ok [{"asset_id":"a","ticker":"","name":"","precision":0,"balance":{"settled":0,"future":0,"spendable":0}}])"},
          {"list_node_assets",
           R"({"assets":[{"asset_id":"b","precision":255,"balance":{"future":3}},{"asset_id":"a","ticker":"T","name":"N","issued_supply":9}]})",
           R"(ok [{"asset_id":"b","ticker":"","name":"","precision":255,"balance":{"settled":0,"future":3,"spendable":0}},)"
           R"({"asset_id":"a","ticker":"T","name":"N","precision":0,"balance":{"settled":0,"future":0,"spendable":0}}])"},
          {"list_node_assets", R"({"assets":[{"asset_id":"a","precision":256}]})",
           "error JSON error: invalid value: integer `256`, expected u8 at line 1 column 42"},
          {"list_node_assets", R"({"assets":[{"asset_id":"a","precision":-1}]})",
           "error JSON error: invalid value: integer `-1`, expected u8 at line 1 column 41"},
          {"list_node_assets", R"({"assets":[{"asset_id":"a","precision":2.5}]})",
           "error JSON error: invalid type: floating point `2.5`, expected u8 at line 1 column 42"},
          {"list_node_assets", R"({"assets":[{"asset_id":"a","ticker":null}]})",
           "error JSON error: invalid type: null, expected a string at line 1 column 40"},
          {"list_node_assets", R"({"assets":[{"ticker":"T"}]})",
           "error JSON error: missing field `asset_id` at line 1 column 25"},
          {"list_node_assets", "{}", "error JSON error: missing field `assets` at line 1 column 2"},

          // On-chain address.
          {"get_onchain_address", R"({"address":"A","kind":1})", R"(ok {"address":"A"})"},
          {"get_onchain_address", R"({"address":"not an address at all"})",
           R"(ok {"address":"not an address at all"})"},
          {"get_onchain_address", "{}", "error JSON error: missing field `address` at line 1 column 2"},
          {"get_onchain_address", R"({"address":null})",
           "error JSON error: invalid type: null, expected a string at line 1 column 15"},
      });
}

TEST_F(NodeAnswerTest, AnyJsonValueIsASuccess) {
  // Every operation whose answer has no record hands on whatever JSON the
  // node sends, objects with their members in ascending order of name.
  const std::string deep = std::string(127, '[') + std::string(127, ']');
  for (const std::string_view name :
       {"connect_peer", "init_wallet", "unlock_wallet", "lock_wallet", "decode_ln_invoice", "whitelist_trade"}) {
    run_answer_cases(
        node_, client_for(3),
        {
            {name, "null", "ok null"},
            {name, "false", "ok false"},
            {name, " 42 ", "ok 42"},
            {name, "-1.50", "ok -1.5"},
            {name, R"("done")", R"(ok "done")"},
            {name, R"([1,{"b":2,"a":1}])", R"(ok [1,{"a":1,"b":2}])"},
            {name, R"({"z":{"y":1,"x":[]},"a":null,"a":true})", R"(ok {"a":true,"z":{"x":[],"y":1}})"},
            // A failure reported inside a 2xx answer is the node's business.
            {name, R"({"error":"wrong password","code":401})", R"(ok {"code":401,"error":"wrong password"})"},
            {name, deep, "ok " + deep},
            {name, "[" + deep + "]", "error JSON error: recursion limit exceeded at line 1 column 128"},
            {name, "[]]", "error JSON error: trailing characters at line 1 column 3"},
        });
  }
}

// Answers that decode as nothing, whatever the operation's answer kind.
TEST_F(NodeAnswerTest, UndecodableAnswersFailAfterOneTry) {
  auto client = client_for(3);
  ASSERT_NE(client, nullptr);
  struct Case {
    int status;
    std::string body;
    std::string error;
  };
  const Case cases[] = {
      {200, "", "JSON error: EOF while parsing a value at line 1 column 0"},
      {200, " \r\n\t", "JSON error: EOF while parsing a value at line 2 column 1"},
      {204, "", "JSON error: EOF while parsing a value at line 1 column 0"},
      {201, "ok", "JSON error: expected value at line 1 column 1"},
      {200, "Internal error", "JSON error: expected value at line 1 column 1"},
      {200, "\n<html>", "JSON error: expected value at line 2 column 1"},
  };
  for (const NodeOperation& op : node_operations()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(op.name) + " on " + std::to_string(c.status) + " " + c.body);
      node_.clear_requests();
      node_.script(std::string(op.method), std::string(op.path), {answer(c.status, c.body)});
      const NodeOutcome outcome = op.call(client);
      ASSERT_FALSE(outcome) << outcome_text(outcome);
      EXPECT_TRUE(outcome.error().is<CoreError::Json>());
      EXPECT_EQ(outcome.error().to_string(), c.error);
      EXPECT_EQ(node_.requests().size(), 1u);
    }
  }
}

// Status answers outside 2xx: which are tried again, and what the caller
// receives in the end.
struct StatusCase {
  std::string_view label;
  std::string_view operation;
  std::vector<ScriptedAnswer> answers;
  std::size_t tries;
  std::string outcome;                 // as outcome_text writes it
  std::optional<std::string> details;  // of the final Api error
};

TEST_F(NodeAnswerTest, ErrorStatusesAndRetries) {
  const std::vector<StatusCase> cases = {
      {"404 is final",
       "get_rgb_node_info",
       {answer(404, "no such path")},
       1,
       "error API error (404): Not Found",
       "no such path"},
      {"400 is final",
       "unlock_wallet",
       {answer(400, R"({"error":"wrong password","code":400})")},
       1,
       "error API error (400): Bad Request",
       R"({"error":"wrong password","code":400})"},
      {"401 is final", "lock_wallet", {answer(401, "")}, 1, "error API error (401): Unauthorized", ""},
      {"403 is final", "list_node_assets", {answer(403, "locked")}, 1, "error API error (403): Forbidden", "locked"},
      {"invalid UTF-8 in details is replaced",
       "list_payments",
       {answer(409,
               "a\xff"
               "b")},
       1,
       "error API error (409): Conflict",
       "a\xef\xbf\xbd"
       "b"},
      {"503 every time",
       "unlock_wallet",
       {answer(503, "busy"), answer(503, "busy"), answer(503, "still busy")},
       3,
       "error API error (503): Service Unavailable",
       "still busy"},
      {"429 every time",
       "list_peers",
       {answer(429, "slow"), answer(429, "slow"), answer(429, "slow")},
       3,
       "error API error (429): Too Many Requests",
       "slow"},
      {"status without a phrase",
       "get_btc_balance",
       {answer(599, "x"), answer(599, "x"), answer(599, "y")},
       3,
       "error API error (599): Unknown error",
       "y"},
      {"500 then success",
       "init_wallet",
       {answer(500, "oops"), answer(200, R"({"mnemonic":"w"})")},
       2,
       R"(ok {"mnemonic":"w"})",
       std::nullopt},
      {"retryable then final",
       "whitelist_trade",
       {answer(502, "gw"), answer(400, "bad swap")},
       2,
       "error API error (400): Bad Request",
       "bad swap"},
      {"retryable then undecodable",
       "get_onchain_address",
       {answer(500, ""), answer(200, "{}")},
       2,
       "error JSON error: missing field `address` at line 1 column 2",
       std::nullopt},
  };
  for (const StatusCase& c : cases) {
    SCOPED_TRACE(c.label);
    const NodeOperation& op = node_operation(c.operation);
    node_.reset();
    node_.script(std::string(op.method), std::string(op.path), c.answers);
    const RetryWaits waits;
    auto client = client_for(2);
    ASSERT_NE(client, nullptr);

    const NodeOutcome outcome = op.call(client);
    EXPECT_EQ(outcome_text(outcome), c.outcome);
    if (c.details) {
      ASSERT_FALSE(outcome);
      const auto* api = outcome.error().get_if<CoreError::Api>();
      ASSERT_NE(api, nullptr);
      EXPECT_EQ(api->details, c.details);
    }

    const auto requests = node_.requests();
    ASSERT_EQ(requests.size(), c.tries);
    EXPECT_EQ(waits.waits().size(), c.tries - 1);
    // Every try is the same request, body included.
    for (const RecordedRequest& r : requests) {
      EXPECT_EQ(r.method, op.method);
      EXPECT_EQ(r.target, op.path);
      EXPECT_EQ(r.body, op.body);
    }
  }
}

TEST_F(NodeAnswerTest, RetryWaitsGrowFromTheInitialDelay) {
  const RetryWaits waits;
  auto client = client_for(3);
  ASSERT_NE(client, nullptr);
  node_.script("POST", "/unlock", {answer(503, ""), answer(503, ""), answer(503, ""), answer(503, "")});
  const NodeOutcome outcome = node_operation("unlock_wallet").call(client);
  EXPECT_EQ(outcome_text(outcome), "error API error (503): Service Unavailable");
  EXPECT_EQ(node_.requests().size(), 4u);

  // 100, 200 and 400 ms, each with up to a quarter more of jitter.
  const auto seen = waits.waits();
  ASSERT_EQ(seen.size(), 3u);
  const std::chrono::milliseconds base[] = {100ms, 200ms, 400ms};
  for (std::size_t i = 0; i < seen.size(); ++i) {
    EXPECT_GE(seen[i], base[i]) << i;
    EXPECT_LT(seen[i], base[i] + base[i] / 4) << i;
  }
}

TEST_F(NodeAnswerTest, ConcurrentOperationsOnOneClientAreIndependent) {
  auto client = client_for(0);
  ASSERT_NE(client, nullptr);
  asio::io_context context;
  std::vector<std::optional<NodeOutcome>> outcomes(node_operations().size());
  // Every operation, started together on one thread.
  for (std::size_t i = 0; i < node_operations().size(); ++i) {
    asio::co_spawn(
        context,
        [&outcomes, i, task = node_operations()[i].start(client)]() mutable -> asio::awaitable<void> {
          outcomes[i].emplace(co_await std::move(task));
        },
        [](std::exception_ptr e) {
          if (e) std::rethrow_exception(e);
        });
  }
  context.run();

  // Each outcome is what the operation gives when it runs alone.
  FakeService alone;
  auto reference = node_client_for("http://127.0.0.1:1", alone.base_url());
  ASSERT_NE(reference, nullptr);
  for (std::size_t i = 0; i < node_operations().size(); ++i) {
    const NodeOperation& op = node_operations()[i];
    SCOPED_TRACE(op.name);
    ASSERT_TRUE(outcomes[i].has_value());
    ASSERT_TRUE(*outcomes[i]) << outcome_text(*outcomes[i]);
    if (op.name == "decode_ln_invoice") continue;  // its answer holds the time
    EXPECT_EQ(outcome_text(*outcomes[i]), outcome_text(op.call(reference)));
  }
  EXPECT_EQ(node_.requests().size(), node_operations().size());
}

// The client may go before its operations end: each task keeps what it
// needs.
TEST_F(NodeAnswerTest, OperationsOutliveTheCallersClient) {
  auto client = client_for(0);
  ASSERT_NE(client, nullptr);
  auto task = client->get_btc_balance();
  auto peers = client->list_peers();
  client.reset();
  const auto balance = run(std::move(task));
  ASSERT_TRUE(balance) << balance.error().to_string();
  EXPECT_EQ(balance->total, 1'525'000);
  const auto listed = run(std::move(peers));
  ASSERT_TRUE(listed) << listed.error().to_string();
  EXPECT_EQ(listed->size(), 2u);
}

}  // namespace
}  // namespace zephlar::testing
