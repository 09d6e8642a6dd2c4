// Swap order records: SwapOrder, ReceiverAddress, the create / status /
// rate-decision records and their request bodies.
#include "core/models/swap_order.hpp"

#include <gtest/gtest.h>

#include <string>

#include "core/json/json.hpp"
#include "tests/models/probe_table.hpp"

namespace zephlar::testing {
namespace {

const std::string kFrom =
    R"({"asset_id":"BTC","name":"Bitcoin","ticker":"BTC","layer":"BTC_LN","amount":100000,"precision":8})";
const std::string kTo =
    R"({"asset_id":"rgb:2dkSTbr","name":"Tether USD","ticker":"USDT","layer":"RGB_LN","amount":64250125,"precision":6})";
const std::string kFee =
    R"({"base_fee":1000,"variable_fee":32125,"fee_rate":0.005,"final_fee":33125,"fee_asset":"USDT","fee_asset_precision":6})";
const std::string kDeposit = R"({"address":"lnbc1m1pj9x7ksp5","format":"BOLT11"})";
const std::string kPayout = R"({"address":"rgb:~/~/~/bc:utxob:2Xq","format":"RGB_INVOICE"})";
const std::string kOrder =
    R"({"id":"ord_71f3","rfq_id":"rfq_9a1c","maker_pubkey":"02a1b2c3d4","from_asset":)" + kFrom + R"(,"to_asset":)" +
    kTo + R"(,"price":642501250000,"deposit_address":)" + kDeposit + R"(,"payout_address":)" + kPayout +
    R"(,"refund_address":"bc1qrefund","status":"FILLED","created_at":1718000000,"expires_at":1718000900,)"
    R"("filled_at":1718000120,"refund_txid":"9c1e7f","requires_manual_refund":false,"payment_status":"OVERPAID",)"
    R"("payment_difference":-250,"last_payment_check":1718000100,"email":"ops@example.org",)"
    R"("failure_reason":"none \"really\"","fee":)" +
    kFee + "}";
const std::string kOrderMin =
    R"({"id":"o","rfq_id":"r","from_asset":)" + kFrom + R"(,"to_asset":)" + kTo + R"(,"price":1,"fee":)" + kFee + "}";
// A SwapOrder without its closing brace, to append members to.
const std::string kOrderOpen = kOrderMin.substr(0, kOrderMin.size() - 1);
const std::string kRequest = R"({"rfq_id":"rfq_9a1c","from_asset":)" + kFrom + R"(,"to_asset":)" + kTo +
                             R"(,"receiver_address":)" + kPayout +
                             R"(,"min_onchain_conf":2,"refund_address":"bc1qrefund","email":"me@example.org"})";
const std::string kLegArray = R"(["BTC","Bitcoin","BTC","BTC_LN",1,8])";
const std::string kFeeArray = R"([0,0,0.5,0,"BTC",8])";

TEST(SwapOrderRecords, ReadAndWriteBack) {
  const auto caller = json::Source::caller_text;
  run_probe_table({
      same("full order", "SwapOrder", kOrder),
      same("address", "ReceiverAddress", kDeposit),
      same("status response", "SwapOrderStatusResponse",
           R"({"order_id":"ord_71f3","status":"FILLED","order":)" + kOrder + "}"),
      same("create response", "CreateSwapOrderResponse",
           R"({"id":"ord_71f3","rfq_id":"rfq_9a1c","deposit_address":)" + kDeposit + R"(,"status":"PENDING_PAYMENT"})"),
      same("rate decision response", "SwapOrderRateDecisionResponse",
           R"({"order_id":"ord_71f3","decision_accepted":false,"message":"Refund sent","refund_txid":"9c1e7f"})"),
      same("full create request", "CreateSwapOrderRequest", kRequest, caller),

      // Kinds.
      same("order with only the required members", "SwapOrder", kOrderMin),
      reads("order with every non-required member null", "SwapOrder",
            kOrderOpen + R"(,"maker_pubkey":null,"deposit_address":null,"payout_address":null,"refund_address":null,)"
                         R"("status":null,"created_at":null,"expires_at":null,"filled_at":null,"refund_txid":null,)"
                         R"("requires_manual_refund":null,"payment_status":null,"payment_difference":null,)"
                         R"("last_payment_check":null,"email":null,"failure_reason":null})",
            R"({"id":"o","rfq_id":"r","maker_pubkey":null,"from_asset":)" + kFrom + R"(,"to_asset":)" + kTo +
                R"(,"price":1,"deposit_address":null,"payout_address":null,"refund_address":null,)"
                R"("expires_at":null,"filled_at":null,"refund_txid":null,"requires_manual_refund":null,)"
                R"("payment_status":null,"payment_difference":null,"last_payment_check":null,"email":null,)"
                R"("failure_reason":null,"fee":)" +
                kFee + "}"),
      reads("create response with a null deposit address", "CreateSwapOrderResponse",
            R"({"status":"OPEN","deposit_address":null,"rfq_id":"r","id":"i"})",
            R"({"id":"i","rfq_id":"r","deposit_address":null,"status":"OPEN"})"),
      same("create response without a deposit address", "CreateSwapOrderResponse",
           R"({"id":"i","rfq_id":"r","status":"PENDING_RATE_DECISION"})"),
      same("rate decision without refund_txid", "SwapOrderRateDecisionResponse",
           R"({"order_id":"o","decision_accepted":true,"message":""})"),
      same("rate decision with refund_txid null", "SwapOrderRateDecisionResponse",
           R"({"order_id":"o","decision_accepted":true,"message":"","refund_txid":null})"),
      reads("caller request reordered, extra key, email null", "CreateSwapOrderRequest",
            R"({"email":null,"receiver_address":)" + kDeposit + R"(,"to_asset":)" + kTo +
                R"(,"note":"x","from_asset":)" + kFrom + R"(,"rfq_id":"r"})",
            R"({"rfq_id":"r","from_asset":)" + kFrom + R"(,"to_asset":)" + kTo + R"(,"receiver_address":)" + kDeposit +
                R"(,"email":null})",
            caller),

      // Array forms; nested records given as arrays come back as objects.
      reads(
          "order as 21 elements", "SwapOrder",
          R"(["o","r",null,)" + kLegArray + "," + kLegArray +
              R"(,5,["a","BTC_ADDRESS"],null,null,"OPEN",7,)"
              R"(null,null,null,true,"NOT_PAID",null,null,null,null,)" +
              kFeeArray + "]",
          R"({"id":"o","rfq_id":"r","maker_pubkey":null,"from_asset":)"
          R"({"asset_id":"BTC","name":"Bitcoin","ticker":"BTC","layer":"BTC_LN","amount":1,"precision":8},)"
          R"("to_asset":{"asset_id":"BTC","name":"Bitcoin","ticker":"BTC","layer":"BTC_LN","amount":1,"precision":8},)"
          R"("price":5,"deposit_address":{"address":"a","format":"BTC_ADDRESS"},"payout_address":null,)"
          R"("refund_address":null,"status":"OPEN","created_at":7,"expires_at":null,"filled_at":null,)"
          R"("refund_txid":null,"requires_manual_refund":true,"payment_status":"NOT_PAID",)"
          R"("payment_difference":null,"last_payment_check":null,"email":null,"failure_reason":null,)"
          R"("fee":{"base_fee":0,"variable_fee":0,"fee_rate":0.5,"final_fee":0,"fee_asset":"BTC",)"
          R"("fee_asset_precision":8}})"),
      reads("create request as 4 elements", "CreateSwapOrderRequest",
            R"(["r",)" + kFrom + "," + kTo + R"(,["addr","LN_ADDRESS"]])",
            R"({"rfq_id":"r","from_asset":)" + kFrom + R"(,"to_asset":)" + kTo +
                R"(,"receiver_address":{"address":"addr","format":"LN_ADDRESS"}})",
            caller),
      reads("create request as 6 elements", "CreateSwapOrderRequest",
            R"(["r",)" + kFrom + "," + kTo + R"(,["addr","LN_ADDRESS"],null,"bc1q"])",
            R"({"rfq_id":"r","from_asset":)" + kFrom + R"(,"to_asset":)" + kTo +
                R"(,"receiver_address":{"address":"addr","format":"LN_ADDRESS"},"min_onchain_conf":null,)"
                R"("refund_address":"bc1q"})",
            caller),
      reads("rate decision as 3 elements", "SwapOrderRateDecisionResponse", R"(["o",false,"m"])",
            R"({"order_id":"o","decision_accepted":false,"message":"m"})"),
  });
}

TEST(SwapOrderRecords, Errors) {
  const auto caller = json::Source::caller_text;
  run_probe_table({
      fails("order without price", "SwapOrder",
            R"({"id":"o","rfq_id":"r","from_asset":)" + kFrom + R"(,"to_asset":)" + kTo + R"(,"fee":)" + kFee + "}",
            "missing field `price` at line 1 column 380"),
      fails("order without legs names from_asset first", "SwapOrder", R"({"id":"o","rfq_id":"r"})",
            "missing field `from_asset` at line 1 column 23"),
      fails("order missing price and fee", "SwapOrder",
            R"({"id":"o","rfq_id":"r","from_asset":)" + kFrom + R"(,"to_asset":)" + kTo + "}",
            "missing field `price` at line 1 column 257"),
      fails("order fee null", "SwapOrder", R"({"fee":null})",
            "invalid type: null, expected struct Fee at line 1 column 11"),
      fails("duplicate email after null", "SwapOrder", R"({"email":null,"email":"a@b"})",
            "duplicate field `email` at line 1 column 21"),
      fails("duplicate optional status after null", "SwapOrder", R"({"status":null,"status":null})",
            "duplicate field `status` at line 1 column 23"),
      fails("deposit address as a string", "SwapOrder", R"({"deposit_address":"bc1q"})",
            R"(invalid type: string "bc1q", expected struct ReceiverAddress at line 1 column 25)"),
      fails("payment status outside the enumeration", "SwapOrder", R"({"payment_status":"paid"})",
            "unknown variant `paid`, expected one of `NOT_PAID`, `UNDERPAID`, `PAID`, `OVERPAID` at line 1 column 24"),
      fails("requires_manual_refund as a string", "SwapOrder", R"({"requires_manual_refund":"no"})",
            R"(invalid type: string "no", expected a boolean at line 1 column 30)"),
      fails("error inside a nested leg", "SwapOrder", R"({"to_asset":{"layer":"BTC_L2"}})",
            "unknown variant `BTC_L2`, expected one of `BTC_L1`, `BTC_LN`, `BTC_SPARK`, `BTC_ARKADE`, `BTC_LIQUID`, "
            "`BTC_CASHU`, `RGB_L1`, `RGB_LN`, `TAPASS_L1`, `TAPASS_LN`, `LIQUID_LIQUID`, `ARKADE_ARKADE`, "
            "`SPARK_SPARK` at line 1 column 29"),
      fails("create response without status", "CreateSwapOrderResponse", R"({"id":"i","rfq_id":"r"})",
            "missing field `status` at line 1 column 23"),
      fails("create response with status null", "CreateSwapOrderResponse", R"({"status":null})",
            "expected value at line 1 column 11"),
      fails("status response without status", "SwapOrderStatusResponse",
            R"({"order_id":"o","order":)" + kOrderMin + "}", "missing field `status` at line 1 column 415"),
      fails("status response with status null", "SwapOrderStatusResponse", R"({"status":null})",
            "expected value at line 1 column 11"),
      fails("error inside the order fails the status response", "SwapOrderStatusResponse",
            R"({"order_id":"o","status":"OPEN","order":{"id":"o","rfq_id":"r","created_at":"1"}})",
            R"(invalid type: string "1", expected i64 at line 1 column 79)"),
      fails("address format outside the enumeration", "ReceiverAddress", R"({"address":"a","format":"bolt11"})",
            "unknown variant `bolt11`, expected one of `BTC_ADDRESS`, `BOLT11`, `BOLT12`, `LN_ADDRESS`, `RGB_INVOICE`, "
            "`LIQUID_ADDRESS`, `LIQUID_INVOICE`, `SPARK_ADDRESS`, `SPARK_INVOICE`, `ARKADE_ADDRESS`, `ARKADE_INVOICE`, "
            "`CASHU_TOKEN` at line 1 column 32"),
      fails("Format in another case names no member", "ReceiverAddress", R"({"address":"a","Format":"BOLT11"})",
            "missing field `format` at line 1 column 33"),
      fails("receiver address missing from a caller request", "CreateSwapOrderRequest",
            R"({"rfq_id":"r","from_asset":)" + kFrom + R"(,"to_asset":)" + kTo + "}",
            "missing field `receiver_address` at line 1 column 248", caller),
      fails("rate decision accepted as a string", "SwapOrderRateDecisionResponse", R"({"decision_accepted":"true"})",
            R"(invalid type: string "true", expected a boolean at line 1 column 27)"),

      fails("order as 20 elements", "SwapOrder",
            R"(["o","r",null,)" + kLegArray + "," + kLegArray +
                R"(,5,null,null,null,null,null,null,null,null,null,null,null,null,null,null])",
            "invalid length 20, expected struct SwapOrder with 21 elements at line 1 column 160"),
      fails("order as 7 elements", "SwapOrder", R"(["o","r",null,)" + kLegArray + "," + kLegArray + ",5,null]",
            "invalid length 9, expected struct SwapOrder with 21 elements at line 1 column 95"),
      fails("create response as 2 elements", "CreateSwapOrderResponse", R"(["i","r"])",
            "invalid length 3, expected struct CreateSwapOrderResponse with 4 elements at line 1 column 9"),
      fails("create request as 3 elements", "CreateSwapOrderRequest", R"(["r",)" + kLegArray + "," + kLegArray + "]",
            "invalid length 3, expected struct CreateSwapOrderRequest with 7 elements at line 1 column 79", caller),
      fails("create request as 8 elements", "CreateSwapOrderRequest",
            R"(["r",)" + kLegArray + "," + kLegArray + R"(,["a","BOLT12"],1,"x","e",null])",
            "trailing characters at line 1 column 105", caller),
      fails("status response as 2 elements", "SwapOrderStatusResponse", R"(["o","OPEN"])",
            "invalid length 2, expected struct SwapOrderStatusResponse with 3 elements at line 1 column 12"),
      fails("rate decision as 2 elements", "SwapOrderRateDecisionResponse", R"(["o",true])",
            "invalid length 2, expected struct SwapOrderRateDecisionResponse with 4 elements at line 1 column 10"),
      fails("address as 1 element", "ReceiverAddress", R"(["a"])",
            "invalid length 1, expected struct ReceiverAddress with 2 elements at line 1 column 5"),
  });
}

TEST(SwapOrderRecords, RequestBodies) {
  // The caller's text goes out in normal form.
  const auto request = json::from_caller_text<models::CreateSwapOrderRequest>(
      R"({ "email" : null, "junk":[1], "receiver_address":["lnbc1","BOLT11"], "to_asset":)" + kTo +
      R"(, "from_asset":)" + kFrom + R"(, "rfq_id":"rfq_1" })");
  ASSERT_TRUE(request) << request.error().text();
  const json::RequestBody create = models::json_body_create_swap_order_request(*request);
  EXPECT_EQ(create.content_type, "application/json");
  EXPECT_EQ(create.bytes, R"({"rfq_id":"rfq_1","from_asset":)" + kFrom + R"(,"to_asset":)" + kTo +
                              R"(,"receiver_address":{"address":"lnbc1","format":"BOLT11"},"email":null})");

  const struct {
    const char* what;
    json::RequestBody body;
    const char* bytes;
  } cases[] = {
      {"order id", models::json_body_order_id_request("ord_71f3"), R"({"order_id":"ord_71f3"})"},
      {"empty order id", models::json_body_order_id_request(""), R"({"order_id":""})"},
      {"order id with quotes", models::json_body_order_id_request("a\"b\\"), R"({"order_id":"a\"b\\"})"},
      {"declined rate", models::json_body_swap_order_rate_decision_request({"ord_1", false}),
       R"({"order_id":"ord_1","accept_new_rate":false})"},
      {"accepted rate", models::json_body_swap_order_rate_decision_request({"ord_1", true}),
       R"({"order_id":"ord_1","accept_new_rate":true})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.body.content_type, "application/json");
    EXPECT_EQ(c.body.bytes, c.bytes);
  }
}

}  // namespace
}  // namespace zephlar::testing
