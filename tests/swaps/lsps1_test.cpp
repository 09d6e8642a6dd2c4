// LSPS1: the provider's offer and network, fee estimates and channel orders.
// The exact requests, the decoded answers and the errors.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/client/core_client.hpp"
#include "core/json/json.hpp"
#include "tests/swaps/service_test.hpp"

namespace zephlar::client {
namespace {

using zephlar::testing::answer;
using zephlar::testing::config_for;
using zephlar::testing::error_of;
using zephlar::testing::expect_api_error;
using zephlar::testing::expect_json_error;
using zephlar::testing::expect_request;
using zephlar::testing::expect_requests;
using zephlar::testing::get_request;
using zephlar::testing::make_client;
using zephlar::testing::post_request;
using zephlar::testing::run_task;
using zephlar::testing::ServiceTest;
namespace fake_data = zephlar::testing::fake_data;

constexpr const char* get_info_path = "/api/v1/lsps1/get_info";
constexpr const char* network_info_path = "/api/v1/lsps1/network_info";
constexpr const char* estimate_fees_path = "/api/v1/lsps1/estimate_fees";
constexpr const char* create_order_path = "/api/v1/lsps1/create_order";
constexpr const char* get_order_path = "/api/v1/lsps1/get_order";
constexpr const char* retry_delivery_path = "/api/v1/lsps1/retry_delivery";

using Lsps1Test = ServiceTest;

TEST_F(Lsps1Test, InfoAndNetworkAreGetsWithoutBody) {
  auto info = run_task(client->get_lsp_info());
  ASSERT_TRUE(info) << info.error().to_string();
  EXPECT_EQ(info->lsp_connection_url, std::string(fake_data::service_pubkey) + "@127.0.0.1:9735");
  EXPECT_EQ(info->assets.size(), 2u);
  auto network = run_task(client->get_lsp_network_info());
  ASSERT_TRUE(network) << network.error().to_string();
  EXPECT_EQ(*network, (models::NetworkInfoResponse{models::Network::Regtest, fake_data::block_height}));
  expect_requests(service, {get_request(get_info_path), get_request(network_info_path)});
}

TEST_F(Lsps1Test, InfoWithNoAssetsAndNoLimits) {
  const std::string body = R"({"lsp_connection_url":"pk@host:9735","options":{},"assets":[]})";
  service.script("GET", get_info_path, {answer(200, body), answer(200, R"({"lsp_connection_url":"x","options":{}})")});
  auto info = run_task(client->get_lsp_info());
  ASSERT_TRUE(info) << info.error().to_string();
  auto expected = json::from_response_body<models::GetInfoResponseModel>(body);
  ASSERT_TRUE(expected);
  EXPECT_EQ(*info, *expected);
  EXPECT_TRUE(info->assets.empty());
  expect_json_error(error_of(run_task(client->get_lsp_info())), "missing field `assets`");
}

TEST_F(Lsps1Test, NetworkAnswers) {
  const struct {
    const char* body;
    std::optional<models::NetworkInfoResponse> expected;
  } cases[] = {
      {R"({"network":"Signet","height":200000})", models::NetworkInfoResponse{models::Network::Signet, 200000}},
      {R"({"height":-1,"network":"Mainnet"})", models::NetworkInfoResponse{models::Network::Mainnet, -1}},
      {R"({"network":"signet","height":200000})", std::nullopt},
      {R"({"network":"Bitcoin","height":200000})", std::nullopt},
      {R"({"network":"Signet"})", std::nullopt},
      {R"({"network":"Signet","height":null})", std::nullopt},
  };
  for (const auto& c : cases) {
    service.script("GET", network_info_path, {answer(200, c.body)});
    auto network = run_task(client->get_lsp_network_info());
    if (c.expected) {
      ASSERT_TRUE(network) << c.body << ": " << network.error().to_string();
      EXPECT_EQ(*network, *c.expected);
    } else {
      EXPECT_TRUE(error_of(network).is<CoreError::Json>()) << c.body;
    }
  }
}

TEST_F(Lsps1Test, FeeEstimateSendsAnySize) {
  const struct {
    std::int64_t size;
    const char* body;
  } cases[] = {
      {1000000, R"({"channel_size":1000000})"},
      {0, R"({"channel_size":0})"},
      {-5, R"({"channel_size":-5})"},
      {INT64_MAX, R"({"channel_size":9223372036854775807})"},
      {INT64_MIN, R"({"channel_size":-9223372036854775808})"},
  };
  std::vector<zephlar::testing::ExpectedRequest> expected;
  for (const auto& c : cases) {
    auto fees = run_task(client->estimate_lsp_fees(c.size));
    EXPECT_TRUE(fees) << c.body << ": " << fees.error().to_string();
    expected.push_back(post_request(estimate_fees_path, c.body));
  }
  expect_requests(service, expected);
  EXPECT_EQ(service.requests()[0].body.size(), 24u);
}

TEST_F(Lsps1Test, FeeEstimateAnswers) {
  service.script("POST", estimate_fees_path,
                 {answer(200, R"({"setup_fee":1,"capacity_fee":2,"duration_fee":3,"total_fee":6})"),
                  answer(200, R"({"setup_fee":1,"capacity_fee":2,"duration_fee":3,"total_fee":6,)"
                              R"("applied_discount":0.25,"discount_code":"SPRING"})"),
                  answer(200, R"({"setup_fee":1,"capacity_fee":2,"duration_fee":3})")});
  auto plain = run_task(client->estimate_lsp_fees(1));
  ASSERT_TRUE(plain) << plain.error().to_string();
  EXPECT_EQ(plain->total_fee, 6);
  EXPECT_FALSE(plain->applied_discount.has_value());
  EXPECT_FALSE(plain->discount_code.has_value());
  auto discounted = run_task(client->estimate_lsp_fees(1));
  ASSERT_TRUE(discounted) << discounted.error().to_string();
  EXPECT_EQ(discounted->applied_discount, json::TriState<double>(0.25));
  EXPECT_EQ(discounted->discount_code, json::TriState<std::string>("SPRING"));
  expect_json_error(error_of(run_task(client->estimate_lsp_fees(1))), "missing field `total_fee`");
}

constexpr const char* always_sent =
    R"("client_pubkey":"02ab","lsp_balance_sat":1000000,"client_balance_sat":0,)"
    R"("required_channel_confirmations":1,"funding_confirms_within_blocks":6,"channel_expiry_blocks":4320)";

TEST_F(Lsps1Test, CreateOrderSendsTheMembersInTheirOrder) {
  const struct {
    std::string caller;  // the caller's text
    std::string body;    // the body sent
  } cases[] = {
      {std::string("{") + always_sent + "}", std::string("{") + always_sent + "}"},
      {std::string(R"({"token":null,)") + always_sent + "}", std::string("{") + always_sent + R"(,"token":null})"},
      {std::string(R"({"announce_channel":null,)") + always_sent + "}", std::string("{") + always_sent + "}"},
      {std::string(R"({"announce_channel":false,)") + always_sent + "}",
       std::string("{") + always_sent + R"(,"announce_channel":false})"},
      // Every member, listed backwards by the caller.
      {std::string(R"({"email":"a\"b","rfq_id":null,"client_asset_amount":0,"lsp_asset_amount":-7,"asset_id":"rgb:x",)"
                   R"("announce_channel":true,"refund_onchain_address":"bc1q","token":"t",)"
                   R"("channel_expiry_blocks":4320,"funding_confirms_within_blocks":6,)"
                   R"("required_channel_confirmations":1,"client_balance_sat":0,"lsp_balance_sat":1000000,)"
                   R"("client_pubkey":"02ab"})"),
       std::string("{") + always_sent +
           R"(,"token":"t","refund_onchain_address":"bc1q","announce_channel":true,"asset_id":"rgb:x",)"
           R"("lsp_asset_amount":-7,"client_asset_amount":0,"rfq_id":null,"email":"a\"b"})"},
      // Negative balances go out as they are.
      {R"({"client_pubkey":"","lsp_balance_sat":-1,"client_balance_sat":-5,)"
       R"("required_channel_confirmations":0,"funding_confirms_within_blocks":0,"channel_expiry_blocks":0})",
       R"({"client_pubkey":"","lsp_balance_sat":-1,"client_balance_sat":-5,)"
       R"("required_channel_confirmations":0,"funding_confirms_within_blocks":0,"channel_expiry_blocks":0})"},
  };
  std::vector<zephlar::testing::ExpectedRequest> expected;
  for (const auto& c : cases) {
    auto request = json::from_caller_text<models::CreateOrderRequest>(c.caller);
    ASSERT_TRUE(request) << c.caller;
    auto order = run_task(client->create_order(*request));
    EXPECT_TRUE(order) << c.caller << ": " << order.error().to_string();
    expected.push_back(post_request(create_order_path, c.body));
  }
  expect_requests(service, expected);
}

