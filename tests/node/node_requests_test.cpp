// What each node operation sends (method, path, body bytes, content type)
// and what it makes of the fake node's ordinary answers.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/client/core_client.hpp"
#include "tests/node/node_test_support.hpp"
#include "tests/support/fake_service.hpp"
#include "tests/support/fake_service_routes.hpp"

namespace zephlar::testing {
namespace {

using json::JsonValue;

class NodeRequestTest : public NodeTest {
 protected:
  NodeRequestTest() : client_(node_client_for("http://127.0.0.1:1", node_.base_url())) {}

  // The one request the node received since the last call.
  RecordedRequest only_request() {
    auto requests = node_.requests();
    node_.clear_requests();
    EXPECT_EQ(requests.size(), 1u);
    return requests.empty() ? RecordedRequest{} : requests.front();
  }

  FakeService node_;
  std::shared_ptr<client::CoreClient> client_;
};

TEST_F(NodeRequestTest, EachOperationSendsExactlyItsRequest) {
  ASSERT_NE(client_, nullptr);
  for (const NodeOperation& op : node_operations()) {
    SCOPED_TRACE(op.name);
    const NodeOutcome outcome = op.call(client_);
    EXPECT_TRUE(outcome) << outcome_text(outcome);
    const RecordedRequest request = only_request();
    EXPECT_EQ(request.method, op.method);
    EXPECT_EQ(request.target, op.path);  // no query either
    EXPECT_EQ(request.body, op.body);
    if (op.method == "GET") {
      EXPECT_FALSE(request.header("Content-Type"));
    } else {
      EXPECT_EQ(request.header("Content-Type"), "application/json");
    }
  }
}

// The operations that send the caller's text, by the member that holds it.
struct TextOperation {
  std::string_view name;
  std::string_view path;
  std::string_view member;
  std::function<asio::awaitable<NodeOutcome>(const NodeOperation::Client&, std::string)> start;
};

const std::vector<TextOperation>& text_operations() {
  using Client = NodeOperation::Client;
  static const std::vector<TextOperation> operations = {
      {"connect_peer", "/connectpeer", "peer_pubkey_and_addr",
       [](const Client& c, std::string text) {
         return json_of(c->connect_peer(models::ConnectPeerRequest{std::move(text)}));
       }},
      {"get_asset_balance", "/assetbalance", "asset_id",
       [](const Client& c, std::string text) { return json_of(c->get_asset_balance(std::move(text))); }},
      {"init_wallet", "/init", "password",
       [](const Client& c, std::string text) { return json_of(c->init_wallet(std::move(text))); }},
      {"unlock_wallet", "/unlock", "password",
       [](const Client& c, std::string text) { return json_of(c->unlock_wallet(std::move(text))); }},
      {"decode_ln_invoice", "/decodelninvoice", "invoice",
       [](const Client& c, std::string text) { return json_of(c->decode_ln_invoice(std::move(text))); }},
      {"whitelist_trade", "/taker", "swapstring",
       [](const Client& c, std::string text) { return json_of(c->whitelist_trade(std::move(text))); }},
  };
  return operations;
}

struct TextCase {
  std::string_view label;
  std::string text;
  std::string_view written;  // the JSON string the body must hold
};

TEST_F(NodeRequestTest, TextArgumentsAreSentUncheckedAndEscaped) {
  ASSERT_NE(client_, nullptr);
  const TextCase cases[] = {
      {"empty", "", R"("")"},
      {"white space kept", "  a b \t", R"("  a b \t")"},
      {"quote and backslash", R"(pa"ss\word)", R"("pa\"ss\\word")"},
      {"short escapes", "\b\t\n\f\r", R"("\b\t\n\f\r")"},
      {"other controls", std::string("\x00\x01\x1f\x0b", 4), R"("\u0000\u0001\u001f\u000b")"},
      {"DEL and slash as they are", "a/\x7f", "\"a/\x7f\""},
      {"non-ASCII as UTF-8", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x94\x91", "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x94\x91\""},
      {"not a pubkey, invoice or swap string", "}{", R"("}{")"},
  };
  for (const TextOperation& op : text_operations()) {
    for (const TextCase& c : cases) {
      SCOPED_TRACE(std::string(op.name) + ": " + std::string(c.label));
      const NodeOutcome outcome = run(op.start(client_, c.text));
      // The fake node accepts any text of the right type.
      EXPECT_TRUE(outcome) << outcome_text(outcome);
      const RecordedRequest request = only_request();
      EXPECT_EQ(request.method, "POST");
      EXPECT_EQ(request.target, op.path);
      EXPECT_EQ(request.body, "{\"" + std::string(op.member) + "\":" + std::string(c.written) + "}");
      EXPECT_EQ(request.header("Content-Type"), "application/json");
    }
  }
}

TEST_F(NodeRequestTest, InitAndUnlockSendTheSameBytes) {
  ASSERT_NE(client_, nullptr);
  const std::string password = "p\"\\\n\x01\xc3\xa9";
  EXPECT_TRUE(run(client_->init_wallet(password)));
  const RecordedRequest init = only_request();
  EXPECT_TRUE(run(client_->unlock_wallet(password)));
  const RecordedRequest unlock = only_request();
  EXPECT_EQ(init.path(), "/init");
  EXPECT_EQ(unlock.path(), "/unlock");
  EXPECT_EQ(init.body, unlock.body);
  EXPECT_EQ(init.body, R"({"password":"p\"\\\n\u0001)"
                       "\xc3\xa9\"}");
  // The password travels in the body only.
  for (const RecordedRequest& r : {init, unlock}) {
    EXPECT_EQ(r.target.find('?'), std::string::npos);
    for (const auto& [name, value] : r.headers) EXPECT_EQ(value.find("p\""), std::string::npos) << name;
  }
}

// The fake node's ordinary answers decode into the operations' results.

TEST_F(NodeRequestTest, StatusAnswersDecode) {
  ASSERT_NE(client_, nullptr);
  const auto info = run(client_->get_rgb_node_info());
  ASSERT_TRUE(info) << info.error().to_string();
  EXPECT_EQ(info.value(), (models::RgbNodeInfo{std::string(fake_data::node_pubkey), "Regtest", 1200, 2, 2}));

  const auto peers = run(client_->list_peers());
  ASSERT_TRUE(peers) << peers.error().to_string();
  ASSERT_EQ(peers->size(), 2u);
  EXPECT_EQ(peers.value()[0], (models::Peer{std::string(fake_data::service_pubkey), "127.0.0.1:9735", true}));
  EXPECT_EQ(peers.value()[1].address, std::nullopt);  // null in the answer
  EXPECT_FALSE(peers.value()[1].connected);

  const auto channels = run(client_->list_channels());
  ASSERT_TRUE(channels) << channels.error().to_string();
  ASSERT_EQ(channels->size(), 2u);
  EXPECT_EQ(channels.value()[0].peer_pubkey, fake_data::service_pubkey);
  EXPECT_EQ(channels.value()[0].capacity, 2'000'000);
  EXPECT_EQ(channels.value()[0].local_balance, 1'500'000);
  EXPECT_EQ(channels.value()[0].remote_balance, 500'000);
  EXPECT_TRUE(channels.value()[0].is_active);
  EXPECT_FALSE(channels.value()[0].is_public);
  EXPECT_FALSE(channels.value()[1].is_active);
  EXPECT_TRUE(channels.value()[1].is_public);
  EXPECT_NE(channels.value()[0].channel_id, channels.value()[1].channel_id);

  const auto payments = run(client_->list_payments());
  ASSERT_TRUE(payments) << payments.error().to_string();
  ASSERT_EQ(payments->size(), 3u);
  EXPECT_EQ(payments.value()[0].status, "Succeeded");
  EXPECT_EQ(payments.value()[0].amount_msat, 3'000'000);
  EXPECT_EQ(payments.value()[0].direction, "Inbound");
  EXPECT_EQ(payments.value()[0].created_at, 1'736'000'000);
  EXPECT_EQ(payments.value()[2].status, "Pending");
  EXPECT_EQ(payments.value()[2].direction, "Outbound");
  EXPECT_EQ(payments.value()[0].payment_hash.size(), 64u);

  const auto connected = run(client_->connect_peer(models::ConnectPeerRequest{std::string(sample_peer)}));
  ASSERT_TRUE(connected) << connected.error().to_string();
  EXPECT_EQ(connected.value(), JsonValue::empty_object());
}

TEST_F(NodeRequestTest, FundsAnswersDecode) {
  ASSERT_NE(client_, nullptr);
  const auto btc = run(client_->get_btc_balance());
  ASSERT_TRUE(btc) << btc.error().to_string();
  EXPECT_EQ(btc.value(), (models::BtcBalance{1'500'000, 25'000, 1'525'000}));

  const auto usdt = run(client_->get_asset_balance(std::string(fake_data::usdt_asset_id)));
  ASSERT_TRUE(usdt) << usdt.error().to_string();
  EXPECT_EQ(usdt.value(), (models::RgbAssetBalance{250'000'000, 300'000'000, 250'000'000}));

  const auto unknown = run(client_->get_asset_balance("rgb:unknown"));
  ASSERT_TRUE(unknown) << unknown.error().to_string();
  EXPECT_EQ(unknown.value(), models::RgbAssetBalance{});

  const auto assets = run(client_->list_node_assets());
  ASSERT_TRUE(assets) << assets.error().to_string();
  ASSERT_EQ(assets->size(), 2u);
  EXPECT_EQ(
      assets.value()[0],
      (models::RgbAsset{
          std::string(fake_data::usdt_asset_id), "USDT", "Tether USD", 6, {250'000'000, 300'000'000, 250'000'000}}));
  EXPECT_EQ(assets.value()[1],
            (models::RgbAsset{
                std::string(fake_data::xaut_asset_id), "XAUT", "Tether Gold", 6, {2'000'000, 2'000'000, 2'000'000}}));

  const auto address = run(client_->get_onchain_address());
  ASSERT_TRUE(address) << address.error().to_string();
  EXPECT_EQ(address->address.rfind("bcrt1q", 0), 0u) << address->address;
}

TEST_F(NodeRequestTest, WalletInvoiceAndTradeAnswersAreHandedOnAsJsonValues) {
  ASSERT_NE(client_, nullptr);
  const auto init = run(client_->init_wallet("pw"));
  ASSERT_TRUE(init) << init.error().to_string();
  EXPECT_EQ(
      json::to_json(init.value()),
      R"({"mnemonic":"abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about"})");

  for (const auto& [name, result] :
       {std::pair{"unlock", run(client_->unlock_wallet("pw"))}, std::pair{"lock", run(client_->lock_wallet())},
        std::pair{"taker", run(client_->whitelist_trade("s"))}}) {
    ASSERT_TRUE(result) << name << ": " << result.error().to_string();
    EXPECT_EQ(result.value(), JsonValue::empty_object()) << name;
  }

  const auto decoded = run(client_->decode_ln_invoice(std::string(sample_invoice)));
  ASSERT_TRUE(decoded) << decoded.error().to_string();
  const auto* object = decoded->get_if<JsonValue::Object>();
  ASSERT_NE(object, nullptr);
  // Members come back in ascending order of their names, whatever the node's
  // order was.
  std::vector<std::string> names;
  for (const auto& [name, value] : *object) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"amt_msat", "asset_amount", "asset_id", "expiry_sec", "network",
                                             "payee_pubkey", "payment_hash", "payment_secret", "timestamp"}));
  EXPECT_EQ(object->at("amt_msat"), JsonValue(std::uint64_t{3'000'000}));
  EXPECT_EQ(object->at("asset_id"), JsonValue(nullptr));
}

}  // namespace
}  // namespace zephlar::testing
