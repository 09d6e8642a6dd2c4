// LSPS1 channel order records: CreateOrderRequest and ChannelOrderResponse
// with PaymentDetails, PaymentBolt11, PaymentOnchain and ChannelDetails.
#include "core/models/lsps1_order.hpp"

#include <gtest/gtest.h>

#include <string>

#include "core/json/json.hpp"
#include "tests/models/probe_table.hpp"

namespace zephlar::testing {
namespace {

using json::Source;

const std::string kBolt11 = R"({"state":"EXPECT_PAYMENT","expires_at":"2024-06-10T12:00:00Z","fee_total_sat":3470,)"
                            R"("order_total_sat":103470,"invoice":"lnbcrt1034700n1pjq8xyzpp5"})";
const std::string kOnchain =
    R"({"state":"HOLD","expires_at":"2024-06-10T12:00:00Z","fee_total_sat":3470,"order_total_sat":103470,)"
    R"("address":"bcrt1qxy2kgdygjrsqtzq2n0yrf2493p83kkfjhx0wlh","min_fee_for_0conf":253,)"
    R"("min_onchain_payment_confirmations":1,"refund_onchain_address":"bcrt1qrefund",)"
    R"("payment_status":"partially-seen","payment_difference":-1200,"last_payment_check":1718000100})";
const std::string kPayment = R"({"bolt11":)" + kBolt11 + R"(,"onchain":)" + kOnchain + "}";
const std::string kHead =
    R"({"order_id":"ord-5b1e","client_pubkey":"02a1b2c3d4e5f6","lsp_balance_sat":-100000,)"
    R"("client_balance_sat":0,"required_channel_confirmations":0,"funding_confirms_within_blocks":6,)"
    R"("channel_expiry_blocks":4320)";
const std::string kOrder =
    kHead +
    R"(,"token":"tok","created_at":"2024-06-10T11:00:00Z","announce_channel":true,)"
    R"("order_state":"COMPLETED","payment":)" +
    kPayment +
    R"(,"channel":{"channel_id":"c1","temporary_channel_id":"t1","funded_at":"2024-06-10T11:30:00Z",)"
    R"("funding_outpoint":"ab12:0","expires_at":"2024-09-10T11:30:00Z"},"asset_id":"rgb:2dkSTbr",)"
    R"("lsp_asset_amount":5000000,"client_asset_amount":0,"rfq_id":"rfq-1","asset_price_sat":42,)"
    R"("asset_delivery_status":"RATE_CHANGED","asset_delivery_payment_hash":"3f6c","asset_delivery_completed_at":"t",)"
    R"("asset_delivery_error":"none","failure_reason":"quote \"expired\""})";
// Required members only, as the array form's first twelve elements.
const std::string kMinimal = kHead + R"(,"announce_channel":false,"order_state":"CREATED","payment":)" + kPayment;
const std::string kMinimalArray =
    R"(["ord-5b1e","02a1b2c3d4e5f6",-100000,0,0,6,4320,null,null,false,"CREATED",)" + kPayment + "]";

const std::string kCreate =
    R"({"client_pubkey":"02a1b2c3d4e5f6","lsp_balance_sat":100000,"client_balance_sat":0,)"
    R"("required_channel_confirmations":0,"funding_confirms_within_blocks":6,"channel_expiry_blocks":4320,)"
    R"("token":"tok","refund_onchain_address":"bcrt1qrefund","announce_channel":false,"asset_id":"rgb:2dkSTbr",)"
    R"("lsp_asset_amount":5000000,"client_asset_amount":0,"rfq_id":"rfq-1","email":"a@b.example"})";
const std::string kCreateHead =
    R"({"client_pubkey":"k","lsp_balance_sat":1,"client_balance_sat":2,"required_channel_confirmations":3,)"
    R"("funding_confirms_within_blocks":4,"channel_expiry_blocks":5)";