TEST_F(Lsps1Test, CreatedOrdersReadBackByTheirId) {
  auto request = json::from_caller_text<models::CreateOrderRequest>(std::string("{") + always_sent + "}");
  ASSERT_TRUE(request);
  auto created = run_task(client->create_order(*request));
  ASSERT_TRUE(created) << created.error().to_string();
  auto read = run_task(client->get_lsp_order(created->order_id));
  ASSERT_TRUE(read) << read.error().to_string();
  EXPECT_EQ(*read, *created);
  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 2u);
  expect_request(requests[1], post_request(get_order_path, R"({"order_id":")" + created->order_id + "\"}"));
}

TEST_F(Lsps1Test, OrderIdsGoOutEscapedAndUnchanged) {
  ASSERT_TRUE(run_task(client->get_lsp_order("")));
  ASSERT_TRUE(run_task(client->get_lsp_order("o\"1\\")));
  ASSERT_TRUE(run_task(client->retry_delivery("")));
  ASSERT_TRUE(run_task(client->retry_delivery("o\"1\\")));
  expect_requests(service, {post_request(get_order_path, R"({"order_id":""})"),
                            post_request(get_order_path, R"({"order_id":"o\"1\\"})"),
                            post_request(retry_delivery_path, R"({"order_id":""})"),
                            post_request(retry_delivery_path, R"({"order_id":"o\"1\\"})")});
}

