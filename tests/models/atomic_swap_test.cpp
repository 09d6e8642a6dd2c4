// Atomic swap records: Swap, SwapStatusResponse, SwapRequest, SwapResponse,
// ConfirmSwapRequest, ConfirmSwapResponse, SwapNodeInfoResponse and the
// request bodies of the swap endpoints.
#include "core/models/atomic_swap.hpp"

#include <gtest/gtest.h>

#include <string>

#include "core/json/json.hpp"
#include "tests/models/probe_table.hpp"

namespace zephlar::testing {
namespace {

using json::Source;

const std::string kHash = "3f6c1e0a9b2d47c8e5f1a6b7c8d9e0f1a2b3c4d5e6f708192a3b4c5d6e7f8091";
const std::string kSwap =
    R"({"qty_from":100000,"qty_to":2500000,"from_asset":"BTC","to_asset":"rgb:2dkSTbr-jFhznbPmo-TQafzswCN",)"
    R"("payment_hash":")" +
    kHash +
    R"(","status":"Succeeded","requested_at":1718000000,)"
    R"("initiated_at":1718000005,"expires_at":1718003600,"completed_at":1718000042})";
const std::string kRequired =
    R"({"qty_from":1,"qty_to":2,"payment_hash":"h","status":"Waiting","requested_at":3,"expires_at":5})";

TEST(AtomicSwapRecords, ReadAndWriteBack) {
  run_probe_table({
      // Complete instances, each written back byte for byte.
      same("full swap", "Swap", kSwap),
      same("status answer with a swap", "SwapStatusResponse", R"({"swap":)" + kSwap + "}"),
      same("swap request", "SwapRequest",
           R"({"rfq_id":"rfq-7f3a","from_asset":"BTC","from_amount":100000,"to_asset":"rgb:2dkSTbr","to_amount":-25})",
           Source::caller_text),
      same("swap response", "SwapResponse",
           R"({"swapstring":"30/BTC/2500000/rgb:2dk/100000/)" + kHash + R"(","payment_hash":")" + kHash + R"("})"),
      same("confirm request", "ConfirmSwapRequest",
           R"({"swapstring":"30/BTC/1","taker_pubkey":"02a1b2c3d4e5f6","payment_hash":")" + kHash + R"("})",
           Source::caller_text),
      same("confirm response", "ConfirmSwapResponse", R"({"status":-1,"message":"swap \"executed\"\n"})"),
      same("node info", "SwapNodeInfoResponse",
           R"({"pubkey":"03b8e5f1a2c4","network":"regtest","block_height":9223372036854775807})"),

      // Three-state members: absent stays absent, null stays null.
      same("swap with only the required members", "Swap", kRequired),
      same("swap with null to_asset and completed_at", "Swap",
           R"({"qty_from":1,"qty_to":2,"to_asset":null,"payment_hash":"h","status":"Expired","requested_at":3,)"
           R"("expires_at":5,"completed_at":null})"),
      reads("swap keys in any order, unknown keys skipped", "Swap",
            R"({"expires_at":5,"Status":1,"status":"Pending","requested_at":3,"payment_hash":"h","qty_to":2,)"
            R"("extra":[{"x":null}],"qty_from":1,"initiated_at":null})",
            R"({"qty_from":1,"qty_to":2,"payment_hash":"h","status":"Pending","requested_at":3,"initiated_at":null,)"
            R"("expires_at":5})"),

      // No swap: absent, null and the empty array form all read as none and
      // write back as {}.
      reads("status answer {}", "SwapStatusResponse", "{}", "{}"),
      reads("status answer with swap null", "SwapStatusResponse", R"({"swap":null})", "{}"),
      reads("status answer as []", "SwapStatusResponse", " [ ] ", "{}"),
      reads("status answer as [null]", "SwapStatusResponse", "[null]", "{}"),
      reads("status answer as [swap array]", "SwapStatusResponse", R"([[1,2,"a",null,"h","Failed",3,4,5,6]])",
            R"({"swap":{"qty_from":1,"qty_to":2,"from_asset":"a","to_asset":null,"payment_hash":"h","status":"Failed",)"
            R"("requested_at":3,"initiated_at":4,"expires_at":5,"completed_at":6}})"),

      // Array forms of a Swap: three-state members may go missing.
      reads("swap as 9 elements", "Swap", R"([1,2,null,"b","h","Waiting",3,4,5])",
            R"({"qty_from":1,"qty_to":2,"from_asset":null,"to_asset":"b","payment_hash":"h","status":"Waiting",)"
            R"("requested_at":3,"initiated_at":4,"expires_at":5})"),

      // Caller texts are sent in normal form.
      reads("swap request in reverse order with an extra key", "SwapRequest",
            R"({"to_amount":2, "to_asset":"B","extra":true,"from_amount":-1,"from_asset":"A","rfq_id":"r"})",
            R"({"rfq_id":"r","from_asset":"A","from_amount":-1,"to_asset":"B","to_amount":2})", Source::caller_text),
      reads("confirm request as an array", "ConfirmSwapRequest", R"(["s","k","h"])",
            R"({"swapstring":"s","taker_pubkey":"k","payment_hash":"h"})", Source::caller_text),
      reads("swap request as an array", "SwapRequest", R"(["r","A",1,"B",2])",
            R"({"rfq_id":"r","from_asset":"A","from_amount":1,"to_asset":"B","to_amount":2})", Source::caller_text),

      // The service's node info: null members are written back as null;
      // the network word is plain text.
      same("node info all null", "SwapNodeInfoResponse", R"({"pubkey":null,"network":null,"block_height":null})"),
      reads("node info as an array with nulls", "SwapNodeInfoResponse", R"([null,"MAINNET",null])",
            R"({"pubkey":null,"network":"MAINNET","block_height":null})"),
      same("node info with any network word", "SwapNodeInfoResponse",
           R"({"pubkey":"","network":"Mainnet","block_height":-3})"),
      reads("smallest i64 status, keys out of order", "ConfirmSwapResponse",
            R"({"message":"","status":-9223372036854775808})", R"({"status":-9223372036854775808,"message":""})"),
  });
}

