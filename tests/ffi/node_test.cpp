// The node methods of the wrapper client against the fake service playing
// the user's node: the gate, the four node objects with exactly their
// members, lists, and untyped answers written with sorted keys.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/ffi/wrapper_support.hpp"
#include "tests/support/fake_service_routes.hpp"

namespace zephlar::ffi::testing {
namespace {

namespace fake_data = zephlar::testing::fake_data;

using Call = std::function<ZephResult<std::string>(const ZephClient&)>;

struct NodeMethod {
  const char* name;
  Call call;
  const char* path;
};

const std::vector<NodeMethod>& node_methods() {
  static const std::vector<NodeMethod> methods = {
      {"get_rgb_node_info", [](const ZephClient& c) { return c.get_rgb_node_info(); }, "/nodeinfo"},
      {"list_peers", [](const ZephClient& c) { return c.list_peers(); }, "/listpeers"},
      {"connect_peer", [](const ZephClient& c) { return c.connect_peer(R"({"peer_pubkey_and_addr":"02ab@h:1"})"); },
       "/connectpeer"},
      {"list_channels", [](const ZephClient& c) { return c.list_channels(); }, "/listchannels"},
      {"list_payments", [](const ZephClient& c) { return c.list_payments(); }, "/listpayments"},
      {"get_btc_balance", [](const ZephClient& c) { return c.get_btc_balance(); }, "/btcbalance"},
      {"get_asset_balance",
       [](const ZephClient& c) { return c.get_asset_balance(fake_data::usdt_asset_id); }, "/assetbalance"},
      {"list_node_assets", [](const ZephClient& c) { return c.list_node_assets(); }, "/listassets"},
      {"get_onchain_address", [](const ZephClient& c) { return c.get_onchain_address(); }, "/address"},
      {"init_wallet", [](const ZephClient& c) { return c.init_wallet("pw"); }, "/init"},
      {"unlock_wallet", [](const ZephClient& c) { return c.unlock_wallet("pw"); }, "/unlock"},
      {"lock_wallet", [](const ZephClient& c) { return c.lock_wallet(); }, "/lock"},
      {"decode_ln_invoice", [](const ZephClient& c) { return c.decode_ln_invoice("lnbcrt1"); }, "/decodelninvoice"},
      {"whitelist_trade", [](const ZephClient& c) { return c.whitelist_trade("swap/string"); }, "/taker"},
  };
  return methods;
}

TEST(WrapperNodeTest, WithoutANodeUrlEveryNodeMethodIsRefusedBeforeAnyRequest) {
  FakeService service;
  auto client = make_client(service, /*with_node=*/false);
  ASSERT_TRUE(client);
  EXPECT_FALSE(client->has_node());
  for (const auto& m : node_methods()) {
    const auto result = m.call(*client);
    ASSERT_FALSE(result) << m.name;
    EXPECT_EQ(result.error().kind(), ZephError::Kind::NodeNotConfigured) << m.name;
    EXPECT_EQ(result.error().display(), "Node not configured") << m.name;
    EXPECT_EQ(result.error().debug(), "NodeNotConfigured") << m.name;
  }
  EXPECT_TRUE(service.requests().empty());
}

TEST(WrapperNodeTest, AnEmptyNodeUrlCountsAsConfiguredAndFailsOnUse) {
  FakeService service;
  auto client = make_client(config_for(service.base_url(), ""));
  ASSERT_TRUE(client);
  EXPECT_TRUE(client->has_node());
  for (const auto& m : node_methods()) {
    const auto result = m.call(*client);
    ASSERT_FALSE(result) << m.name;
    EXPECT_EQ(result.error().kind(), ZephError::Kind::NetworkError) << m.name << ": " << result.error().debug();
  }
  EXPECT_TRUE(service.requests().empty());
}

TEST(WrapperNodeTest, EveryNodeMethodReachesItsPath) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);
  for (const auto& m : node_methods()) {
    service.clear_requests();
    const auto result = m.call(*client);
    EXPECT_TRUE(result) << m.name << ": " << text_of(result);
    const auto sent = service.requests();
    ASSERT_EQ(sent.size(), 1u) << m.name;
    EXPECT_EQ(sent[0].path(), m.path) << m.name;
  }
}

