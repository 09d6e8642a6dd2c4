// Swap orders: creation and rate decision, status, history and analytics.
// The exact requests, the decoded answers and the errors.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/api/orders/orders_api.hpp"
#include "core/client/core_client.hpp"
#include "core/json/json.hpp"
#include "tests/swaps/service_test.hpp"

namespace zephlar::client {
namespace {

using models::SwapOrderStatus;
using zephlar::testing::answer;
using zephlar::testing::config_for;
using zephlar::testing::error_of;
using zephlar::testing::expect_api_error;
using zephlar::testing::expect_json_error;
using zephlar::testing::expect_requests;
using zephlar::testing::get_request;
using zephlar::testing::make_client;
using zephlar::testing::post_request;
using zephlar::testing::run_task;
using zephlar::testing::ServiceTest;

constexpr const char* orders_path = "/api/v1/swaps/orders";
constexpr const char* rate_decision_path = "/api/v1/swaps/orders/rate_decision";
constexpr const char* status_path = "/api/v1/swaps/orders/status";
constexpr const char* history_path = "/api/v1/swaps/orders/history";
constexpr const char* analytics_path = "/api/v1/swaps/orders/analytics";

constexpr const char* required_members =
    R"("rfq_id":"r1",)"
    R"("from_asset":{"asset_id":"BTC","name":"Bitcoin","ticker":"BTC","layer":"BTC_LN","amount":100000,"precision":8},)"
    R"("to_asset":{"asset_id":"rgb:u","name":"Tether","ticker":"USDT","layer":"RGB_LN","amount":9500,"precision":6},)"
    R"("receiver_address":{"address":"bc1qxyz","format":"BTC_ADDRESS"})";

// The request as a caller's text gives it: `extra` members first, then the
// required ones.
models::CreateSwapOrderRequest order_request(const std::string& extra) {
  const std::string text = "{" + (extra.empty() ? "" : extra + ",") + required_members + "}";
  auto request = json::from_caller_text<models::CreateSwapOrderRequest>(text);
  EXPECT_TRUE(request) << text;
  return request ? *request : models::CreateSwapOrderRequest{};
}

using SwapOrdersTest = ServiceTest;

TEST_F(SwapOrdersTest, CreationSendsTheOptionalMembersAsTheCallerGaveThem) {
  const struct {
    const char* caller;    // optional members in the caller's text
    const char* appended;  // what follows the four required members in the body
  } cases[] = {
      {"", ""},
      {R"("refund_address":null)", R"(,"refund_address":null)"},
      {R"("refund_address":"bc1qrefund")", R"(,"refund_address":"bc1qrefund")"},
      {R"("min_onchain_conf":0)", R"(,"min_onchain_conf":0)"},
      {R"("min_onchain_conf":-3,"email":"a\"b@x")", R"(,"min_onchain_conf":-3,"email":"a\"b@x")"},
      {R"("email":null,"refund_address":"r","min_onchain_conf":null)",
       R"(,"min_onchain_conf":null,"refund_address":"r","email":null)"},
  };
  std::vector<zephlar::testing::ExpectedRequest> expected;
  for (const auto& c : cases) {
    auto created = run_task(client->create_swap_order(order_request(c.caller)));
    EXPECT_TRUE(created) << c.caller << ": " << created.error().to_string();
    expected.push_back(post_request(orders_path, std::string("{") + required_members + c.appended + "}"));
  }
  expect_requests(service, expected);
}

TEST_F(SwapOrdersTest, CreationAnswers) {
  using Check = std::function<void(const models::CreateSwapOrderResponse&)>;
  const struct {
    const char* body;
    Check check;        // for an answer that decodes
    const char* fault;  // otherwise: what the Json error names
  } cases[] = {
      {R"({"id":"o1","rfq_id":"other","status":"OPEN"})",
       [](const models::CreateSwapOrderResponse& r) {
         EXPECT_EQ(r.id, "o1");
         EXPECT_EQ(r.rfq_id, "other");  // not compared with the request's
         EXPECT_FALSE(r.deposit_address.has_value());
         EXPECT_EQ(r.status, SwapOrderStatus::OPEN);
       },
       nullptr},
      {R"({"id":"o1","rfq_id":"r1","deposit_address":null,"status":"PENDING_RATE_DECISION"})",
       [](const models::CreateSwapOrderResponse& r) {
         EXPECT_FALSE(r.deposit_address.has_value());
         EXPECT_EQ(r.status, SwapOrderStatus::PENDING_RATE_DECISION);
       },
       nullptr},
      {R"({"id":"o1","rfq_id":"r1","deposit_address":{"address":"lnbc1","format":"BOLT11"},"status":"PAID"})",
       [](const models::CreateSwapOrderResponse& r) {
         ASSERT_TRUE(r.deposit_address.has_value());
         EXPECT_EQ(r.deposit_address.value(), (models::ReceiverAddress{"lnbc1", models::AddressFormat::BOLT11}));
       },
       nullptr},
      {R"({"id":"o1","rfq_id":"r1"})", nullptr, "missing field `status`"},
      {R"({"id":"o1","rfq_id":"r1","status":"open"})", nullptr, "unknown variant `open`"},
      {R"({"id":"o1","rfq_id":"r1","status":null})", nullptr, "at line 1"},
      {R"({"id":"o1","rfq_id":"r1","status":"OPEN"}{})", nullptr, "trailing characters"},
  };
  // Tries to spare: an answer that does not decode is still not sent again.
  auto retrying = make_client(config_for(service.base_url(), 300, 2));
  ASSERT_TRUE(retrying);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    service.clear_requests();
    service.script("POST", orders_path, {answer(201, c.body)});
    auto created = run_task(retrying->create_swap_order(order_request("")));
    if (c.check) {
      ASSERT_TRUE(created) << created.error().to_string();
      c.check(*created);
    } else {
      expect_json_error(error_of(created), c.fault);
    }
    EXPECT_EQ(service.requests().size(), 1u);
  }
}

TEST_F(SwapOrdersTest, CreationAgainstTheServicesOwnAnswer) {
  auto created = run_task(client->create_swap_order(order_request(R"("email":"me@example.org")")));
  ASSERT_TRUE(created) << created.error().to_string();
  EXPECT_FALSE(created->id.empty());
  EXPECT_EQ(created->rfq_id, "r1");
  EXPECT_EQ(created->status, SwapOrderStatus::PENDING_PAYMENT);
  // The service keeps it: its status reads back under the same id.
  auto status = run_task(client->get_swap_order_status(created->id));
  ASSERT_TRUE(status) << status.error().to_string();
  EXPECT_EQ(status->order_id, created->id);
  EXPECT_EQ(status->order.rfq_id, "r1");
}

TEST_F(SwapOrdersTest, RateDecisionSendsTheIdAndTheFlag) {
  ASSERT_TRUE(run_task(client->swap_order_rate_decision("", false)));
  ASSERT_TRUE(run_task(client->swap_order_rate_decision("o\"1\\ x", true)));
  expect_requests(service, {post_request(rate_decision_path, R"({"order_id":"","accept_new_rate":false})"),
                            post_request(rate_decision_path, R"({"order_id":"o\"1\\ x","accept_new_rate":true})")});
}

TEST_F(SwapOrdersTest, RateDecisionAnswers) {
  service.script("POST", rate_decision_path,
                 {answer(200, R"({"order_id":"zz","decision_accepted":false,"message":"too late"})"),
                  answer(200, R"({"order_id":"o1","decision_accepted":true,"message":"","refund_txid":null})"),
                  answer(200, R"({"order_id":"o1","decision_accepted":false,"message":"m","refund_txid":"tx"})"),
                  answer(200, R"({"order_id":"o1","message":"m"})")});
  // A refusal is an answer like any other, whatever was asked.
  auto refused = run_task(client->swap_order_rate_decision("o1", true));
  ASSERT_TRUE(refused) << refused.error().to_string();
  EXPECT_EQ(refused->order_id, "zz");
  EXPECT_FALSE(refused->decision_accepted);
  EXPECT_EQ(refused->message, "too late");
  EXPECT_TRUE(refused->refund_txid.is_absent());

  auto null_txid = run_task(client->swap_order_rate_decision("o1", true));
  ASSERT_TRUE(null_txid) << null_txid.error().to_string();
  EXPECT_TRUE(null_txid->refund_txid.is_null());

  auto txid = run_task(client->swap_order_rate_decision("o1", false));
  ASSERT_TRUE(txid) << txid.error().to_string();
  EXPECT_EQ(txid->refund_txid, json::TriState<std::string>("tx"));

  expect_json_error(error_of(run_task(client->swap_order_rate_decision("o1", false))),
                    "missing field `decision_accepted`");
}

TEST_F(SwapOrdersTest, StatusQuerySendsTheIdInTheBody) {
  // An id never created reads as a filled order on the fake service.
  auto status = run_task(client->get_swap_order_status(""));
  ASSERT_TRUE(status) << status.error().to_string();
  EXPECT_EQ(status->order_id, "");
  EXPECT_EQ(status->status, SwapOrderStatus::FILLED);
  ASSERT_TRUE(run_task(client->get_swap_order_status("a\"b\\c")));
  expect_requests(service, {post_request(status_path, R"({"order_id":""})"),
                            post_request(status_path, R"({"order_id":"a\"b\\c"})")});

  service.script("POST", status_path,
                 {answer(200, R"({"order_id":"o","status":"DONE","order":{}})"),
                  answer(200, R"({"order_id":"o","status":"FILLED"})")});
  expect_json_error(error_of(run_task(client->get_swap_order_status("o"))), "unknown variant `DONE`");
  expect_json_error(error_of(run_task(client->get_swap_order_status("o"))), "missing field `order`");
}

constexpr const char* history_json =
    R"({"data":[{"id":"o1","status":"FILLED","from_asset":"BTC","from_amount":1,"to_asset":"USDT",)"
    R"("to_amount":2,"created_at":3,"filled_at":4}],"pagination":{"total":1,"limit":10,"skip":0,)"
    R"("current_page":1,"total_pages":1,"has_next":false,"has_previous":false}})";

TEST_F(SwapOrdersTest, HistoryQueryIsPlainTextLimitSkipThenStatus) {
  const struct {
    std::optional<std::string> status;
    std::int32_t limit;
    std::int32_t skip;
    const char* target;
  } cases[] = {
      {std::nullopt, 10, 0, "/api/v1/swaps/orders/history?limit=10&skip=0"},
      {"FILLED", 25, 50, "/api/v1/swaps/orders/history?limit=25&skip=50&status=FILLED"},
      {"", 10, 0, "/api/v1/swaps/orders/history?limit=10&skip=0&status="},
      {std::nullopt, -1, INT32_MIN, "/api/v1/swaps/orders/history?limit=-1&skip=-2147483648"},
      {"filled", INT32_MAX, 0, "/api/v1/swaps/orders/history?limit=2147483647&skip=0&status=filled"},
      {"PAID&skip=5", 10, 0, "/api/v1/swaps/orders/history?limit=10&skip=0&status=PAID&skip=5"},
      {"a=b", 0, 7, "/api/v1/swaps/orders/history?limit=0&skip=7&status=a=b"},
  };
  auto expected = json::from_response_body<models::OrderHistoryResponse>(history_json);
  ASSERT_TRUE(expected);
  std::vector<zephlar::testing::ExpectedRequest> requests;
  for (const auto& c : cases) {
    service.script("GET", history_path, {answer(200, history_json)});
    auto history = run_task(client->get_order_history(c.status, c.limit, c.skip));
    ASSERT_TRUE(history) << c.target << ": " << history.error().to_string();
    EXPECT_EQ(*history, *expected);
    requests.push_back(get_request(c.target));
  }
  expect_requests(service, requests);
}

TEST(OrderHistoryPathTest, TheStatusIsInsertedByteForByte) {
  using api::OrdersApi;
  EXPECT_EQ(OrdersApi::order_history_path(" a#b c", 1, 2), "/api/v1/swaps/orders/history?limit=1&skip=2&status= a#b c");
  EXPECT_EQ(OrdersApi::order_history_path("\xc3\xa9%20", 0, 0),
            "/api/v1/swaps/orders/history?limit=0&skip=0&status=\xc3\xa9%20");
  EXPECT_EQ(OrdersApi::order_history_path(std::nullopt, INT32_MIN, INT32_MAX),
            "/api/v1/swaps/orders/history?limit=-2147483648&skip=2147483647");
}

TEST_F(SwapOrdersTest, HistoryAndAnalyticsAnswers) {
  // The service's own answers.
  auto page = run_task(client->get_order_history(std::nullopt, 2, 1));
  ASSERT_TRUE(page) << page.error().to_string();
  EXPECT_EQ(page->data.size(), 2u);
  EXPECT_EQ(page->pagination.total, 5);
  EXPECT_EQ(page->pagination.skip, 1);
  auto stats = run_task(client->get_order_analytics());
  ASSERT_TRUE(stats) << stats.error().to_string();
  std::int64_t counted = 0;
  for (const auto& [status, n] : stats->status_counts) counted += n;
  EXPECT_EQ(counted, 5);
  expect_requests(service, {get_request("/api/v1/swaps/orders/history?limit=2&skip=1"), get_request(analytics_path)});

  service.script("GET", history_path,
                 {answer(200, R"({"data":[],"pagination":{"total":0,"limit":10,"skip":0,"current_page":1,)"
                              R"("total_pages":0,"has_next":false,"has_previous":false}})"),
                  answer(200, R"({"data":[]})")});
  auto empty = run_task(client->get_order_history(std::nullopt, 10, 0));
  ASSERT_TRUE(empty) << empty.error().to_string();
  EXPECT_TRUE(empty->data.empty());
  expect_json_error(error_of(run_task(client->get_order_history(std::nullopt, 10, 0))), "missing field `pagination`");

  service.script(
      "GET", analytics_path,
      {answer(200, R"({"status_counts":{},"filled_orders_volume":0,"filled_orders_count":0})"),
       answer(200, R"({"status_counts":{"weird status":-1},"filled_orders_volume":9,"filled_orders_count":1})"),
       answer(200, R"({"filled_orders_volume":0,"filled_orders_count":0})")});
  auto none = run_task(client->get_order_analytics());
  ASSERT_TRUE(none) << none.error().to_string();
  EXPECT_TRUE(none->status_counts.empty());
  auto odd = run_task(client->get_order_analytics());
  ASSERT_TRUE(odd) << odd.error().to_string();
  EXPECT_EQ(odd->status_counts, (std::map<std::string, std::int64_t>{{"weird status", -1}}));
  expect_json_error(error_of(run_task(client->get_order_analytics())), "missing field `status_counts`");
}

TEST_F(SwapOrdersTest, NotFoundIsNotRetried) {
  auto retrying = make_client(config_for(service.base_url(), 300, 2));
  ASSERT_TRUE(retrying);
  service.script("POST", status_path, {answer(404, "a")});
  service.script("GET", history_path, {answer(404, "b")});
  service.script("GET", analytics_path, {answer(404, "c")});
  expect_api_error(error_of(run_task(retrying->get_swap_order_status("o"))), 404, "a");
  expect_api_error(error_of(run_task(retrying->get_order_history("OPEN", 1, 0))), 404, "b");
  expect_api_error(error_of(run_task(retrying->get_order_analytics())), 404, "c");
  EXPECT_EQ(service.requests().size(), 3u);
}

}  // namespace
}  // namespace zephlar::client