TEST(AtomicSwapRecords, Errors) {
  run_probe_table({
      // Missing members: the first in declaration order is named.
      fails("swap without status", "Swap",
            R"({"qty_from":1,"qty_to":2,"payment_hash":"h","requested_at":3,"expires_at":5})",
            "missing field `status` at line 1 column 76"),
      fails("swap without qty_from and status", "Swap",
            R"({"qty_to":2,"payment_hash":"h","requested_at":3,"expires_at":5})",
            "missing field `qty_from` at line 1 column 63"),
      fails("empty swap request", "SwapRequest", "{}", "missing field `rfq_id` at line 1 column 2",
            Source::caller_text),
      fails("swap request without to_amount", "SwapRequest",
            R"({"rfq_id":"r","from_asset":"A","from_amount":1,"to_asset":"B"})",
            "missing field `to_amount` at line 1 column 62", Source::caller_text),
      fails("node info without block_height", "SwapNodeInfoResponse", R"({"pubkey":null,"network":null})",
            "missing field `block_height` at line 1 column 30"),
      fails("confirm response without message", "ConfirmSwapResponse", R"({"status":0})",
            "missing field `message` at line 1 column 12"),

      // Duplicates, also after a null.
      fails("two swap keys, the first null", "SwapStatusResponse", R"({"swap":null,"swap":null})",
            "duplicate field `swap` at line 1 column 19"),
      fails("repeated three-state member after null", "Swap", R"({"to_asset":null,"to_asset":"x"})",
            "duplicate field `to_asset` at line 1 column 27"),
      fails("repeated nullable member", "SwapNodeInfoResponse", R"({"pubkey":null, "pubkey" :"k"})",
            "duplicate field `pubkey` at line 1 column 25"),

      // Wrong types, in the record itself and in the nested Swap.
      fails("status answer whose swap is a string", "SwapStatusResponse", R"({"swap":"x"})",
            R"(invalid type: string "x", expected struct Swap at line 1 column 11)"),
      fails("status answer that is null", "SwapStatusResponse", "null",
            "invalid type: null, expected struct SwapStatusResponse at line 1 column 4"),
      fails("swap with a text quantity inside the answer", "SwapStatusResponse", R"({"swap":{"qty_from":"1"}})",
            R"(invalid type: string "1", expected i64 at line 1 column 23)"),
      fails("swap with an upper-case status", "Swap", R"({"status":"WAITING"})",
            "unknown variant `WAITING`, expected one of `Waiting`, `Pending`, `Succeeded`, `Expired`, `Failed` "
            "at line 1 column 19"),
      fails("swap with a null status", "Swap", R"({"status":null})", "expected value at line 1 column 11"),
      fails("swap with a null required integer", "Swap", R"({"qty_from":null})",
            "invalid type: null, expected i64 at line 1 column 16"),
      fails("broken null for swap", "SwapStatusResponse", R"({"swap":nul})", "expected ident at line 1 column 12"),
      fails("null for swap cut short", "SwapStatusResponse", R"({"swap":nu)",
            "EOF while parsing a value at line 1 column 10"),
      fails("confirm response with a fractional status", "ConfirmSwapResponse", R"({"status":1.5,"message":"m"})",
            "invalid type: floating point `1.5`, expected i64 at line 1 column 13"),
      fails("confirm response with a status beyond i64", "ConfirmSwapResponse",
            R"({"status":9223372036854775808,"message":"m"})",
            "invalid value: integer `9223372036854775808`, expected i64 at line 1 column 29"),
      fails("node info with a numeric pubkey", "SwapNodeInfoResponse", R"({"pubkey":1})",
            "invalid type: integer `1`, expected a string at line 1 column 11"),
      fails("swap response as a map value", "SwapResponse", R"(["s",{}])",
            "invalid type: map, expected a string at line 1 column 5"),

      // Array forms too short: the first missing member that needs an
      // element is reported.
      fails("swap as []", "Swap", "[]", "invalid length 0, expected struct Swap with 10 elements at line 1 column 2"),
      fails("swap as 3 elements", "Swap", R"([1,2,"a"])",
            "invalid length 4, expected struct Swap with 10 elements at line 1 column 9"),
      fails("swap as 6 elements", "Swap", R"([1,2,"a","b","h","Waiting"])",
            "invalid length 6, expected struct Swap with 10 elements at line 1 column 27"),
      fails("swap as 7 elements", "Swap", R"([1,2,"a","b","h","Waiting",3])",
            "invalid length 8, expected struct Swap with 10 elements at line 1 column 29"),
      fails("swap as 8 elements", "Swap", R"([1,2,"a","b","h","Waiting",3,4])",
            "invalid length 8, expected struct Swap with 10 elements at line 1 column 31"),
      fails("swap request as 4 elements", "SwapRequest", R"(["r","A",1,"B"])",
            "invalid length 4, expected struct SwapRequest with 5 elements at line 1 column 15", Source::caller_text),
      fails("swap response as 1 element", "SwapResponse", R"(["s"])",
            "invalid length 1, expected struct SwapResponse with 2 elements at line 1 column 5"),
      fails("confirm request as 2 elements", "ConfirmSwapRequest", R"(["s","k"])",
            "invalid length 2, expected struct ConfirmSwapRequest with 3 elements at line 1 column 9",
            Source::caller_text),
      fails("confirm response as []", "ConfirmSwapResponse", "[]",
            "invalid length 0, expected struct ConfirmSwapResponse with 2 elements at line 1 column 2"),
      fails("node info as 2 elements", "SwapNodeInfoResponse", "[null,null]",
            "invalid length 2, expected struct SwapNodeInfoResponse with 3 elements at line 1 column 11"),

      // Array forms too long.
      fails("swap as 11 elements", "Swap", R"([1,2,"a","b","h","Waiting",3,4,5,6,7])",
            "trailing characters at line 1 column 36"),
      fails("status answer as 2 elements", "SwapStatusResponse", "[null,null]",
            "trailing characters at line 1 column 7"),
      fails("confirm response with a trailing comma", "ConfirmSwapResponse", R"([1,"m",])",
            "trailing comma at line 1 column 8"),
  });
}

