// The single atomic-swap requests: node info, init, execute and status. The
// exact requests, the decoded answers and the errors that end them.
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

using models::SwapStatus;
using zephlar::testing::answer;
using zephlar::testing::config_for;
using zephlar::testing::error_of;
using zephlar::testing::expect_api_error;
using zephlar::testing::expect_json_error;
using zephlar::testing::expect_requests;
using zephlar::testing::FakeService;
using zephlar::testing::get_request;
using zephlar::testing::make_client;
using zephlar::testing::post_request;
using zephlar::testing::run_task;
using zephlar::testing::ServiceTest;
namespace fake_data = zephlar::testing::fake_data;

constexpr const char* nodeinfo_path = "/api/v1/swaps/nodeinfo";
constexpr const char* init_path = "/api/v1/swaps/init";
constexpr const char* execute_path = "/api/v1/swaps/execute";
constexpr const char* status_path = "/api/v1/swaps/atomic/status";

using AtomicSwapTest = ServiceTest;

TEST_F(AtomicSwapTest, NodeInfoIsAPlainGetToTheService) {
  // The client has no node URL; the service answers for its own node.
  ASSERT_FALSE(client->has_node());
  auto info = run_task(client->get_node_info());
  ASSERT_TRUE(info) << info.error().to_string();
  EXPECT_EQ(info->pubkey, std::optional<std::string>(fake_data::service_pubkey));
  EXPECT_EQ(info->network, std::optional<std::string>("regtest"));  // free text, not a Network
  EXPECT_EQ(info->block_height, std::optional<std::int64_t>(fake_data::block_height));
  expect_requests(service, {get_request(nodeinfo_path)});
}

TEST_F(AtomicSwapTest, TrailingSlashesOfTheBaseUrlAreDropped) {
  auto slashed = make_client(config_for(service.base_url() + "///"));
  ASSERT_TRUE(slashed);
  ASSERT_TRUE(run_task(slashed->get_node_info()));
  ASSERT_TRUE(run_task(slashed->init_maker_swap({"r", "a", 1, "b", 2})));
  ASSERT_EQ(service.requests().size(), 2u);
  EXPECT_EQ(service.requests()[0].target, nodeinfo_path);
  EXPECT_EQ(service.requests()[1].target, init_path);
}

TEST_F(AtomicSwapTest, NodeInfoAnswers) {
  struct Case {
    const char* body;
    std::optional<models::SwapNodeInfoResponse> expected;  // none: a Json error
    const char* fault;                                     // what the error names
  };
  const Case cases[] = {
      {R"({"pubkey":null,"network":null,"block_height":null})", models::SwapNodeInfoResponse{}, ""},
      {R"({"pubkey":"k","network":"Regtest","block_height":10,"num_channels":3})",
       models::SwapNodeInfoResponse{"k", "Regtest", 10}, ""},
      {R"(["k",null,-1])", models::SwapNodeInfoResponse{"k", std::nullopt, -1}, ""},
      {R"({"network":"Regtest","block_height":10})", std::nullopt, "missing field `pubkey`"},
      {"{}", std::nullopt, "missing field `pubkey`"},
      {R"({"pubkey":"k","network":"Regtest"})", std::nullopt, "missing field `block_height`"},
      {R"({"pubkey":"k","block_height":1})", std::nullopt, "missing field `network`"},
      {R"({"pubkey":"k","network":"Regtest","block_height":10.0})", std::nullopt, "invalid type"},
      {R"({"pubkey":"k","network":"Regtest","block_height":"10"})", std::nullopt, "invalid type"},
      {R"({"pubkey":1,"network":"Regtest","block_height":10})", std::nullopt, "invalid type"},
      {R"({"pubkey":"k","pubkey":"k","network":"n","block_height":1})", std::nullopt, "duplicate field"},
      {R"({"pubkey":"k","network":"n","block_height":1} x)", std::nullopt, "trailing characters"},
      {"", std::nullopt, "EOF"},
  };
  for (const Case& c : cases) {
    service.clear_requests();
    service.script("GET", nodeinfo_path, {answer(200, c.body)});
    auto info = run_task(client->get_node_info());
    if (c.expected) {
      ASSERT_TRUE(info) << c.body << ": " << info.error().to_string();
      EXPECT_EQ(*info, *c.expected) << c.body;
    } else {
      expect_json_error(error_of(info), c.fault);
    }
    // A body that does not decode is not asked for again.
    EXPECT_EQ(service.requests().size(), 1u) << c.body;
  }
}

