// Every swap, swap-order and LSPS1 operation takes the one request path:
// POSTs are tried again exactly like GETs, with the same bytes, and an
// answer that is not worth another try ends the call at once.
#include <gtest/gtest.h>

#include <functional>
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
using zephlar::testing::FakeService;
using zephlar::testing::make_client;
using zephlar::testing::run_task;
using zephlar::testing::ScriptedAnswer;

template <class T>
std::optional<CoreError> outcome(CoreResult<T> result) {
  if (result) return std::nullopt;
  return std::move(result).error();
}

struct Operation {
  const char* method;
  const char* path;
  const char* query;  // appended to the path in the request's target
  std::function<std::optional<CoreError>(CoreClient&)> run;
};

models::CreateSwapOrderRequest swap_order() {
  models::CreateSwapOrderRequest request;
  request.rfq_id = "r1";
  request.from_asset = {"BTC", "Bitcoin", "BTC", models::Layer::BTC_LN, 1000, 8};
  request.to_asset = {"USDT", "Tether", "USDT", models::Layer::RGB_LN, 95, 6};
  request.receiver_address = {"bc1q", models::AddressFormat::BTC_ADDRESS};
  request.email = nullptr;
  return request;
}

models::CreateOrderRequest channel_order() {
  models::CreateOrderRequest request;
  request.client_pubkey = "02ab";
  request.lsp_balance_sat = 1'000'000;
  request.funding_confirms_within_blocks = 6;
  request.channel_expiry_blocks = 4320;
  request.announce_channel = true;
  return request;
}

const std::vector<Operation>& operations() {
  static const std::vector<Operation> all = {
      {"GET", "/api/v1/swaps/nodeinfo", "", [](CoreClient& c) { return outcome(run_task(c.get_node_info())); }},
      {"POST", "/api/v1/swaps/init", "",
       [](CoreClient& c) {
         return outcome(run_task(c.init_maker_swap({"r1", "BTC", 1, "USDT", 2})));
       }},
      {"POST", "/api/v1/swaps/execute", "",
       [](CoreClient& c) {
         return outcome(run_task(c.execute_maker_swap({"s", "k", "h"})));
       }},
      {"POST", "/api/v1/swaps/atomic/status", "",
       [](CoreClient& c) { return outcome(run_task(c.get_swap_status("h"))); }},
      {"POST", "/api/v1/swaps/orders", "",
       [](CoreClient& c) { return outcome(run_task(c.create_swap_order(swap_order()))); }},
      {"POST", "/api/v1/swaps/orders/rate_decision", "",
       [](CoreClient& c) { return outcome(run_task(c.swap_order_rate_decision("o1", true))); }},
      {"POST", "/api/v1/swaps/orders/status", "",
       [](CoreClient& c) { return outcome(run_task(c.get_swap_order_status("o1"))); }},
      {"GET", "/api/v1/swaps/orders/history", "?limit=5&skip=0&status=FILLED",
       [](CoreClient& c) { return outcome(run_task(c.get_order_history("FILLED", 5, 0))); }},
      {"GET", "/api/v1/swaps/orders/analytics", "",
       [](CoreClient& c) { return outcome(run_task(c.get_order_analytics())); }},
      {"GET", "/api/v1/lsps1/get_info", "", [](CoreClient& c) { return outcome(run_task(c.get_lsp_info())); }},
      {"GET", "/api/v1/lsps1/network_info", "",
       [](CoreClient& c) { return outcome(run_task(c.get_lsp_network_info())); }},
      {"POST", "/api/v1/lsps1/estimate_fees", "",
       [](CoreClient& c) { return outcome(run_task(c.estimate_lsp_fees(100'000))); }},
      {"POST", "/api/v1/lsps1/create_order", "",
       [](CoreClient& c) { return outcome(run_task(c.create_order(channel_order()))); }},
      {"POST", "/api/v1/lsps1/get_order", "", [](CoreClient& c) { return outcome(run_task(c.get_lsp_order("o1"))); }},
      {"POST", "/api/v1/lsps1/retry_delivery", "",
       [](CoreClient& c) { return outcome(run_task(c.retry_delivery("o1"))); }},
  };
  return all;
}

// Every request so far is `op`'s, `n` of them, all with the same body.
void expect_tries(const FakeService& service, const Operation& op, std::size_t n) {
  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), n);
  for (const auto& request : requests) {
    EXPECT_EQ(request.method, op.method);
    EXPECT_EQ(request.target, std::string(op.path) + op.query);
    EXPECT_EQ(request.body, requests.front().body);
    EXPECT_EQ(request.header("Content-Type").has_value(), std::string(op.method) == "POST");
  }
  if (std::string(op.method) == "POST") {
    EXPECT_FALSE(requests.front().body.empty());
  }
}

TEST(RequestPathTest, OneTryWithoutRetries) {
  FakeService service;
  auto client = make_client(config_for(service.base_url(), 300, 0));
  ASSERT_TRUE(client);
  for (const Operation& op : operations()) {
    SCOPED_TRACE(op.path);
    service.reset();
    service.script(op.method, op.path, {answer(503, "busy")});
    const auto error = op.run(*client);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->to_string(), "API error (503): Service Unavailable");
    expect_tries(service, op, 1);
  }
}

TEST(RequestPathTest, RetryableFailuresAreTriedAgainWithTheSameBytes) {
  FakeService service;
  auto client = make_client(config_for(service.base_url(), 300, 1));
  ASSERT_TRUE(client);
  ScriptedAnswer reset;
  reset.fault = ScriptedAnswer::Fault::reset_before_headers;
  std::size_t i = 0;
  for (const Operation& op : operations()) {
    SCOPED_TRACE(op.path);
    service.reset();
    // A lost connection or a 429, 500 or 503, then the service's own answer.
    const ScriptedAnswer failures[] = {reset, answer(429, ""), answer(500, ""), answer(503, "")};
    service.script(op.method, op.path, {failures[i++ % 4]});
    const auto error = op.run(*client);
    EXPECT_FALSE(error) << error->to_string();
    expect_tries(service, op, 2);
  }
}

TEST(RequestPathTest, OtherFailuresEndTheCallAtOnce) {
  FakeService service;
  auto client = make_client(config_for(service.base_url(), 300, 3));
  ASSERT_TRUE(client);
  std::size_t i = 0;
  for (const Operation& op : operations()) {
    SCOPED_TRACE(op.path);
    service.reset();
    const int statuses[] = {400, 401, 403, 404, 409, 422, 499};
    const int status = statuses[i++ % 7];
    service.script(op.method, op.path, {answer(status, "no")});
    const auto error = op.run(*client);
    ASSERT_TRUE(error);
    const auto* api = error->get_if<CoreError::Api>();
    ASSERT_NE(api, nullptr) << error->to_string();
    EXPECT_EQ(api->status, status);
    expect_tries(service, op, 1);
  }
}

}  // namespace
}  // namespace zephlar::client