TEST(AtomicSwapRecords, FieldsTheClientLooksAt) {
  auto none = json::from_response_body<models::SwapStatusResponse>("[null]");
  ASSERT_TRUE(none);
  EXPECT_FALSE(none->swap.has_value());

  auto answer = json::from_response_body<models::SwapStatusResponse>(R"({"swap":)" + kSwap + "}");
  ASSERT_TRUE(answer);
  ASSERT_TRUE(answer->swap.has_value());
  EXPECT_EQ(answer->swap->status, models::SwapStatus::Succeeded);
  EXPECT_EQ(answer->swap->completed_at, json::TriState<std::int64_t>(1718000042));

  auto swap = json::from_response_body<models::Swap>(
      R"({"qty_from":1,"qty_to":2,"to_asset":null,"payment_hash":"h","status":"Waiting","requested_at":3,"expires_at":5})");
  ASSERT_TRUE(swap);
  EXPECT_TRUE(swap->from_asset.is_absent());
  EXPECT_TRUE(swap->to_asset.is_null());

  auto info =
      json::from_response_body<models::SwapNodeInfoResponse>(R"({"pubkey":null,"network":"n","block_height":7})");
  ASSERT_TRUE(info);
  EXPECT_FALSE(info->pubkey.has_value());
  EXPECT_EQ(info->block_height, std::optional<std::int64_t>(7));
}

TEST(AtomicSwapRecords, RequestBodies) {
  const auto status = models::json_body_swap_status_request({""});
  EXPECT_EQ(status.content_type, "application/json");
  EXPECT_EQ(status.bytes, R"({"payment_hash":""})");

  EXPECT_EQ(models::json_body_swap_taker_request({"30/BTC/\"q\"\\"}).bytes, R"({"swapstring":"30/BTC/\"q\"\\"})");

  // A caller's request goes out in normal form, amounts written afresh.
  const auto request = json::from_caller_text<models::SwapRequest>(
      R"({"to_amount":0,"to_asset":"B","from_amount":-9223372036854775808,"from_asset":"A","rfq_id":"r","x":1})");
  ASSERT_TRUE(request);
  const auto body = models::json_body_swap_request(*request);
  EXPECT_EQ(body.content_type, "application/json");
  EXPECT_EQ(body.bytes,
            R"({"rfq_id":"r","from_asset":"A","from_amount":-9223372036854775808,"to_asset":"B","to_amount":0})");

  const auto confirm = models::json_body_confirm_swap_request({"s\n", "k", "h"});
  EXPECT_EQ(confirm.bytes, R"({"swapstring":"s\n","taker_pubkey":"k","payment_hash":"h"})");
}

}  // namespace
}  // namespace zephlar::testing
