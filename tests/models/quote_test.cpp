// Quote records: PairQuoteResponse with its SwapLeg and Fee, and the quote
// request body.
#include "core/models/quote.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "core/json/json.hpp"
#include "tests/models/probe_table.hpp"

namespace zephlar::testing {
namespace {

const std::string kFrom =
    R"({"asset_id":"BTC","name":"Bitcoin","ticker":"BTC","layer":"BTC_LN","amount":100000,"precision":8})";
const std::string kTo =
    R"({"asset_id":"rgb:2dkSTbr-jFhznbPmo","name":"Tether USD","ticker":"USDT","layer":"RGB_LN","amount":64250125,"precision":6})";
const std::string kFee =
    R"({"base_fee":1000,"variable_fee":32125,"fee_rate":0.005,"final_fee":33125,"fee_asset":"USDT","fee_asset_precision":6})";
const std::string kQuote = R"({"rfq_id":"rfq_9a1c","from_asset":)" + kFrom + R"(,"to_asset":)" + kTo +
                           R"(,"price":642501250000,"fee":)" + kFee +
                           R"(,"timestamp":1718000000,"expires_at":1718000030})";

TEST(QuoteRecords, ReadAndWriteBack) {
  const auto caller = json::Source::caller_text;
  run_probe_table({
      same("full quote", "PairQuoteResponse", kQuote),
      same("full quote from a caller text", "PairQuoteResponse", kQuote, caller),
      same("leg", "SwapLeg", kFrom),
      same("fee", "Fee", kFee),
      reads("members reordered, extra members dropped, white space", "PairQuoteResponse",
            "{ \"expires_at\":1718000030, \"extra\":[1,2], \"fee\":" + kFee +
                ",\n\"timestamp\":1718000000,"
                "\"price\":642501250000,\"to_asset\":" +
                kTo + ",\"from_asset\":" + kFrom + ",\"rfq_id\":\"rfq_9a1c\",\"Rfq_id\":null }",
            kQuote, caller),
      reads("leg as an array", "SwapLeg", R"(["BTC","Bitcoin","BTC","BTC_L1",-5,0])",
            R"({"asset_id":"BTC","name":"Bitcoin","ticker":"BTC","layer":"BTC_L1","amount":-5,"precision":0})"),
      reads(
          "integer fee rate is written as a float", "Fee",
          R"({"base_fee":0,"variable_fee":0,"fee_rate":1,"final_fee":0,"fee_asset":"BTC","fee_asset_precision":8})",
          R"({"base_fee":0,"variable_fee":0,"fee_rate":1.0,"final_fee":0,"fee_asset":"BTC","fee_asset_precision":8})"),
      reads(
          "small fee rate keeps its shortest form", "Fee", R"([0,0,1e-7,0,"BTC",8])",
          R"({"base_fee":0,"variable_fee":0,"fee_rate":1e-7,"final_fee":0,"fee_asset":"BTC","fee_asset_precision":8})"),
      reads("amount range edges", "SwapLeg", R"(["a","n","t","RGB_L1",9223372036854775807,-9223372036854775808])",
            R"({"asset_id":"a","name":"n","ticker":"t","layer":"RGB_L1","amount":9223372036854775807,)"
            R"("precision":-9223372036854775808})"),
      reads("quote as an array", "PairQuoteResponse", R"(["r",)" + kFrom + "," + kTo + ",1," + kFee + ",2,3]",
            R"({"rfq_id":"r","from_asset":)" + kFrom + R"(,"to_asset":)" + kTo + R"(,"price":1,"fee":)" + kFee +
                R"(,"timestamp":2,"expires_at":3})"),
  });
}

TEST(QuoteRecords, Errors) {
  run_probe_table({
      fails("empty leg", "SwapLeg", "{}", "missing field `asset_id` at line 1 column 2"),
      fails("duplicate leg member", "SwapLeg", R"({"asset_id":"x","asset_id":"y"})",
            "duplicate field `asset_id` at line 1 column 26"),
      // A required member refuses null at once, before any repetition is seen.
      fails("null before a duplicate", "SwapLeg", R"({"asset_id":null,"asset_id":"y"})",
            "invalid type: null, expected a string at line 1 column 16"),
      fails("duplicate rfq_id", "PairQuoteResponse", R"({"rfq_id":"a", "rfq_id" :"b"})",
            "duplicate field `rfq_id` at line 1 column 24"),
      fails("Amount with a capital names no member", "SwapLeg",
            R"({"asset_id":"a","name":"n","ticker":"t","layer":"BTC_L1","Amount":1,"precision":8})",
            "missing field `amount` at line 1 column 82"),
      fails("price and fee missing names price", "PairQuoteResponse",
            R"({"rfq_id":"r","from_asset":)" + kFrom + R"(,"to_asset":)" + kTo + R"(,"timestamp":1,"expires_at":2})",
            "missing field `price` at line 1 column 287"),
      fails("amount as a float", "SwapLeg", R"({"amount":1.5})",
            "invalid type: floating point `1.5`, expected i64 at line 1 column 13"),
      fails("amount as 1.0", "SwapLeg", R"({"amount":1.0})",
            "invalid type: floating point `1.0`, expected i64 at line 1 column 13"),
      fails("amount as 1e3", "SwapLeg", R"({"amount":1e3})",
            "invalid type: floating point `1000.0`, expected i64 at line 1 column 13"),
      fails("amount as -0", "SwapLeg", R"({"amount":-0})",
            "invalid type: floating point `-0.0`, expected i64 at line 1 column 12"),
      fails("amount above i64", "SwapLeg", R"({"amount":9223372036854775808})",
            "invalid value: integer `9223372036854775808`, expected i64 at line 1 column 29"),
      fails("layer outside the enumeration", "SwapLeg", R"({"layer":"btc_ln"})",
            "unknown variant `btc_ln`, expected one of `BTC_L1`, `BTC_LN`, `BTC_SPARK`, `BTC_ARKADE`, `BTC_LIQUID`, "
            "`BTC_CASHU`, `RGB_L1`, `RGB_LN`, `TAPASS_L1`, `TAPASS_LN`, `LIQUID_LIQUID`, `ARKADE_ARKADE`, "
            "`SPARK_SPARK` at line 1 column 17"),
      fails("fee_rate null", "Fee", R"({"fee_rate":null})", "invalid type: null, expected f64 at line 1 column 16"),
      fails("fee_rate as a string", "Fee", R"({"fee_rate":"0.1"})",
            R"(invalid type: string "0.1", expected f64 at line 1 column 17)"),
      fails("fee as the string x", "Fee", R"("x")",
            R"(invalid type: string "x", expected struct Fee at line 1 column 3)"),
      fails("fee as null", "Fee", "null", "invalid type: null, expected struct Fee at line 1 column 4"),
      fails("fee null inside a quote", "PairQuoteResponse", R"({"fee":null})",
            "invalid type: null, expected struct Fee at line 1 column 11"),
      fails("leg as a string inside a quote", "PairQuoteResponse", R"({"from_asset":"BTC"})",
            R"(invalid type: string "BTC", expected struct SwapLeg at line 1 column 19)"),
      fails("error inside a nested fee", "PairQuoteResponse", R"({"fee":{"base_fee":1,"variable_fee":2}})",
            "missing field `fee_rate` at line 1 column 38"),
      fails("quote as 6 elements", "PairQuoteResponse", R"(["r",)" + kFrom + "," + kTo + ",1," + kFee + ",2]",
            "invalid length 6, expected struct PairQuoteResponse with 7 elements at line 1 column 346"),
      fails("quote as 8 elements", "PairQuoteResponse", R"(["r",)" + kFrom + "," + kTo + ",1," + kFee + ",2,3, 4]",
            "trailing characters at line 1 column 350"),
      fails("leg as 5 elements", "SwapLeg", R"(["a","n","t","BTC_L1",1])",
            "invalid length 5, expected struct SwapLeg with 6 elements at line 1 column 24"),
      fails("fee as 1 element", "Fee", "[0]",
            "invalid length 1, expected struct Fee with 6 elements at line 1 column 3"),
      fails("array form with a trailing comma", "Fee", R"([0,0,1,0,"B",8,])", "trailing comma at line 1 column 16"),
      fails("array form cut short", "Fee", R"([0,0,1,0,"B",8)", "EOF while parsing a list at line 1 column 14"),
  });
}

TEST(QuoteRecords, RequestBody) {
  using models::Layer;
  using models::PairQuoteRequest;
  struct Case {
    const char* what;
    PairQuoteRequest request;
    std::string body;
  };
  const Case cases[] = {
      {"fixed from amount",
       {{"BTC", Layer::BTC_LN, 100000}, {"rgb:usdt", Layer::RGB_LN, std::nullopt}},
       R"({"from_asset":{"asset_id":"BTC","layer":"BTC_LN","amount":100000},)"
       R"("to_asset":{"asset_id":"rgb:usdt","layer":"RGB_LN"}})"},
      {"fixed to amount",
       {{"BTC", Layer::BTC_L1, std::nullopt}, {"rgb:usdt", Layer::RGB_L1, 50}},
       R"({"from_asset":{"asset_id":"BTC","layer":"BTC_L1"},)"
       R"("to_asset":{"asset_id":"rgb:usdt","layer":"RGB_L1","amount":50}})"},
      {"zero is an amount",
       {{"BTC", Layer::BTC_SPARK, 0}, {"", Layer::SPARK_SPARK, std::nullopt}},
       R"({"from_asset":{"asset_id":"BTC","layer":"BTC_SPARK","amount":0},)"
       R"("to_asset":{"asset_id":"","layer":"SPARK_SPARK"}})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const json::RequestBody body = models::json_body_pair_quote_request(c.request);
    EXPECT_EQ(body.content_type, "application/json");
    EXPECT_EQ(body.bytes, c.body);
  }
}

TEST(QuoteRecords, FeeRateWriting) {
  const struct {
    double rate;
    const char* text;
  } cases[] = {
      {1.0, "1.0"},
      {0.1, "0.1"},
      {1e-7, "1e-7"},
      {std::nan(""), "null"},
      {std::numeric_limits<double>::infinity(), "null"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const models::Fee fee{1, 2, c.rate, 3, "BTC", 8};
    EXPECT_EQ(json::to_json(fee), std::string(R"({"base_fee":1,"variable_fee":2,"fee_rate":)") + c.text +
                                      R"(,"final_fee":3,"fee_asset":"BTC","fee_asset_precision":8})");
  }
}

}  // namespace
}  // namespace zephlar::testing