TEST(Lsps1OrderRecords, ReadAndWriteBack) {
  run_probe_table({
      // Complete instances.
      same("full order", "ChannelOrderResponse", kOrder),
      same("full create request", "CreateOrderRequest", kCreate, Source::caller_text),
      same("payment details", "PaymentDetails", kPayment),

      // Three-state members keep absent and null apart; created_at drops null.
      same("order with required members only", "ChannelOrderResponse", kMinimal + "}"),
      reads("order with every non-required member null", "ChannelOrderResponse",
            kMinimal +
                R"(,"token":null,"created_at":null,"channel":null,"asset_id":null,"lsp_asset_amount":null,)"
                R"("client_asset_amount":null,"rfq_id":null,"asset_price_sat":null,"asset_delivery_status":null,)"
                R"("asset_delivery_payment_hash":null,"asset_delivery_completed_at":null,)"
                R"("asset_delivery_error":null,"failure_reason":null})",
            kMinimal.substr(0, kHead.size()) +
                R"(,"token":null,"announce_channel":false,"order_state":"CREATED","payment":)" + kPayment +
                R"(,"channel":null,"asset_id":null,"lsp_asset_amount":null,)"
                R"("client_asset_amount":null,"rfq_id":null,"asset_price_sat":null,"asset_delivery_status":null,)"
                R"("asset_delivery_payment_hash":null,"asset_delivery_completed_at":null,)"
                R"("asset_delivery_error":null,"failure_reason":null})"),
      same("order with an empty channel", "ChannelOrderResponse", kMinimal + R"(,"channel":{}})"),
      reads("channel members reordered, one null, one left out", "ChannelOrderResponse",
            kMinimal + R"(,"channel":{"expires_at":"e","funded_at":null,"channel_id":"c"}})",
            kMinimal + R"(,"channel":{"channel_id":"c","funded_at":null,"expires_at":"e"}})"),
      reads("channel as a short array", "ChannelOrderResponse", kMinimal + R"(,"channel":["c",null]})",
            kMinimal + R"(,"channel":{"channel_id":"c","temporary_channel_id":null}})"),
      same(
          "onchain payment with null trailing members", "PaymentOnchain",
          R"({"state":"PAID","expires_at":"","fee_total_sat":0,"order_total_sat":0,"address":"a","min_fee_for_0conf":0,)"
          R"("min_onchain_payment_confirmations":0,"refund_onchain_address":null,"payment_status":null,)"
          R"("payment_difference":null,"last_payment_check":null})"),

      // Array forms that stop where only three-state members remain.
      reads("order as 12 elements", "ChannelOrderResponse", kMinimalArray,
            kHead + R"(,"token":null,"announce_channel":false,"order_state":"CREATED","payment":)" + kPayment + "}"),
      reads("onchain payment as 7 elements", "PaymentOnchain", R"(["TO_REFUND","e",1,2,"a",3,4])",
            R"({"state":"TO_REFUND","expires_at":"e","fee_total_sat":1,"order_total_sat":2,"address":"a",)"
            R"("min_fee_for_0conf":3,"min_onchain_payment_confirmations":4})"),
      reads("channel details as []", "ChannelDetails", "[]", "{}"),
      reads("create request as 9 elements", "CreateOrderRequest", R"(["k",1,2,3,4,5,null,"r",true])",
            kCreateHead + R"(,"token":null,"refund_onchain_address":"r","announce_channel":true})",
            Source::caller_text),

      // The create-order body is the caller's record in normal form.
      reads("create request: announce_channel null dropped, email null kept, extra key dropped, reordered",
            "CreateOrderRequest",
            R"({"email":null,"channel_expiry_blocks":5,"announce_channel":null,"funding_confirms_within_blocks":4,)"
            R"("required_channel_confirmations":3,"client_balance_sat":2,"lsp_balance_sat":1,"client_pubkey":"k",)"
            R"("referrer":"x"})",
            kCreateHead + R"(,"email":null})", Source::caller_text),
  });
}

