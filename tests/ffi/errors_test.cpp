// Failures of the service and the transport as they come out of the wrapper
// client: kinds, display and debug texts.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/ffi/wrapper_support.hpp"
#include "tests/support/refusing_port.hpp"

namespace zephlar::ffi::testing {
namespace {

ScriptedAnswer fault(ScriptedAnswer::Fault kind) {
  ScriptedAnswer a;
  a.body = R"({"pubkey":"p","network":"regtest","block_height":1,"confirmed":1})";
  a.fault = kind;
  return a;
}

TEST(WrapperErrorsTest, ServiceAndTransportFailures) {
  FakeService service;
  struct Case {
    const char* name;
    ScriptedAnswer answer;
    ZephError::Kind kind;
    std::string display;  // a prefix for the JSON error, whose reader text follows
  };
  const std::vector<Case> cases = {
      {"403", answer(403, R"({"detail":"secret body"})"), ZephError::Kind::ApiError, "API error: Forbidden"},
      {"500", answer(500, "oops"), ZephError::Kind::ApiError, "API error: Internal Server Error"},
      {"status without a reason phrase", answer(599, "x"), ZephError::Kind::ApiError, "API error: Unknown error"},
      {"undecodable body", answer(200, "{\"assets\":7}"), ZephError::Kind::InternalError,
       "Internal error: JSON error: "},
      {"connection reset", fault(ScriptedAnswer::Fault::reset_before_headers), ZephError::Kind::NetworkError,
       "Network error: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto client = make_client(service);  // a fresh cache each time
    ASSERT_TRUE(client);
    service.script("GET", "/api/v1/market/assets", {c.answer});
    const auto result = client->list_assets();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind(), c.kind);
    EXPECT_EQ(result.error().display().rfind(c.display, 0), 0u) << result.error().display();
    EXPECT_EQ(result.error().display().find("secret"), std::string::npos);
    EXPECT_EQ(result.error().display().find("403"), std::string::npos);
    EXPECT_EQ(result.error().debug().rfind(std::string(kind_name(c.kind)) + " { message: \"", 0), 0u)
        << result.error().debug();
  }
}

TEST(WrapperErrorsTest, RefusedConnectionIsANetworkError) {
  const zephlar::testing::RefusingPort refusing;
  const std::string base_url = refusing.base_url();
  auto client = make_client(config_for(base_url, base_url));
  ASSERT_TRUE(client);
  for (const auto& result : {client->list_pairs(), client->get_btc_balance(), client->get_lsp_info()}) {
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().display(), "Network error: Connection failed");
    EXPECT_EQ(result.error().debug(), R"(NetworkError { message: "Connection failed" })");
  }
}

TEST(WrapperErrorsTest, TimeOutIsTimeoutErrorWhateverTheLimit) {
  FakeService service;
  auto config = config_for(service.base_url(), service.base_url());
  config.timeout = 0.25;
  auto client = make_client(config);
  ASSERT_TRUE(client);
  service.script("GET", "/api/v1/swaps/nodeinfo", {fault(ScriptedAnswer::Fault::stall_body)});
  service.script("POST", "/btcbalance", {fault(ScriptedAnswer::Fault::stall_body)});
  for (const auto& result : {client->get_node_info(), client->get_btc_balance()}) {
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind(), ZephError::Kind::TimeoutError);
    EXPECT_EQ(result.error().display(), "Timeout error");
    EXPECT_EQ(result.error().debug(), "TimeoutError");
  }
}

TEST(WrapperErrorsTest, NodeAnswersOutsideTwoHundredAreApiErrors) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);
  // The node refuses a password it cannot read with 400.
  service.script("POST", "/unlock", {answer(400, R"({"error":"wrong password","code":400})")});
  const auto unlocked = client->unlock_wallet("pw");
  ASSERT_FALSE(unlocked);
  EXPECT_EQ(unlocked.error().display(), "API error: Bad Request");
  // A node record that does not read is a JSON error.
  service.script("POST", "/address", {answer(200, R"({"address":null})")});
  const auto address = client->get_onchain_address();
  ASSERT_FALSE(address);
  EXPECT_EQ(address.error().kind(), ZephError::Kind::InternalError);
  EXPECT_EQ(address.error().message().rfind("JSON error: ", 0), 0u) << address.error().message();
  service.script("GET", "/listpeers", {answer(200, R"({"nodes":[]})")});
  const auto peers = client->list_peers();
  ASSERT_FALSE(peers);
  EXPECT_NE(peers.error().message().find("missing field `peers`"), std::string::npos) << peers.error().message();
}

TEST(WrapperErrorsTest, MessagesAreEscapedOnlyInTheDebugText) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);
  const std::string ticker = "a\"b\nc\\d";
  const auto missing = client->get_asset_by_ticker(ticker);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().display(), "Not found: Asset not found: " + ticker);
  EXPECT_EQ(missing.error().debug(), R"(NotFoundError { message: "Asset not found: a\"b\nc\\d" })");
}

}  // namespace
}  // namespace zephlar::ffi::testing
