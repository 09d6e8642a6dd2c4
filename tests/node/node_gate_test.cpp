// The node gate and the node's URL: without a node URL nothing is sent;
// with one, every request goes to the node (never to the service) at the
// node URL joined with the operation's path.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/client/core_client.hpp"
#include "tests/node/node_test_support.hpp"
#include "tests/support/fake_service.hpp"
#include "tests/support/refusing_port.hpp"

namespace zephlar::testing {
namespace {

using NodeGateTest = NodeTest;

TEST_F(NodeGateTest, WithoutNodeUrlEveryOperationFailsBeforeAnyRequest) {
  FakeService service;
  const RetryWaits waits;
  // Many retries allowed: the gate must not use any of them.
  auto client = node_client_for(service.base_url(), std::nullopt, 7);
  ASSERT_NE(client, nullptr);
  ASSERT_FALSE(client->has_node());
  ASSERT_EQ(node_operations().size(), 14u);

  for (const NodeOperation& op : node_operations()) {
    SCOPED_TRACE(op.name);
    const NodeOutcome outcome = op.call(client);
    ASSERT_FALSE(outcome) << outcome_text(outcome);
    EXPECT_TRUE(outcome.error().is<CoreError::NodeNotConfigured>());
    EXPECT_EQ(outcome.error().to_string(),
              "Node URL not configured. This operation requires a connected RGB Lightning Node.");
    EXPECT_FALSE(outcome.error().is_retryable());
  }
  EXPECT_TRUE(service.requests().empty());
  EXPECT_EQ(service.connections_accepted(), 0u);
  EXPECT_TRUE(waits.waits().empty());
}

TEST_F(NodeGateTest, NodeClientIsTheGate) {
  auto without = node_client_for("http://127.0.0.1:1", std::nullopt);
  ASSERT_NE(without, nullptr);
  const auto refused = without->node_client();
  ASSERT_FALSE(refused);
  EXPECT_TRUE(refused.error().is<CoreError::NodeNotConfigured>());

  // An empty node URL still builds a node client: it fails only when used.
  auto with_empty = node_client_for("http://127.0.0.1:1", std::string());
  ASSERT_NE(with_empty, nullptr);
  const auto node = with_empty->node_client();
  ASSERT_TRUE(node);
  EXPECT_EQ(node.value()->base_url(), "");
}

TEST_F(NodeGateTest, EmptyNodeUrlIsTriedAndFailsAsARequestFailure) {
  auto client = node_client_for("http://127.0.0.1:1", std::string(), 0);
  ASSERT_NE(client, nullptr);
  for (const NodeOperation& op : node_operations()) {
    SCOPED_TRACE(op.name);
    const NodeOutcome outcome = op.call(client);
    ASSERT_FALSE(outcome) << outcome_text(outcome);
    ASSERT_TRUE(outcome.error().is<CoreError::Network>()) << outcome.error().to_string();
    EXPECT_EQ(outcome.error().to_string(), "Network error: HTTP request failed");
  }
}

TEST_F(NodeGateTest, EmptyNodeUrlIsTriedMaxRetriesPlusOneTimes) {
  const RetryWaits waits;
  auto client = node_client_for("http://127.0.0.1:1", std::string(), 2);
  ASSERT_NE(client, nullptr);
  const NodeOutcome outcome = node_operation("unlock_wallet").call(client);
  ASSERT_FALSE(outcome);
  EXPECT_EQ(outcome.error().to_string(), "Network error: HTTP request failed");
  // Two waits: three tries in all.
  EXPECT_EQ(waits.waits().size(), 2u);
}

TEST_F(NodeGateTest, RefusedConnectionFailsWithConnectionFailed) {
  const zephlar::testing::RefusingPort refusing;
  const std::string closed_url = refusing.base_url();
  auto client = node_client_for("http://127.0.0.1:1", closed_url, 0);
  ASSERT_NE(client, nullptr);
  for (const std::string_view name : {"get_rgb_node_info", "get_btc_balance", "init_wallet"}) {
    SCOPED_TRACE(name);
    const NodeOutcome outcome = node_operation(name).call(client);
    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error().to_string(), "Network error: Connection failed");
  }
}

struct UrlCase {
  std::string_view suffix;  // appended to the fake node's base URL
  std::string_view prefix;  // expected in front of every operation's path
};

TEST_F(NodeGateTest, NodeUrlLosesItsTrailingSlashesAndKeepsItsPath) {
  const UrlCase cases[] = {
      {"", ""}, {"/", ""}, {"///", ""}, {"/api", "/api"}, {"/api/", "/api"}, {"/rgb/node//", "/rgb/node"},
  };
  FakeService node;
  for (const UrlCase& c : cases) {
    SCOPED_TRACE(std::string(c.suffix));
    auto client = node_client_for("http://127.0.0.1:1", node.base_url() + std::string(c.suffix));
    ASSERT_NE(client, nullptr);
    for (const NodeOperation& op : node_operations()) {
      SCOPED_TRACE(op.name);
      node.clear_requests();
      const NodeOutcome outcome = op.call(client);
      const auto requests = node.requests();
      ASSERT_EQ(requests.size(), 1u) << outcome_text(outcome);
      EXPECT_EQ(requests[0].target, std::string(c.prefix) + std::string(op.path));
      // The fake node serves its paths at the root only.
      if (c.prefix.empty()) {
        EXPECT_TRUE(outcome) << outcome_text(outcome);
      }
    }
  }
}

TEST_F(NodeGateTest, NodeRequestsGoToTheNodeOnlyAndCarryNoApiKey) {
  FakeService service;
  FakeService node;
  client::CoreConfig config;
  config.base_url = service.base_url();
  config.node_url = node.base_url() + "/";
  config.api_key = "secret-api-key";
  config.max_retries = 0;
  auto created = client::CoreClient::create(config);
  ASSERT_TRUE(created) << created.error().to_string();
  auto client = std::move(created).value();

  for (const NodeOperation& op : node_operations()) {
    const NodeOutcome outcome = op.call(client);
    EXPECT_TRUE(outcome) << op.name << ": " << outcome_text(outcome);
  }
  EXPECT_TRUE(service.requests().empty());
  EXPECT_EQ(service.connections_accepted(), 0u);

  const auto requests = node.requests();
  ASSERT_EQ(requests.size(), node_operations().size());
  for (std::size_t i = 0; i < requests.size(); ++i) {
    SCOPED_TRACE(node_operations()[i].name);
    EXPECT_EQ(requests[i].path(), node_operations()[i].path);
    EXPECT_FALSE(requests[i].header("Authorization"));
    for (const auto& [name, value] : requests[i].headers) {
      EXPECT_EQ(value.find("secret-api-key"), std::string::npos) << name;
    }
  }
}

}  // namespace
}  // namespace zephlar::testing
