// The atomic-swap, swap-order and LSPS1 methods of the wrapper client against
// the fake service: JSON results, the JSON-text arguments and their
// validation errors, the seconds of wait_for_swap_completion, and the bits
// of unsigned arguments passed on unchanged.
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ffi/internal_fault.hpp"
#include "ffi/seconds.hpp"
#include "tests/ffi/wrapper_support.hpp"
#include "tests/support/fake_service_routes.hpp"

namespace zephlar::ffi::testing {
namespace {

// A quote of the fake service as JSON text.
std::string quote_text(const ZephClient& client) {
  auto quote = client.get_quote_by_pair("BTC/USDT", 100000, std::nullopt);
  EXPECT_TRUE(quote) << text_of(quote);
  return quote ? quote.value() : std::string();
}

TEST(WrapperSwapsTest, CompleteSwapFromQuoteRunsTheWholeExchange) {
  FakeService service;
  for (bool with_node : {true, false}) {
    SCOPED_TRACE(with_node ? "with node" : "without node");
    service.clear_requests();
    auto client = make_client(service, with_node);
    ASSERT_TRUE(client);
    const std::string quote = quote_text(*client);
    service.clear_requests();
    const auto done = client->complete_swap_from_quote(quote);
    EXPECT_EQ(text_of(done), R"({"status":200,"message":"Swap executed"})");
    std::vector<std::string> paths;
    for (const auto& request : service.requests()) paths.push_back(request.path());
    std::vector<std::string> expected = {"/api/v1/swaps/init", "/api/v1/swaps/nodeinfo"};
    if (with_node) expected.push_back("/api/v1/swaps/taker");
    expected.push_back("/api/v1/swaps/execute");
    EXPECT_EQ(paths, expected);
  }
}

TEST(WrapperSwapsTest, SwapStepsOneByOne) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);

  const auto info = client->get_node_info();
  EXPECT_EQ(text_of(info), R"({"pubkey":")" + std::string(zephlar::testing::fake_data::service_pubkey) +
                               R"(","network":"regtest","block_height":1200})");

  const auto init = client->init_maker_swap(
      R"({"rfq_id":"rfq-1","from_asset":"BTC","from_amount":100000,"to_asset":"USDT","to_amount":94000000})");
  ASSERT_TRUE(init) << text_of(init);
  EXPECT_EQ(init.value().rfind(R"({"swapstring":")", 0), 0u) << init.value();
  const auto hash_at = init.value().find(R"("payment_hash":")");
  ASSERT_NE(hash_at, std::string::npos);
  const std::string payment_hash = init.value().substr(hash_at + 16, 64);

  const auto waiting = client->get_swap_status(payment_hash);
  ASSERT_TRUE(waiting) << text_of(waiting);
  EXPECT_EQ(waiting.value().rfind(R"({"swap":{)", 0), 0u) << waiting.value();
  EXPECT_NE(waiting.value().find(R"("status":"Waiting")"), std::string::npos) << waiting.value();

  const auto executed = client->execute_maker_swap(R"({"swapstring":"s","taker_pubkey":"02ab","payment_hash":")" +
                                                   payment_hash + R"("})");
  EXPECT_EQ(text_of(executed), R"({"status":200,"message":"Swap executed"})");

  const auto final_swap = client->wait_for_swap_completion(payment_hash, 10.0, 0.0);
  ASSERT_TRUE(final_swap) << text_of(final_swap);
  EXPECT_EQ(final_swap.value().front(), '{');
  EXPECT_NE(final_swap.value().find(R"("status":"Succeeded")"), std::string::npos) << final_swap.value();
}

TEST(WrapperSwapsTest, WaitingWithNoTimeLeftAsksOnceAndTimesOut) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);
  const auto init = client->init_maker_swap(
      R"({"rfq_id":"rfq-2","from_asset":"BTC","from_amount":1000,"to_asset":"USDT","to_amount":940000})");
  ASSERT_TRUE(init) << text_of(init);
  const std::string payment_hash = init.value().substr(init.value().find(R"("payment_hash":")") + 16, 64);
  service.clear_requests();

  const auto waited = client->wait_for_swap_completion(payment_hash, 0.0, 0.0);
  ASSERT_FALSE(waited);
  EXPECT_EQ(waited.error().kind(), ZephError::Kind::TimeoutError);
  EXPECT_EQ(waited.error().display(), "Timeout error");
  EXPECT_EQ(waited.error().debug(), "TimeoutError");
  EXPECT_EQ(requests_to(service, "/api/v1/swaps/atomic/status").size(), 1u);
}