TEST(Lsps1OrderRecords, Errors) {
  run_probe_table({
      // Missing members: first in declaration order.
      fails("create request without channel_expiry_blocks", "CreateOrderRequest",
            R"({"client_pubkey":"k","lsp_balance_sat":1,"client_balance_sat":2,"required_channel_confirmations":3,)"
            R"("funding_confirms_within_blocks":4})",
            "missing field `channel_expiry_blocks` at line 1 column 134", Source::caller_text),
      fails("create request without client_pubkey and channel_expiry_blocks", "CreateOrderRequest",
            R"({"lsp_balance_sat":1})", "missing field `client_pubkey` at line 1 column 21", Source::caller_text),
      fails("order without payment", "ChannelOrderResponse",
            kHead + R"(,"announce_channel":true,"order_state":"CREATED"})",
            "missing field `payment` at line 1 column " + std::to_string(kHead.size() + 49)),
      fails("onchain payment without its address", "PaymentDetails",
            R"({"bolt11":)" + kBolt11 +
                R"(,"onchain":{"state":"HOLD","expires_at":"","fee_total_sat":0,)"
                R"("order_total_sat":0,"min_fee_for_0conf":0,"min_onchain_payment_confirmations":0}})",
            "missing field `address` at line 1 column " + std::to_string(11 + kBolt11.size() + 140)),
      fails("payment details without onchain", "PaymentDetails", R"({"bolt11":)" + kBolt11 + "}",
            "missing field `onchain` at line 1 column " + std::to_string(11 + kBolt11.size())),

      // Duplicates, whatever the kind.
      fails("repeated channel after null", "ChannelOrderResponse", R"({"channel":null,"channel":{}})",
            "duplicate field `channel` at line 1 column 25"),
      fails("repeated created_at", "ChannelOrderResponse", R"({"created_at":null,"created_at":"x"})",
            "duplicate field `created_at` at line 1 column 31"),
      fails("repeated channel_id in the channel", "ChannelDetails", R"({"channel_id":"a","channel_id":"a"})",
            "duplicate field `channel_id` at line 1 column 30"),

      // Wrong types and names outside the enumerations.
      fails("announce_channel null in an order", "ChannelOrderResponse", R"({"announce_channel":null})",
            "invalid type: null, expected a boolean at line 1 column 24"),
      fails("channel as a string", "ChannelOrderResponse", R"({"channel":"c1"})",
            R"(invalid type: string "c1", expected struct ChannelDetails at line 1 column 15)"),
      fails("channel as true", "ChannelOrderResponse", R"({"channel":true})",
            "invalid type: boolean `true`, expected struct ChannelDetails at line 1 column 15"),
      fails("unknown delivery status", "ChannelOrderResponse", R"({"asset_delivery_status":"DELIVERED"})",
            "unknown variant `DELIVERED`, expected one of `NOT_REQUIRED`, `PENDING`, `IN_PROGRESS`, `COMPLETED`, "
            "`FAILED`, `RATE_CHANGED` at line 1 column 36"),
      fails("order state of another enumeration", "ChannelOrderResponse", R"({"order_state":"OPEN"})",
            "unknown variant `OPEN`, expected one of `CREATED`, `CHANNEL_OPENING`, `COMPLETED`, `FAILED`, "
            "`PENDING_RATE_DECISION` at line 1 column 21"),
      fails("bolt11 state in lower case inside the order", "ChannelOrderResponse",
            R"({"payment":{"bolt11":{"state":"paid"}}})",
            "unknown variant `paid`, expected one of `EXPECT_PAYMENT`, `HOLD`, `PAID`, `REFUNDED`, `TO_REFUND` "
            "at line 1 column 36"),
      fails("fractional amount in the onchain payment", "PaymentOnchain", R"({"payment_difference":0.5})",
            "invalid type: floating point `0.5`, expected i64 at line 1 column 25"),
      fails("numeric email in a caller text", "CreateOrderRequest", R"({"email":7})",
            "invalid type: integer `7`, expected a string at line 1 column 10", Source::caller_text),
      fails("payment null", "ChannelOrderResponse", R"({"payment":null})",
            "invalid type: null, expected struct PaymentDetails at line 1 column 15"),

      // Array forms too short or too long.
      fails("order as 7 elements", "ChannelOrderResponse", R"(["o","k",1,2,3,4,5])",
            "invalid length 8, expected struct ChannelOrderResponse with 23 elements at line 1 column 19"),
      fails("order as 8 elements", "ChannelOrderResponse", R"(["o","k",1,2,3,4,5,null])",
            "invalid length 8, expected struct ChannelOrderResponse with 23 elements at line 1 column 24"),
      fails("order as 11 elements", "ChannelOrderResponse", R"(["o","k",1,2,3,4,5,null,null,true,"CREATED"])",
            "invalid length 11, expected struct ChannelOrderResponse with 23 elements at line 1 column 44"),
      fails("create request as 6 elements", "CreateOrderRequest", R"(["k",1,2,3,4,5])",
            "invalid length 8, expected struct CreateOrderRequest with 14 elements at line 1 column 15",
            Source::caller_text),
      fails("payment details as 1 element", "PaymentDetails", "[" + kBolt11 + "]",
            "invalid length 1, expected struct PaymentDetails with 2 elements at line 1 column " +
                std::to_string(kBolt11.size() + 2)),
      fails("bolt11 as 4 elements", "PaymentBolt11", R"(["PAID","e",1,2])",
            "invalid length 4, expected struct PaymentBolt11 with 5 elements at line 1 column 16"),
      fails("onchain as 6 elements", "PaymentOnchain", R"(["PAID","e",1,2,"a",3])",
            "invalid length 6, expected struct PaymentOnchain with 11 elements at line 1 column 22"),
      fails("channel details as 6 elements", "ChannelDetails", R"([null,null,null,null,null,null])",
            "trailing characters at line 1 column 27"),
  });
}

TEST(Lsps1OrderRecords, CreateOrderBody) {
  const auto request = json::from_caller_text<models::CreateOrderRequest>(
      R"({"rfq_id":"r","client_pubkey":"k","lsp_balance_sat":1,"client_balance_sat":2,)"
      R"("required_channel_confirmations":3,"funding_confirms_within_blocks":4,"channel_expiry_blocks":5,)"
      R"("token":null,"announce_channel":true})");
  ASSERT_TRUE(request);
  EXPECT_TRUE(request->token.is_null());
  EXPECT_TRUE(request->email.is_absent());
  const auto body = models::json_body_create_order_request(*request);
  EXPECT_EQ(body.content_type, "application/json");
  EXPECT_EQ(body.bytes, kCreateHead + R"(,"token":null,"announce_channel":true,"rfq_id":"r"})");
}

}  // namespace
}  // namespace zephlar::testing
