// Trading pair records: TradingPair, SwapRoute, TradingPairsResponse.
#include <gtest/gtest.h>

#include <string>

#include "tests/models/probe_table.hpp"

namespace zephlar::testing {
namespace {

const std::string kBtc =
    R"({"ticker":"BTC","name":"Bitcoin","precision":8,"issued_supply":null,)"
    R"("endpoints":[{"layer":"BTC_LN","min_amount":1000,"max_amount":10000000,"is_active":true}]})";
const std::string kUsdt =
    R"({"ticker":"USDT","name":"Tether USD","precision":6,"protocol_ids":{"RGB":"rgb:2dkSTbr"},)"
    R"("media":{"file_path":"/m/usdt.png","digest":"9f86d0","mime":"image/png"},"issued_supply":1000000000000,)"
    R"("timestamp":1718000000,"endpoints":[]})";
const std::string kPair = R"({"id":"pair-btc-usdt","base":)" + kBtc + R"(,"quote":)" + kUsdt +
                          R"(,"price":"64250.125","routes":[{"from_layer":"BTC_LN","to_layer":"RGB_LN"},)"
                          R"({"from_layer":"btc_l1","to_layer":"RGB_L1"}],"is_active":true})";
const std::string kMinimal = R"({"ticker":"A","name":"a","precision":0})";

TEST(TradingPairRecords, ReadAndWriteBack) {
  run_probe_table({
      same("full pair", "TradingPair", kPair),
      same("route with layer names outside the enumeration", "SwapRoute", R"({"from_layer":"btc_ln","to_layer":"X"})"),
      same("pairs response", "TradingPairsResponse",
           R"({"pairs":[)" + kPair + R"(,{"base":)" + kMinimal + R"(,"quote":)" + kMinimal +
               R"(,"is_active":false}],"total":2,"limit":100,"offset":0,"timestamp":1718000002})"),
      same("empty pairs list", "TradingPairsResponse",
           R"({"pairs":[],"total":0,"limit":100,"offset":0,"timestamp":1})"),

      same("only base and quote", "TradingPair", R"({"base":)" + kMinimal + R"(,"quote":)" + kMinimal + "}"),
      reads("null id, routes and is_active are left out; null price stays", "TradingPair",
            R"({"id":null,"base":)" + kMinimal + R"(,"quote":)" + kMinimal +
                R"(,"price":null,"routes":null,"is_active":null})",
            R"({"base":)" + kMinimal + R"(,"quote":)" + kMinimal + R"(,"price":null})"),
      same("empty routes are a value", "TradingPair",
           R"({"base":)" + kMinimal + R"(,"quote":)" + kMinimal + R"(,"routes":[]})"),
      reads("keys reordered, unknown keys skipped", "TradingPair",
            R"({"is_active":true,"quote":)" + kMinimal + R"(,"Price":1.5,"base":)" + kMinimal +
                R"(,"fee_tier":{"x":[null]},"id":"p"})",
            R"({"id":"p","base":)" + kMinimal + R"(,"quote":)" + kMinimal + R"(,"is_active":true})"),
      reads("asset members of a tradable asset are skipped", "TradingPair",
            R"({"base":{"ticker":"A","name":"a","precision":0,"is_active":true,"added_at":1,"supported_layers":[]},)"
            R"("quote":)" +
                kMinimal + "}",
            R"({"base":)" + kMinimal + R"(,"quote":)" + kMinimal + "}"),

      reads("pair as 6 elements", "TradingPair",
            R"(["p",["A","a",0,null,null,null,null,null],)" + kMinimal + R"(,"1.0",[["BTC_L1","BTC_LN"]],null])",
            R"({"id":"p","base":{"ticker":"A","name":"a","precision":0,"media":null,"issued_supply":null,)"
            R"("timestamp":null},"quote":)" +
                kMinimal + R"(,"price":"1.0","routes":[{"from_layer":"BTC_L1","to_layer":"BTC_LN"}]})"),
      reads("pairs response as 5 elements", "TradingPairsResponse", "[[],1,2,3,4]",
            R"({"pairs":[],"total":1,"limit":2,"offset":3,"timestamp":4})"),
  });
}

TEST(TradingPairRecords, Errors) {
  run_probe_table({
      fails("price as a number", "TradingPair", R"({"price":1.5})",
            "invalid type: floating point `1.5`, expected a string at line 1 column 12"),
      fails("quote missing", "TradingPair", R"({"base":)" + kMinimal + "}",
            "missing field `quote` at line 1 column 48"),
      fails("base missing reported before quote", "TradingPair", "{}", "missing field `base` at line 1 column 2"),
      fails("base null", "TradingPair", R"({"base":null})",
            "invalid type: null, expected struct TradableAsset at line 1 column 12"),
      fails("duplicate price after null", "TradingPair", R"({"price":null,"price":"1"})",
            "duplicate field `price` at line 1 column 21"),
      fails("route without to_layer", "TradingPair", R"({"routes":[{"from_layer":"BTC_L1"}]})",
            "missing field `to_layer` at line 1 column 34"),
      fails("routes as an object", "TradingPair", R"({"routes":{}})",
            "invalid type: map, expected a sequence at line 1 column 10"),
      fails("is_active as a number", "TradingPair", R"({"is_active":1})",
            "invalid type: integer `1`, expected a boolean at line 1 column 14"),
      fails("error inside a tradable asset", "TradingPair", R"({"base":{"ticker":"A","name":"a","precision":"8"}})",
            R"(invalid type: string "8", expected i64 at line 1 column 48)"),
      fails("response without timestamp", "TradingPairsResponse", R"({"pairs":[],"total":0,"limit":1,"offset":0})",
            "missing field `timestamp` at line 1 column 43"),
      fails("response missing pairs and total names pairs", "TradingPairsResponse", R"({"limit":1})",
            "missing field `pairs` at line 1 column 11"),
      fails("pairs null", "TradingPairsResponse", R"({"pairs":null})",
            "invalid type: null, expected a sequence at line 1 column 13"),
      fails("one bad pair fails the listing", "TradingPairsResponse",
            R"({"pairs":[{"base":)" + kMinimal + R"(,"quote":)" + kMinimal + R"(},{"base":)" + kMinimal +
                R"(}],"total":2,"limit":1,"offset":0,"timestamp":0})",
            "missing field `quote` at line 1 column 155"),

      fails("pair as 2 elements", "TradingPair", R"([null,["A","a",0,null,null,null,null,null]])",
            "invalid length 2, expected struct TradingPair with 6 elements at line 1 column 43"),
      fails("pair as 3 elements", "TradingPair", "[null," + kMinimal + "," + kMinimal + "]",
            "invalid length 4, expected struct TradingPair with 6 elements at line 1 column 86"),
      fails("pair as 4 elements", "TradingPair", "[null," + kMinimal + "," + kMinimal + ",null]",
            "invalid length 4, expected struct TradingPair with 6 elements at line 1 column 91"),
      fails("pair as 5 elements", "TradingPair", "[null," + kMinimal + "," + kMinimal + ",null,null]",
            "invalid length 5, expected struct TradingPair with 6 elements at line 1 column 96"),
      fails("route as 1 element", "SwapRoute", R"(["BTC_L1"])",
            "invalid length 1, expected struct SwapRoute with 2 elements at line 1 column 10"),
      fails("route as 0 elements", "SwapRoute", " [ ] ",
            "invalid length 0, expected struct SwapRoute with 2 elements at line 1 column 4"),
      fails("response as 4 elements", "TradingPairsResponse", "[[],1,2,3]",
            "invalid length 4, expected struct TradingPairsResponse with 5 elements at line 1 column 10"),
      fails("route as 3 elements", "SwapRoute", R"(["a","b","c"])", "trailing characters at line 1 column 10"),
  });
}

}  // namespace
}  // namespace zephlar::testing