TEST(WrapperSwapsTest, BadSecondsAreAFaultBeforeAnyRequest) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);
  const double nan = std::nan("");
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double timeout_secs;
    double poll_interval_secs;
    std::string_view message;
  };
  const std::vector<Case> cases = {
      {-1.0, 1.0, negative_seconds_message},
      {nan, 1.0, invalid_seconds_message},
      {inf, 1.0, invalid_seconds_message},
      {1e20, 1.0, invalid_seconds_message},
      {1.0, -1.0, negative_seconds_message},
      {1.0, nan, invalid_seconds_message},
      {1.0, -inf, negative_seconds_message},
      // Both bad: the time-out's fault.
      {nan, -1.0, invalid_seconds_message},
      {-1.0, nan, negative_seconds_message},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.timeout_secs) + " " + std::to_string(c.poll_interval_secs));
    try {
      static_cast<void>(client->wait_for_swap_completion("00", c.timeout_secs, c.poll_interval_secs));
      ADD_FAILURE() << "no fault";
    } catch (const InternalFault& fault) {
      EXPECT_EQ(fault.what(), std::string(c.message));
    }
  }
  EXPECT_TRUE(service.requests().empty());
}

TEST(WrapperSwapsTest, SwapOrders) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);

  // An order built from a quote's legs.
  const std::string quote = quote_text(*client);
  const auto legs_from = quote.find(R"("from_asset":)");
  const auto legs_to = quote.find(R"(,"price")");
  ASSERT_NE(legs_from, std::string::npos);
  ASSERT_NE(legs_to, std::string::npos);
  const std::string request = R"({"rfq_id":"rfq-3",)" + quote.substr(legs_from, legs_to - legs_from) +
                              R"(,"receiver_address":{"address":"lnbcrt1","format":"BOLT11"}})";
  const auto created = client->create_swap_order(request);
  ASSERT_TRUE(created) << text_of(created) << "\n" << request;
  EXPECT_EQ(created.value().rfind(R"({"id":")", 0), 0u) << created.value();
  const std::string id = created.value().substr(7, created.value().find('"', 7) - 7);

  const auto status = client->get_swap_order_status(id);
  ASSERT_TRUE(status) << text_of(status);
  EXPECT_NE(status.value().find(id), std::string::npos) << status.value();

  const auto decision = client->swap_order_rate_decision(id, true);
  ASSERT_TRUE(decision) << text_of(decision);
  EXPECT_EQ(decision.value().front(), '{');
  EXPECT_NE(requests_to(service, "/api/v1/swaps/orders/rate_decision").at(0).body.find(R"("accept_new_rate":true)"),
            std::string::npos);

  const auto analytics = client->get_order_analytics();
  ASSERT_TRUE(analytics) << text_of(analytics);
  EXPECT_NE(analytics.value().find(R"("status_counts":{)"), std::string::npos) << analytics.value();
}

TEST(WrapperSwapsTest, OrderHistoryPassesLimitAndSkipBitForBit) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);
  struct Case {
    std::optional<std::string_view> status;
    std::uint32_t limit;
    std::uint32_t skip;
    std::string target;
  };
  const std::vector<Case> cases = {
      {std::nullopt, 10, 0, "/api/v1/swaps/orders/history?limit=10&skip=0"},
      {"FILLED", 2, 1, "/api/v1/swaps/orders/history?limit=2&skip=1&status=FILLED"},
      {std::nullopt, 0x80000000u, 0xFFFFFFFFu, "/api/v1/swaps/orders/history?limit=-2147483648&skip=-1"},
  };
  for (const auto& c : cases) {
    service.clear_requests();
    const auto history = client->get_order_history(c.status, c.limit, c.skip);
    const auto sent = service.requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].target, c.target);
    if (c.limit < 0x80000000u) {
      ASSERT_TRUE(history) << text_of(history);
      EXPECT_EQ(history.value().front(), '{');
    }
  }
}

