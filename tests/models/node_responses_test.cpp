// Node answers: RgbNodeInfo, BtcBalance, RgbAssetBalance, AddressResponse and
// the four list answers with RgbAsset, Channel, Peer and Payment.
#include "core/models/node_responses.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/json/json.hpp"
#include "tests/models/probe_table.hpp"

namespace zephlar::testing {
namespace {

const std::string kAsset =
    R"({"asset_id":"rgb:2dkSTbr-jFhznbPmo-TQafzswCN","ticker":"USDT","name":"Tether USD","precision":255,)"
    R"("balance":{"settled":1000,"future":-5,"spendable":995}})";
const std::string kChannel =
    R"({"channel_id":"a1b2c3","peer_pubkey":"03b8e5f1a2c4","capacity":-1000000,"local_balance":400000,)"
    R"("remote_balance":600000,"is_active":true,"is_public":false})";
const std::string kPeer = R"({"pubkey":"03b8e5f1a2c4","address":"127.0.0.1:9735","connected":true})";
const std::string kPayment =
    R"({"payment_hash":"3f6c1e0a","status":"Succeeded","amount_msat":3000000,"direction":"Outbound",)"
    R"("created_at":1718000000})";
const std::string kEmptyNodeInfo = R"({"pubkey":"","network":"","block_height":0,"num_channels":0,"num_peers":0})";

TEST(NodeResponseRecords, ReadAndWriteBack) {
  run_probe_table({
      // Complete instances.
      same("node info", "RgbNodeInfo",
           R"({"pubkey":"03b8e5f1a2c4","network":"Regtest","block_height":150,"num_channels":2,"num_peers":-1})"),
      same("bitcoin balance", "BtcBalance", R"({"confirmed":100000,"unconfirmed":-2000,"total":98000})"),
      same("asset balance", "RgbAssetBalance", R"({"settled":1,"future":2,"spendable":3})"),
      same("address", "AddressResponse", R"({"address":"bcrt1qxy2kgdygjrsqtzq2n0yrf2493p83kkfjhx0wlh"})"),
      same("asset list", "ListAssetsResponse", R"({"assets":[)" + kAsset + "]}"),
      same("channel list", "ListChannelsResponse", R"({"channels":[)" + kChannel + "," + kChannel + "]}"),
      same("peer list", "ListPeersResponse",
           R"({"peers":[)" + kPeer + R"(,{"pubkey":"02aa","address":null,"connected":false}]})"),
      same("payment list", "ListPaymentsResponse", R"({"payments":[)" + kPayment + "]}"),
      same("empty list", "ListChannelsResponse", R"({"channels":[]})"),

      // Defaulted members: absent reads as empty and is written out.
      reads("node info {}", "RgbNodeInfo", "{}", kEmptyNodeInfo),
      reads("asset without balance", "RgbAsset", R"({"asset_id":"a"})",
            R"({"asset_id":"a","ticker":"","name":"","precision":0,"balance":{"settled":0,"future":0,"spendable":0}})"),
      reads("asset balance with one member", "RgbAsset", R"({"balance":{"future":7},"asset_id":"a"})",
            R"({"asset_id":"a","ticker":"","name":"","precision":0,"balance":{"settled":0,"future":7,"spendable":0}})"),
      reads("peer without address", "Peer", R"({"pubkey":"k"})", R"({"pubkey":"k","address":null,"connected":false})"),
      reads("channel with unknown keys and only its id", "Channel",
            R"({"short_channel_id":"1x2x3","channel_id":"c","Capacity":5,"asset_id":null})",
            R"({"channel_id":"c","peer_pubkey":"","capacity":0,"local_balance":0,"remote_balance":0,)"
            R"("is_active":false,"is_public":false})"),
      reads("payment with only its hash", "Payment", R"({"payment_hash":"h"})",
            R"({"payment_hash":"h","status":"","amount_msat":0,"direction":"","created_at":0})"),

      // Array forms: defaulted elements may be missing from the end.
      reads("peer as [text, null, true]", "Peer", R"(["k",null,true])",
            R"({"pubkey":"k","address":null,"connected":true})"),
      reads("bitcoin balance as []", "BtcBalance", "[]", R"({"confirmed":0,"unconfirmed":0,"total":0})"),
      reads("asset balance as []", "RgbAssetBalance", "[ ]", R"({"settled":0,"future":0,"spendable":0})"),
      reads("node info as []", "RgbNodeInfo", "[]", kEmptyNodeInfo),
      reads("node info as 2 elements", "RgbNodeInfo", R"(["k","n"])",
            R"({"pubkey":"k","network":"n","block_height":0,"num_channels":0,"num_peers":0})"),
      reads("asset as 1 element", "RgbAsset", R"(["a"])",
            R"({"asset_id":"a","ticker":"","name":"","precision":0,"balance":{"settled":0,"future":0,"spendable":0}})"),
      reads("asset list as an array of arrays", "ListAssetsResponse", R"([[["a","T","N",2,[1,2,3]]]])",
            R"({"assets":[{"asset_id":"a","ticker":"T","name":"N","precision":2,)"
            R"("balance":{"settled":1,"future":2,"spendable":3}}]})"),
      reads("address as 1 element", "AddressResponse", R"(["bc1q"])", R"({"address":"bc1q"})"),
  });
}

TEST(NodeResponseRecords, Errors) {
  run_probe_table({
      // Defaulted members refuse null (except a peer's address).
      fails("node info with num_peers null", "RgbNodeInfo", R"({"num_peers":null})",
            "invalid type: null, expected i64 at line 1 column 17"),
      fails("node info with pubkey null", "RgbNodeInfo", R"({"pubkey":null})",
            "invalid type: null, expected a string at line 1 column 14"),
      fails("channel with is_active null", "Channel", R"({"channel_id":"c","is_active":null})",
            "invalid type: null, expected a boolean at line 1 column 34"),
      fails("asset with balance null", "RgbAsset", R"({"asset_id":"a","balance":null})",
            "invalid type: null, expected struct RgbAssetBalance at line 1 column 30"),
      fails("peer with a numeric address", "Peer", R"({"pubkey":"k","address":1})",
            "invalid type: integer `1`, expected a string at line 1 column 25"),

      // The asset precision is an unsigned 8-bit integer.
      fails("precision 256", "RgbAsset", R"({"asset_id":"a","precision":256})",
            "invalid value: integer `256`, expected u8 at line 1 column 31"),
      fails("precision -1", "RgbAsset", R"({"asset_id":"a","precision":-1})",
            "invalid value: integer `-1`, expected u8 at line 1 column 30"),
      fails("precision 1.0", "RgbAsset", R"({"asset_id":"a","precision":1.0})",
            "invalid type: floating point `1.0`, expected u8 at line 1 column 31"),
      fails("precision null", "RgbAsset", R"({"asset_id":"a","precision":null})",
            "invalid type: null, expected u8 at line 1 column 32"),
      fails("capacity beyond i64", "Channel", R"({"channel_id":"c","capacity":9223372036854775808})",
            "invalid value: integer `9223372036854775808`, expected i64 at line 1 column 48"),
      fails("balance as text", "BtcBalance", R"({"total":"5"})",
            R"(invalid type: string "5", expected i64 at line 1 column 12)"),

      // Missing and repeated members; one bad element fails the whole list.
      fails("channel list with an element lacking channel_id", "ListChannelsResponse",
            R"({"channels":[)" + kChannel + R"(,{"capacity":1}]})",
            "missing field `channel_id` at line 1 column " + std::to_string(13 + kChannel.size() + 15)),
      fails("asset list element with a bad balance", "ListAssetsResponse",
            R"({"assets":[{"asset_id":"a","balance":{"settled":true}}]})",
            "invalid type: boolean `true`, expected i64 at line 1 column 52"),
      fails("asset list {}", "ListAssetsResponse", "{}", "missing field `assets` at line 1 column 2"),
      fails("channel list {}", "ListChannelsResponse", "{}", "missing field `channels` at line 1 column 2"),
      fails("peer list {}", "ListPeersResponse", "{}", "missing field `peers` at line 1 column 2"),
      fails("payment list {}", "ListPaymentsResponse", "{}", "missing field `payments` at line 1 column 2"),
      fails("payment list null", "ListPaymentsResponse", R"({"payments":null})",
            "invalid type: null, expected a sequence at line 1 column 16"),
      fails("peer list an object", "ListPeersResponse", R"({"peers":{}})",
            "invalid type: map, expected a sequence at line 1 column 9"),
      fails("payment without its hash", "Payment", R"({"status":"Pending"})",
            "missing field `payment_hash` at line 1 column 20"),
      fails("address {}", "AddressResponse", "{}", "missing field `address` at line 1 column 2"),
      fails("repeated defaulted member", "RgbNodeInfo", R"({"num_channels":1,"num_channels":1})",
            "duplicate field `num_channels` at line 1 column 32"),
      fails("repeated peer address after null", "Peer", R"({"address":null,"address":"a"})",
            "duplicate field `address` at line 1 column 25"),
      fails("node info as a string", "RgbNodeInfo", R"("info")",
            R"(invalid type: string "info", expected struct RgbNodeInfo at line 1 column 6)"),
      fails("list answer as a bare list", "ListPeersResponse", "[]",
            "invalid length 0, expected struct Response with 1 element at line 1 column 2"),

      // Array forms: only a missing required element fails; surplus fails.
      fails("peer as []", "Peer", "[]", "invalid length 0, expected struct Peer with 3 elements at line 1 column 2"),
      fails("asset as []", "RgbAsset", "[]",
            "invalid length 0, expected struct RgbAsset with 5 elements at line 1 column 2"),
      fails("channel as []", "Channel", "[]",
            "invalid length 0, expected struct Channel with 7 elements at line 1 column 2"),
      fails("payment as []", "Payment", "[]",
            "invalid length 0, expected struct Payment with 5 elements at line 1 column 2"),
      fails("address as []", "AddressResponse", "[]",
            "invalid length 0, expected struct AddressResponse with 1 element at line 1 column 2"),
      fails("bitcoin balance as 4 elements", "BtcBalance", "[1,2,3,4]", "trailing characters at line 1 column 8"),
      fails("list answer as 2 elements", "ListAssetsResponse", "[[],[]]", "trailing characters at line 1 column 5"),
  });
}

// The client hands on only the inner lists, written as bare arrays.
TEST(NodeResponseRecords, ListsWrittenBare) {
  const auto channels = json::from_response_body<models::ListChannelsResponse>(R"({"channels":[]})");
  ASSERT_TRUE(channels);
  EXPECT_EQ(json::to_json(channels->channels), "[]");

  const auto peers = json::from_response_body<models::ListPeersResponse>(
      R"({"peers":[{"pubkey":"a","address":"h:1"},["b"]],"more":1})");
  ASSERT_TRUE(peers);
  ASSERT_EQ(peers->peers.size(), 2u);
  EXPECT_EQ(peers->peers[1].address, std::nullopt);
  EXPECT_EQ(json::to_json(peers->peers),
            R"([{"pubkey":"a","address":"h:1","connected":false},{"pubkey":"b","address":null,"connected":false}])");

  const auto assets = json::from_response_body<models::ListAssetsResponse>(R"({"assets":[)" + kAsset + "]}");
  ASSERT_TRUE(assets);
  EXPECT_EQ(assets->assets.at(0).precision, 255);
  EXPECT_EQ(json::to_json(assets->assets), "[" + kAsset + "]");
}

}  // namespace
}  // namespace zephlar::testing