TEST(WrapperNodeTest, NodeObjectsHaveExactlyTheirMembers) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);
  EXPECT_EQ(text_of(client->get_rgb_node_info()),
            R"({"pubkey":")" + std::string(fake_data::node_pubkey) +
                R"(","network":"Regtest","block_height":1200,"num_channels":2,"num_peers":2})");
  EXPECT_EQ(text_of(client->get_btc_balance()), R"({"confirmed":1500000,"unconfirmed":25000,"total":1525000})");
  EXPECT_EQ(text_of(client->get_asset_balance(fake_data::usdt_asset_id)),
            R"({"settled":250000000,"future":300000000,"spendable":250000000})");
  const auto address = client->get_onchain_address();
  ASSERT_TRUE(address) << text_of(address);
  EXPECT_EQ(address.value().rfind(R"({"address":"bcrt1q)", 0), 0u) << address.value();
  EXPECT_EQ(address.value().find(',', 0), std::string::npos) << address.value();

  // Members the node leaves out take their defaults; extra ones are dropped.
  service.script("GET", "/nodeinfo", {answer(200, R"({"pubkey":"p","extra":[1,2]})")});
  EXPECT_EQ(text_of(client->get_rgb_node_info()),
            R"({"pubkey":"p","network":"","block_height":0,"num_channels":0,"num_peers":0})");
  service.script("POST", "/btcbalance", {answer(200, R"({"total":-5})")});
  EXPECT_EQ(text_of(client->get_btc_balance()), R"({"confirmed":0,"unconfirmed":0,"total":-5})");
}

TEST(WrapperNodeTest, Lists) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);
  const auto peers = client->list_peers();
  ASSERT_TRUE(peers) << text_of(peers);
  EXPECT_EQ(peers.value().rfind(R"([{"pubkey":")" + std::string(fake_data::service_pubkey) +
                                    R"(","address":"127.0.0.1:9735","connected":true},{"pubkey":")",
                                0),
            0u)
      << peers.value();
  EXPECT_EQ(peers.value().substr(peers.value().size() - 36), R"(","address":null,"connected":false}])");
  const auto assets = client->list_node_assets();
  ASSERT_TRUE(assets) << text_of(assets);
  EXPECT_EQ(assets.value().rfind(R"([{"asset_id":")" + std::string(fake_data::usdt_asset_id) +
                                     R"(","ticker":"USDT","name":"Tether USD","precision":6,"balance":{"settled":)",
                                 0),
            0u)
      << assets.value();

  struct Empty {
    const char* method;
    const char* path;
    const char* body;
    Call call;
  };
  const std::vector<Empty> empties = {
      {"POST", "/listassets", R"({"assets":[]})", [](const ZephClient& c) { return c.list_node_assets(); }},
      {"GET", "/listpeers", R"({"peers":[]})", [](const ZephClient& c) { return c.list_peers(); }},
      {"GET", "/listchannels", R"({"channels":[]})", [](const ZephClient& c) { return c.list_channels(); }},
      {"GET", "/listpayments", R"({"payments":[]})", [](const ZephClient& c) { return c.list_payments(); }},
  };
  for (const auto& e : empties) {
    service.script(e.method, e.path, {answer(200, e.body)});
    EXPECT_EQ(text_of(e.call(*client)), "[]") << e.path;
  }
}

TEST(WrapperNodeTest, UntypedAnswersAreWrittenWithSortedKeys) {
  FakeService service;
  auto client = make_client(service);
  ASSERT_TRUE(client);
  EXPECT_EQ(text_of(client->lock_wallet()), "{}");
  EXPECT_EQ(text_of(client->init_wallet("pw")),
            R"({"mnemonic":"abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about"})");
  const std::string body = R"({"z":{"b":[1.50,1e2],"a":"\u0001\"/"},"a":null})";
  const std::string written = R"({"a":null,"z":{"a":"\u0001\"/","b":[1.5,100.0]}})";
  const std::vector<std::pair<const char*, Call>> untyped = {
      {"/connectpeer", [](const ZephClient& c) { return c.connect_peer(R"({"peer_pubkey_and_addr":"x"})"); }},
      {"/init", [](const ZephClient& c) { return c.init_wallet("pw"); }},
      {"/unlock", [](const ZephClient& c) { return c.unlock_wallet("pw"); }},
      {"/lock", [](const ZephClient& c) { return c.lock_wallet(); }},
      {"/decodelninvoice", [](const ZephClient& c) { return c.decode_ln_invoice("i"); }},
      {"/taker", [](const ZephClient& c) { return c.whitelist_trade("s"); }},
  };
  for (const auto& [path, call] : untyped) {
    service.script("POST", path, {answer(200, body)});
    EXPECT_EQ(text_of(call(*client)), written) << path;
  }
}

}  // namespace
}  // namespace zephlar::ffi::testing