TEST(WrapperLspTest, ChannelOrders) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);

  const auto info = client->get_lsp_info();
  ASSERT_TRUE(info) << text_of(info);
  EXPECT_EQ(info.value().front(), '{');
  const auto network = client->get_lsp_network_info();
  ASSERT_TRUE(network) << text_of(network);
  EXPECT_EQ(network.value().front(), '{');

  const auto created = client->create_order(
      R"({"client_pubkey":"02abc","lsp_balance_sat":100000,"client_balance_sat":0,)"
      R"("required_channel_confirmations":1,"funding_confirms_within_blocks":6,"channel_expiry_blocks":1000,)"
      R"("announce_channel":null})");
  ASSERT_TRUE(created) << text_of(created);
  EXPECT_EQ(created.value().rfind(R"({"order_id":")", 0), 0u) << created.value();
  const std::string id = created.value().substr(13, created.value().find('"', 13) - 13);
  const auto order = client->get_lsp_order(id);
  ASSERT_TRUE(order) << text_of(order);
  EXPECT_NE(order.value().find(id), std::string::npos);

  const auto fees = client->estimate_lsp_fees(100000);
  ASSERT_TRUE(fees) << text_of(fees);
  EXPECT_EQ(fees.value().front(), '{');
  // 2^64 - 1 goes out as the same bits, signed.
  service.clear_requests();
  static_cast<void>(client->estimate_lsp_fees(0xFFFFFFFFFFFFFFFFull));
  const auto sent = requests_to(service, "/api/v1/lsps1/estimate_fees");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_NE(sent[0].body.find(":-1"), std::string::npos) << sent[0].body;
}

TEST(WrapperLspTest, RetryDeliveryWritesTheAnswerWithSortedKeys) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);
  EXPECT_EQ(text_of(client->retry_delivery("order-1")),
            R"({"asset_delivery_status":"IN_PROGRESS","message":"Asset delivery retry scheduled","order_id":"order-1"})");
  struct Case {
    std::string body;
    std::string written;
  };
  const std::vector<Case> cases = {
      {R"({"b": 1, "a": {"d": 1.50, "c": 1e2}, "e": [3, "x\/y", null, true]})",
       R"({"a":{"c":100.0,"d":1.5},"b":1,"e":[3,"x/y",null,true]})"},
      {"{}", "{}"},
      {" [ ] ", "[]"},
      {R"("caf\u00e9\n")", "\"caf\xC3\xA9\\n\""},
      {"-9223372036854775808", "-9223372036854775808"},
      {"18446744073709551615", "18446744073709551615"},
  };
  for (const auto& c : cases) {
    service.script("POST", "/api/v1/lsps1/retry_delivery", {answer(200, c.body)});
    EXPECT_EQ(text_of(client->retry_delivery("order-1")), c.written) << c.body;
  }
}

// Every method with a JSON-text argument, with a text it reads.
struct JsonMethod {
  const char* name;
  ZephResult<std::string> (ZephClient::*method)(std::string_view) const;
  const char* prefix;
  std::string valid;
};