TEST_F(Lsps1Test, RetryDeliveryReturnsAnyJsonValue) {
  const struct {
    const char* body;
    json::JsonValue expected;
  } cases[] = {
      {R"({"b":[1,-2,0.5],"a":"x"})",
       json::JsonValue(json::JsonValue::Object{
           {"a", json::JsonValue("x")},
           {"b", json::JsonValue(json::JsonValue::Array{json::JsonValue(std::uint64_t{1}),
                                                        json::JsonValue(std::int64_t{-2}), json::JsonValue(0.5)})}})},
      {"null", json::JsonValue(nullptr)},
      {" \"done\" ", json::JsonValue("done")},
      {"true", json::JsonValue(true)},
  };
  for (const auto& c : cases) {
    service.script("POST", retry_delivery_path, {answer(200, c.body)});
    auto value = run_task(client->retry_delivery("o1"));
    ASSERT_TRUE(value) << c.body << ": " << value.error().to_string();
    EXPECT_EQ(*value, c.expected) << c.body;
  }
  service.script("POST", retry_delivery_path, {answer(204, ""), answer(200, "{} {}")});
  expect_json_error(error_of(run_task(client->retry_delivery("o1"))), "EOF while parsing a value");
  expect_json_error(error_of(run_task(client->retry_delivery("o1"))), "trailing characters");
}

TEST_F(Lsps1Test, OrderAnswersThatDoNotDecode) {
  service.script("POST", get_order_path, {answer(200, R"({"order_id":"o1"})"), answer(200, "")});
  EXPECT_TRUE(error_of(run_task(client->get_lsp_order("o1"))).is<CoreError::Json>());
  EXPECT_TRUE(error_of(run_task(client->get_lsp_order("o1"))).is<CoreError::Json>());
}

TEST_F(Lsps1Test, BadRequestIsNotRetried) {
  auto retrying = make_client(config_for(service.base_url(), 300, 3));
  ASSERT_TRUE(retrying);
  auto request = json::from_caller_text<models::CreateOrderRequest>(std::string("{") + always_sent + "}");
  ASSERT_TRUE(request);
  service.script("POST", create_order_path, {answer(400, R"({"detail":"no"})")});
  service.script("POST", estimate_fees_path, {answer(400, "too small")});
  expect_api_error(error_of(run_task(retrying->create_order(*request))), 400, R"({"detail":"no"})");
  expect_api_error(error_of(run_task(retrying->estimate_lsp_fees(1))), 400, "too small");
  EXPECT_EQ(service.requests().size(), 2u);
}

}  // namespace
}  // namespace zephlar::client
