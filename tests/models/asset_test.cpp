// Asset records: Asset, TradableAsset, Media, TradingLimits, AssetsResponse.
#include <gtest/gtest.h>

#include <string>

#include "tests/models/probe_table.hpp"

namespace zephlar::testing {
namespace {

const std::string kMedia = R"({"file_path":"/media/usdt.png","digest":"9f86d081884c7d65","mime":"image/png"})";
const std::string kEndpoints = R"([{"layer":"RGB_LN","min_amount":1000,"max_amount":100000000,"is_active":true},)"
                               R"({"layer":"RGB_L1","min_amount":0,"max_amount":5000000000,"is_active":false},)"
                               R"({"layer":"rgb_ln","min_amount":50,"max_amount":10}])";
const std::string kTradable = R"({"ticker":"USDT","name":"Tether \"USD\" – é","precision":6,)"
                              R"("protocol_ids":{"RGB":"rgb:2dkSTbr-jFhznbPmo-TQafzswCN","TAPASS":"0x4ab1"},)"
                              R"("media":)" +
                              kMedia + R"(,"issued_supply":1000000000000,"timestamp":1718000000,"endpoints":)" +
                              kEndpoints;
const std::string kAsset =
    kTradable + R"(,"is_active":true,"added_at":1717000000,"supported_layers":["RGB_L1","RGB_LN","SOME_L9"]})";

TEST(AssetRecords, ReadAndWriteBack) {
  run_probe_table({
      // Complete instances, each written back byte for byte.
      same("full asset", "Asset", kAsset),
      same("full tradable asset", "TradableAsset", kTradable + "}"),
      same("media", "Media", kMedia),
      same("limits", "TradingLimits", R"({"layer":"BTC_LN","min_amount":-5,"max_amount":-10,"is_active":false})"),
      same("assets response", "AssetsResponse",
           R"({"assets":[)" + kAsset +
               R"(,{"ticker":"BTC","name":"Bitcoin","precision":8}],)"
               R"("network":"weird-net","total":2,"limit":50,"offset":0,"timestamp":1718000001})"),

      // Kinds: three-state keeps null apart from absent, optional drops null.
      same("only the required members", "Asset", R"({"ticker":"BTC","name":"Bitcoin","precision":0})"),
      reads("every non-required member null", "Asset",
            R"({"ticker":"BTC","name":"Bitcoin","precision":8,"protocol_ids":null,"media":null,)"
            R"("issued_supply":null,"timestamp":null,"endpoints":null,"is_active":null,"added_at":null,)"
            R"("supported_layers":null})",
            R"({"ticker":"BTC","name":"Bitcoin","precision":8,"media":null,"issued_supply":null,)"
            R"("timestamp":null,"added_at":null,"supported_layers":null})"),
      same("empty map and empty lists are values", "Asset",
           R"({"ticker":"X","name":"","precision":-2,"protocol_ids":{},"endpoints":[],"supported_layers":[]})"),
      reads("a repeated protocol id keeps the last value", "Asset",
            R"({"ticker":"X","name":"x","precision":1,"protocol_ids":{"RGB":"a","RGB":"b"}})",
            R"({"ticker":"X","name":"x","precision":1,"protocol_ids":{"RGB":"b"}})"),
      reads("keys in any order, unknown keys and white space", "Asset",
            " {\"supported_layers\" : [\"BTC_L1\"],\n\"extra\":{\"a\":[1,{}]}, \"precision\":8,"
            "\"Ticker\":1,\"ticker \":2,\"name\":\"Bitcoin\",\"ticker\":\"BTC\",\"media\":null} ",
            R"({"ticker":"BTC","name":"Bitcoin","precision":8,"media":null,"supported_layers":["BTC_L1"]})"),
      reads("limits with is_active null", "TradingLimits",
            R"({"layer":"BTC_L1","min_amount":1,"max_amount":2,"is_active":null})",
            R"({"layer":"BTC_L1","min_amount":1,"max_amount":2})"),
      reads("asset written for an Asset reads as a TradableAsset", "TradableAsset", kAsset, kTradable + "}"),
      same("empty asset list", "AssetsResponse", R"({"assets":[],"total":0,"limit":50,"offset":0})"),

      // Array forms.
      reads("asset as 11 elements", "Asset",
            R"(["BTC","Bitcoin",8,{"RGB":"r"},["/p","d","image/png"],21,null,[["BTC_L1",1,2,null]],true,5,["BTC_L1"]])",
            R"({"ticker":"BTC","name":"Bitcoin","precision":8,"protocol_ids":{"RGB":"r"},)"
            R"("media":{"file_path":"/p","digest":"d","mime":"image/png"},"issued_supply":21,"timestamp":null,)"
            R"("endpoints":[{"layer":"BTC_L1","min_amount":1,"max_amount":2}],"is_active":true,"added_at":5,)"
            R"("supported_layers":["BTC_L1"]})"),
      reads("asset as 9 elements leaves the last two absent", "Asset",
            R"(["BTC","Bitcoin",8,null,null,null,null,null,false])",
            R"({"ticker":"BTC","name":"Bitcoin","precision":8,"media":null,"issued_supply":null,"timestamp":null,)"
            R"("is_active":false})"),
      reads("asset as 10 elements", "Asset", R"(["BTC","Bitcoin",8,null,null,null,null,null,null,7])",
            R"({"ticker":"BTC","name":"Bitcoin","precision":8,"media":null,"issued_supply":null,"timestamp":null,)"
            R"("added_at":7})"),
      reads("tradable asset as 8 elements", "TradableAsset", R"(["BTC","Bitcoin",8,null,null,1,2,[]])",
            R"({"ticker":"BTC","name":"Bitcoin","precision":8,"media":null,"issued_supply":1,"timestamp":2,)"
            R"("endpoints":[]})"),
      reads("assets response as 5 elements", "AssetsResponse", R"([[],"regtest",0,10,20])",
            R"({"assets":[],"network":"regtest","total":0,"limit":10,"offset":20})"),
      reads("media and limits as arrays", "Media", R"(["a","b","c"])", R"({"file_path":"a","digest":"b","mime":"c"})"),
  });
}

TEST(AssetRecords, Errors) {
  run_probe_table({
      fails("empty object", "Asset", "{}", "missing field `ticker` at line 1 column 2"),
      fails("first missing in declaration order", "Asset", R"({"ticker":"A","is_active":true})",
            "missing field `name` at line 1 column 31"),
      fails("precision missing", "TradableAsset", R"({"name":"n","ticker":"A"})",
            "missing field `precision` at line 1 column 25"),
      fails("duplicate three-state member after null", "Asset", R"({"media":null,"media":null})",
            "duplicate field `media` at line 1 column 21"),
      fails("duplicate optional member", "TradableAsset", R"({"endpoints":[],"endpoints" :[]})",
            "duplicate field `endpoints` at line 1 column 28"),
      fails("null for a required text", "Asset", R"({"ticker":null})",
            "invalid type: null, expected a string at line 1 column 14"),
      fails("protocol id that is not a string", "Asset",
            R"({"ticker":"A","name":"n","precision":1,"protocol_ids":{"RGB":1}})",
            "invalid type: integer `1`, expected a string at line 1 column 62"),
      fails("protocol ids as a list", "Asset", R"({"ticker":"A","name":"n","precision":1,"protocol_ids":[]})",
            "invalid type: sequence, expected a map at line 1 column 54"),
      fails("supported layer that is not a string", "Asset", R"({"supported_layers":["BTC_L1",true]})",
            "invalid type: boolean `true`, expected a string at line 1 column 34"),
      fails("precision as float", "Asset", R"({"precision":8.0})",
            "invalid type: floating point `8.0`, expected i64 at line 1 column 16"),
      fails("media as a string", "Asset", R"({"media":"x"})",
            R"(invalid type: string "x", expected struct Media at line 1 column 12)"),
      fails("media missing mime", "TradableAsset", R"({"media":{"file_path":"p","digest":"d"}})",
            "missing field `mime` at line 1 column 39"),
      fails("endpoints as an object", "Asset", R"({"endpoints":{}})",
            "invalid type: map, expected a sequence at line 1 column 13"),
      fails("limit missing max_amount inside the list", "Asset",
            R"({"endpoints":[{"layer":"L","min_amount":1,"max_amount":2},{"layer":"L","min_amount":1}]})",
            "missing field `max_amount` at line 1 column 86"),
      fails("limits is_active as a string", "TradingLimits", R"({"is_active":"true"})",
            R"(invalid type: string "true", expected a boolean at line 1 column 19)"),
      fails(
          "one bad asset fails the whole list", "AssetsResponse",
          R"({"assets":[{"ticker":"A","name":"a","precision":1},{"ticker":"B","name":"b"}],"total":2,"limit":2,"offset":0})",
          "missing field `precision` at line 1 column 76"),
      fails("assets response without total", "AssetsResponse", R"({"assets":[],"limit":1,"offset":0})",
            "missing field `total` at line 1 column 34"),
      fails("assets null", "AssetsResponse", R"({"assets":null})",
            "invalid type: null, expected a sequence at line 1 column 14"),
      fails("asset as a number", "Asset", "12", "invalid type: integer `12`, expected struct Asset at line 1 column 2"),
      fails("asset as null inside the list", "AssetsResponse", R"({"assets":[null]})",
            "invalid type: null, expected struct Asset at line 1 column 15"),

      // Short arrays report the first member that needs an element.
      fails("asset as 0 elements", "Asset", "[]",
            "invalid length 0, expected struct Asset with 11 elements at line 1 column 2"),
      fails("asset as 3 elements", "Asset", R"(["A","a",1])",
            "invalid length 3, expected struct Asset with 11 elements at line 1 column 11"),
      fails("asset as 5 elements", "Asset", R"(["A","a",1,null,null])",
            "invalid length 7, expected struct Asset with 11 elements at line 1 column 21"),
      fails("asset as 8 elements", "Asset", R"(["A","a",1,null,null,null,null,null])",
            "invalid length 8, expected struct Asset with 11 elements at line 1 column 36"),
      fails("asset as 12 elements", "Asset", R"(["A","a",1,null,null,null,null,null,null,null,null,0])",
            "trailing characters at line 1 column 52"),
      fails("tradable asset as 7 elements", "TradableAsset", R"(["A","a",1,null,null,null,null])",
            "invalid length 7, expected struct TradableAsset with 8 elements at line 1 column 31"),
      fails("tradable asset as 2 elements", "TradableAsset", R"(["A","a"])",
            "invalid length 2, expected struct TradableAsset with 8 elements at line 1 column 9"),
      fails("assets response as 4 elements", "AssetsResponse", R"([[],null,0,1])",
            "invalid length 4, expected struct AssetsResponse with 6 elements at line 1 column 13"),
      fails("media as 2 elements", "Media", R"(["a","b"])",
            "invalid length 2, expected struct Media with 3 elements at line 1 column 9"),
      fails("limits as 3 elements", "TradingLimits", R"(["L",1,2])",
            "invalid length 3, expected struct TradingLimits with 4 elements at line 1 column 9"),
  });
}

}  // namespace
}  // namespace zephlar::testing