const std::vector<JsonMethod>& json_methods() {
  static const std::vector<JsonMethod> methods = {
      {"complete_swap_from_quote", &ZephClient::complete_swap_from_quote, "Invalid quote JSON: ",
       R"({"rfq_id":"r","from_asset":{"asset_id":"BTC","name":"Bitcoin","ticker":"BTC","layer":"BTC_LN",)"
       R"("amount":1,"precision":8},"to_asset":{"asset_id":"USDT","name":"Tether","ticker":"USDT",)"
       R"("layer":"BTC_LN","amount":1,"precision":6},"price":1,"fee":{"base_fee":0,"variable_fee":0,)"
       R"("fee_rate":0,"final_fee":0,"fee_asset":"BTC","fee_asset_precision":8},"timestamp":1,"expires_at":2})"},
      {"init_maker_swap", &ZephClient::init_maker_swap, "Invalid request JSON: ",
       R"({"rfq_id":"r","from_asset":"BTC","from_amount":1,"to_asset":"USDT","to_amount":1})"},
      {"execute_maker_swap", &ZephClient::execute_maker_swap, "Invalid request JSON: ",
       R"({"swapstring":"s","taker_pubkey":"02ab","payment_hash":"00"})"},
      {"create_swap_order", &ZephClient::create_swap_order, "Invalid request JSON: ",
       R"({"rfq_id":"r","from_asset":{"asset_id":"BTC","name":"Bitcoin","ticker":"BTC","layer":"BTC_LN",)"
       R"("amount":1,"precision":8},"to_asset":{"asset_id":"USDT","name":"Tether","ticker":"USDT",)"
       R"("layer":"BTC_LN","amount":1,"precision":6},"receiver_address":{"address":"a","format":"BOLT11"}})"},
      {"create_order", &ZephClient::create_order, "Invalid request JSON: ",
       R"({"client_pubkey":"02ab","lsp_balance_sat":1,"client_balance_sat":0,"required_channel_confirmations":1,)"
       R"("funding_confirms_within_blocks":6,"channel_expiry_blocks":1000})"},
      {"connect_peer", &ZephClient::connect_peer, "Invalid request JSON: ",
       R"({"peer_pubkey_and_addr":"02ab@127.0.0.1:9735"})"},
  };
  return methods;
}

// On a client without a node URL: connect_peer reports its text before the
// node gate.
TEST(WrapperJsonArgumentTest, BadTextsFailBeforeAnyRequest) {
  FakeService service;
  auto client = make_client(service, /*with_node=*/false);
  ASSERT_TRUE(client);
  for (const auto& m : json_methods()) {
    struct Text {
      std::string text;
      std::string reader_error;  // the end of the message, position included
    };
    const std::vector<Text> texts = {
        {"", "EOF while parsing a value at line 1 column 0"},
        {"   \n ", "EOF while parsing a value at line 2 column 1"},
        {"not json", "expected ident at line 1 column 2"},
        {m.valid + " x", "trailing characters at line 1 column " + std::to_string(m.valid.size() + 2)},
        {m.valid + "\n{}", "trailing characters at line 2 column 1"},
        {"{}", "missing field `"},
        {"[]", "at line 1 column 2"},
    };
    for (const auto& t : texts) {
      SCOPED_TRACE(std::string(m.name) + " <" + t.text + ">");
      const auto result = (client.get()->*m.method)(t.text);
      ASSERT_FALSE(result);
      EXPECT_EQ(result.error().kind(), ZephError::Kind::ValidationError);
      const std::string& message = result.error().message();
      EXPECT_EQ(message.rfind(m.prefix, 0), 0u) << message;
      EXPECT_NE(message.find(t.reader_error, std::string(m.prefix).size()), std::string::npos) << message;
      EXPECT_EQ(result.error().display(), "Validation error: " + message);
    }
  }
  EXPECT_TRUE(service.requests().empty());
  // A valid text gets as far as the node gate.
  const auto gated = client->connect_peer(R"( {"peer_pubkey_and_addr":"02ab@127.0.0.1:9735"} )");
  ASSERT_FALSE(gated);
  EXPECT_EQ(gated.error().kind(), ZephError::Kind::NodeNotConfigured);
}

// The record read from the text is what goes out.
TEST(WrapperJsonArgumentTest, ValidTextsAreSent) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);
  const auto peer = client->connect_peer(R"({"peer_pubkey_and_addr":"02ab@127.0.0.1:9735","extra":1})");
  EXPECT_EQ(text_of(peer), "{}");
  const auto sent = requests_to(service, "/connectpeer");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].body, R"({"peer_pubkey_and_addr":"02ab@127.0.0.1:9735"})");
  for (const auto& m : json_methods()) {
    if (std::string_view(m.name) == "complete_swap_from_quote" || std::string_view(m.name) == "connect_peer") continue;
    EXPECT_TRUE((client.get()->*m.method)(m.valid)) << m.name;
  }
}

}  // namespace
}  // namespace zephlar::ffi::testing