TEST_F(AtomicSwapTest, InitAndExecuteSendTheirRecordsAsGiven) {
  ASSERT_TRUE(run_task(client->init_maker_swap({"r1", "a", 1000, "b", -250})));
  ASSERT_TRUE(run_task(client->init_maker_swap({"", "", 0, "", INT64_MIN})));
  ASSERT_TRUE(run_task(client->execute_maker_swap({"s", "", "h"})));
  ASSERT_TRUE(run_task(client->execute_maker_swap({"s\"1\\", "k\n", "\x01h\xc3\xa9"})));
  expect_requests(
      service,
      {
          post_request(init_path,
                       R"({"rfq_id":"r1","from_asset":"a","from_amount":1000,"to_asset":"b","to_amount":-250})"),
          post_request(
              init_path,
              R"({"rfq_id":"","from_asset":"","from_amount":0,"to_asset":"","to_amount":-9223372036854775808})"),
          post_request(execute_path, R"({"swapstring":"s","taker_pubkey":"","payment_hash":"h"})"),
          post_request(execute_path,
                       "{\"swapstring\":\"s\\\"1\\\\\",\"taker_pubkey\":\"k\\n\","
                       "\"payment_hash\":\"\\u0001h\xc3\xa9\"}"),
      });
}

TEST_F(AtomicSwapTest, InitReturnsTheAnswerUnchanged) {
  service.script("POST", init_path, {answer(200, R"({"payment_hash":"h1","extra":[1],"swapstring":"s1"})")});
  auto swap = run_task(client->init_maker_swap({"r1", "a", 1, "b", 2}));
  ASSERT_TRUE(swap) << swap.error().to_string();
  EXPECT_EQ(*swap, (models::SwapResponse{"s1", "h1"}));
}

TEST_F(AtomicSwapTest, InitAnswersThatDoNotDecodeAreNotRetried) {
  // With tries to spare, a 2xx body that does not decode still ends the call.
  auto retrying = make_client(config_for(service.base_url(), 300, 2));
  ASSERT_TRUE(retrying);
  const struct {
    const char* body;
    const char* fault;
  } cases[] = {
      {R"({"swapstring":"s"})", "missing field `payment_hash`"},
      {R"({"swapstring":null,"payment_hash":"h"})", "invalid type: null"},
      {R"({"swapstring":1,"payment_hash":"h"})", "invalid type"},
  };
  for (const auto& c : cases) {
    service.clear_requests();
    service.script("POST", init_path, {answer(200, c.body)});
    expect_json_error(error_of(run_task(retrying->init_maker_swap({"r", "a", 1, "b", 2}))), c.fault);
    EXPECT_EQ(service.requests().size(), 1u) << c.body;
  }
}

TEST_F(AtomicSwapTest, ExecuteAnswers) {
  struct Case {
    const char* body;
    std::optional<models::ConfirmSwapResponse> expected;
  };
  const Case cases[] = {
      // The status is not interpreted: any integer is a success.
      {R"({"status":-1,"message":"failed"})", models::ConfirmSwapResponse{-1, "failed"}},
      {R"({"status":4294967296,"message":""})", models::ConfirmSwapResponse{4294967296, ""}},
      {R"({"status":-9223372036854775808,"message":"m"})", models::ConfirmSwapResponse{INT64_MIN, "m"}},
      {R"([200,"ok"])", models::ConfirmSwapResponse{200, "ok"}},
      {R"({"status":"0","message":"m"})", std::nullopt},
      {R"({"status":0.5,"message":"m"})", std::nullopt},
      {R"({"status":1e2,"message":"m"})", std::nullopt},
      {R"({"status":9223372036854775808,"message":"m"})", std::nullopt},
      {R"({"status":0,"message":null})", std::nullopt},
      {R"({"status":0})", std::nullopt},
  };
  for (const Case& c : cases) {
    service.script("POST", execute_path, {answer(200, c.body)});
    auto confirmed = run_task(client->execute_maker_swap({"s", "k", "h"}));
    if (c.expected) {
      ASSERT_TRUE(confirmed) << c.body << ": " << confirmed.error().to_string();
      EXPECT_EQ(*confirmed, *c.expected);
    } else {
      EXPECT_TRUE(error_of(confirmed).is<CoreError::Json>()) << c.body;
    }
  }
}

TEST_F(AtomicSwapTest, ErrorStatusesEndTheCallWithTheAnswer) {
  // 409 is not worth another try, even with tries to spare.
  auto retrying = make_client(config_for(service.base_url(), 300, 2));
  ASSERT_TRUE(retrying);
  service.script("POST", init_path, {answer(409, R"({"detail":"rfq used"})")});
  const CoreError conflict = error_of(run_task(retrying->init_maker_swap({"r1", "a", 1, "b", 2})));
  expect_api_error(conflict, 409, R"({"detail":"rfq used"})");
  EXPECT_EQ(conflict.to_string(), "API error (409): Conflict");
  EXPECT_EQ(service.requests().size(), 1u);

  // 502 is tried three times with the same body; the third answer is the
  // error.
  service.clear_requests();
  service.script("POST", init_path, {answer(502, "first"), answer(502, "second"), answer(502, "third")});
  expect_api_error(error_of(run_task(retrying->init_maker_swap({"r1", "a", 1000, "b", -250}))), 502, "third");
  const std::string body = R"({"rfq_id":"r1","from_asset":"a","from_amount":1000,"to_asset":"b","to_amount":-250})";
  expect_requests(service,
                  {post_request(init_path, body), post_request(init_path, body), post_request(init_path, body)});
}

TEST_F(AtomicSwapTest, SwapStatusSendsTheHashAndKeepsTheAnswer) {
  const std::string swap_json =
      R"({"qty_from":100,"qty_to":9500,"from_asset":null,"payment_hash":"other","status":"Pending",)"
      R"("requested_at":1,"initiated_at":2,"expires_at":3,"completed_at":null})";
  service.script("POST", status_path,
                 {answer(200, "{}"), answer(200, R"({"swap":null})"), answer(200, "{\"swap\":" + swap_json + "}")});

  auto absent = run_task(client->get_swap_status("h1"));
  ASSERT_TRUE(absent) << absent.error().to_string();
  EXPECT_FALSE(absent->swap);
  auto null = run_task(client->get_swap_status(""));
  ASSERT_TRUE(null) << null.error().to_string();
  EXPECT_FALSE(null->swap);
  auto present = run_task(client->get_swap_status("a\"b"));
  ASSERT_TRUE(present) << present.error().to_string();
  auto expected = json::from_response_body<models::Swap>(swap_json);
  ASSERT_TRUE(expected);
  ASSERT_TRUE(present->swap);
  EXPECT_EQ(*present->swap, *expected);
  EXPECT_EQ(present->swap->status, SwapStatus::Pending);
  // The hash in the answer is not compared with the one asked for.
  EXPECT_EQ(present->swap->payment_hash, "other");

  expect_requests(service, {post_request(status_path, R"({"payment_hash":"h1"})"),
                            post_request(status_path, R"({"payment_hash":""})"),
                            post_request(status_path, R"({"payment_hash":"a\"b"})")});
}

TEST_F(AtomicSwapTest, SwapStatusAnswersThatDoNotDecode) {
  const struct {
    const char* body;
    const char* fault;
  } cases[] = {
      {R"({"swap":{"qty_from":1,"qty_to":1,"payment_hash":"h","status":"Done","requested_at":1,"expires_at":2}})",
       "unknown variant `Done`"},
      {R"({"swap":{"qty_from":1,"qty_to":1,"payment_hash":"h","status":"succeeded","requested_at":1,"expires_at":2}})",
       "unknown variant `succeeded`"},
      {R"({"swap":{"qty_from":1,"qty_to":1,"payment_hash":"h","requested_at":1,"expires_at":2}})",
       "missing field `status`"},
      {R"({"swap":[]})", "invalid length"},
  };
  for (const auto& c : cases) {
    service.script("POST", status_path, {answer(200, c.body)});
    expect_json_error(error_of(run_task(client->get_swap_status("h"))), c.fault);
  }
}

}  // namespace
}  // namespace zephlar::client
