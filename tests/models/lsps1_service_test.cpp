// LSPS1 service records: GetInfoResponseModel with OrderOptions and
// AssetsOptions, NetworkInfoResponse, ChannelFees and the fee-estimate body.
#include "core/models/lsps1_service.hpp"

#include <gtest/gtest.h>

#include <string>

#include "core/json/json.hpp"
#include "tests/models/probe_table.hpp"

namespace zephlar::testing {
namespace {

const std::string kOptions = R"({"min_required_channel_confirmations":0,"min_funding_confirms_within_blocks":6,)"
                             R"("min_onchain_payment_confirmations":1,"supports_zero_channel_reserve":true,)"
                             R"("min_onchain_payment_size_sat":-1,"max_channel_expiry_blocks":20160,)"
                             R"("min_initial_client_balance_sat":0,"max_initial_client_balance_sat":100000000,)"
                             R"("min_initial_lsp_balance_sat":20000,"max_initial_lsp_balance_sat":200000000,)"
                             R"("min_channel_balance_sat":50000,"max_channel_balance_sat":300000000})";
const std::string kAssetOptions =
    R"({"name":"Tether USD","asset_id":"rgb:2dkSTbr-jFhznbPmo-TQafzswCN","ticker":"USDT","precision":6,)"
    R"("issued_supply":1000000000000,"min_initial_client_amount":0,"max_initial_client_amount":1000000,)"
    R"("min_initial_lsp_amount":0,"max_initial_lsp_amount":5000000,"min_channel_amount":1,)"
    R"("max_channel_amount":5000000})";
const std::string kInfo = R"({"lsp_connection_url":"03b8e5f1a2c4@lsp.example:9735","options":)" + kOptions +
                          R"(,"assets":[)" + kAssetOptions + R"(,{"asset_id":null,"precision":300}]})";

TEST(Lsps1ServiceRecords, ReadAndWriteBack) {
  run_probe_table({
      // Complete instances.
      same("full service information", "GetInfoResponseModel", kInfo),
      same("network info", "NetworkInfoResponse", R"({"network":"Regtest","height":840000})"),
      same("channel fees", "ChannelFees",
           R"({"setup_fee":1000,"capacity_fee":2500,"duration_fee":-30,"total_fee":3470,)"
           R"("applied_discount":0.1,"discount_code":"SPRING\"24\""})"),

      // Empty nested values stay empty.
      same("empty options, no assets", "GetInfoResponseModel", R"({"lsp_connection_url":"","options":{},"assets":[]})"),
      same("assets element with only asset_id null", "AssetsOptions", R"({"asset_id":null})"),

      // Optional members drop null, three-state members keep it.
      reads(
          "options with nulls", "OrderOptions",
          R"({"min_required_channel_confirmations":null,"min_onchain_payment_confirmations":null,)"
          R"("supports_zero_channel_reserve":false,"min_onchain_payment_size_sat":null,"max_channel_balance_sat":null})",
          R"({"min_onchain_payment_confirmations":null,"supports_zero_channel_reserve":false,)"
          R"("min_onchain_payment_size_sat":null})"),
      reads("asset with asset_id and name null", "AssetsOptions", R"({"name":null,"asset_id":null,"ticker":"T"})",
            R"({"asset_id":null,"ticker":"T"})"),

      // A float written as a float; three-state absent and null.
      reads("integer discount", "ChannelFees",
            R"({"setup_fee":1,"capacity_fee":2,"duration_fee":3,"total_fee":6,"applied_discount":10})",
            R"({"setup_fee":1,"capacity_fee":2,"duration_fee":3,"total_fee":6,"applied_discount":10.0})"),
      same(
          "null discount and code", "ChannelFees",
          R"({"setup_fee":1,"capacity_fee":2,"duration_fee":3,"total_fee":6,"applied_discount":null,"discount_code":null})"),
      same("fees without discount", "ChannelFees",
           R"({"setup_fee":1,"capacity_fee":2,"duration_fee":3,"total_fee":6})"),
      reads(
          "exponent discount", "ChannelFees", R"([0,0,0,0,1e-7,"c"])",
          R"({"setup_fee":0,"capacity_fee":0,"duration_fee":0,"total_fee":0,"applied_discount":1e-7,"discount_code":"c"})"),

      // Array forms.
      reads("fees as 4 integers", "ChannelFees", "[1,2,3,6]",
            R"({"setup_fee":1,"capacity_fee":2,"duration_fee":3,"total_fee":6})"),
      reads("options as 12 elements", "OrderOptions", "[1,null,null,true,5,null,null,null,null,null,null,12]",
            R"({"min_required_channel_confirmations":1,"min_onchain_payment_confirmations":null,)"
            R"("supports_zero_channel_reserve":true,"min_onchain_payment_size_sat":5,"max_channel_balance_sat":12})"),
      reads(
          "service information as an array", "GetInfoResponseModel",
          R"(["u",{},[{"ticker":"X"},[null,"id","T",0,1,2,3,4,5,6,7]]])",
          R"({"lsp_connection_url":"u","options":{},"assets":[{"ticker":"X"},{"asset_id":"id","ticker":"T",)"
          R"("precision":0,"issued_supply":1,"min_initial_client_amount":2,"max_initial_client_amount":3,)"
          R"("min_initial_lsp_amount":4,"max_initial_lsp_amount":5,"min_channel_amount":6,"max_channel_amount":7}]})"),
      reads("network info as an array", "NetworkInfoResponse", R"(["Mainnet",1])",
            R"({"network":"Mainnet","height":1})"),
  });
}

TEST(Lsps1ServiceRecords, Errors) {
  run_probe_table({
      // Missing and mistyped members of the service information.
      fails("without assets", "GetInfoResponseModel", R"({"lsp_connection_url":"u","options":{}})",
            "missing field `assets` at line 1 column 39"),
      fails("without options and assets", "GetInfoResponseModel", R"({"lsp_connection_url":"u"})",
            "missing field `options` at line 1 column 26"),
      fails("options null", "GetInfoResponseModel", R"({"options":null})",
            "invalid type: null, expected struct OrderOptions at line 1 column 15"),
      fails("assets null", "GetInfoResponseModel", R"({"assets":null})",
            "invalid type: null, expected a sequence at line 1 column 14"),
      fails("assets an object", "GetInfoResponseModel", R"({"assets":{}})",
            "invalid type: map, expected a sequence at line 1 column 10"),
      fails("fractional precision in an asset", "GetInfoResponseModel",
            R"({"lsp_connection_url":"u","options":{},"assets":[{},{"precision":2.5}]})",
            "invalid type: floating point `2.5`, expected i64 at line 1 column 68"),
      fails("mistyped option", "GetInfoResponseModel", R"({"options":{"supports_zero_channel_reserve":1}})",
            "invalid type: integer `1`, expected a boolean at line 1 column 45"),
      fails("repeated option after null", "OrderOptions",
            R"({"max_channel_balance_sat":null,"max_channel_balance_sat":1})",
            "duplicate field `max_channel_balance_sat` at line 1 column 57"),
      fails("repeated asset_id", "AssetsOptions", R"({"asset_id":null,"asset_id":null})",
            "duplicate field `asset_id` at line 1 column 27"),

      // The network is an enumeration; the discount a float.
      fails("lower-case network", "NetworkInfoResponse", R"({"network":"regtest","height":1})",
            "unknown variant `regtest`, expected one of `Mainnet`, `Testnet`, `Signet`, `Regtest` at line 1 column 20"),
      fails("network info without height", "NetworkInfoResponse", R"({"network":"Signet"})",
            "missing field `height` at line 1 column 20"),
      fails("text discount", "ChannelFees", R"({"applied_discount":"10%"})",
            R"(invalid type: string "10%", expected f64 at line 1 column 25)"),
      fails("fees without total_fee", "ChannelFees", R"({"setup_fee":1,"capacity_fee":2,"duration_fee":3})",
            "missing field `total_fee` at line 1 column 49"),
      fails("fee beyond i64", "ChannelFees", R"({"setup_fee":18446744073709551616})",
            "invalid type: floating point `1.8446744073709552e19`, expected i64 at line 1 column 33"),
      fails("fees as a string", "ChannelFees", R"("fees")",
            R"(invalid type: string "fees", expected struct ChannelFees at line 1 column 6)"),

      // Array forms too short, too long.
      fails("options as 2 elements", "OrderOptions", "[1,2]",
            "invalid length 3, expected struct OrderOptions with 12 elements at line 1 column 5"),
      fails("options as 4 elements", "OrderOptions", "[1,2,3,true]",
            "invalid length 5, expected struct OrderOptions with 12 elements at line 1 column 12"),
      fails("options as 11 elements", "OrderOptions", "[1,2,3,true,5,6,7,8,9,10,11]",
            "invalid length 11, expected struct OrderOptions with 12 elements at line 1 column 28"),
      fails("asset options as 1 element", "AssetsOptions", R"(["n"])",
            "invalid length 2, expected struct AssetsOptions with 11 elements at line 1 column 5"),
      fails("asset options as []", "AssetsOptions", "[]",
            "invalid length 0, expected struct AssetsOptions with 11 elements at line 1 column 2"),
      fails("service information as 2 elements", "GetInfoResponseModel", R"(["u",{}])",
            "invalid length 2, expected struct GetInfoResponseModel with 3 elements at line 1 column 8"),
      fails("network info as 1 element", "NetworkInfoResponse", R"(["Mainnet"])",
            "invalid length 1, expected struct NetworkInfoResponse with 2 elements at line 1 column 11"),
      fails("fees as 3 integers", "ChannelFees", "[1,2,3]",
            "invalid length 3, expected struct ChannelFees with 6 elements at line 1 column 7"),
      fails("fees as 7 elements", "ChannelFees", R"([1,2,3,4,null,null,"x"])",
            "trailing characters at line 1 column 20"),
  });
}

TEST(Lsps1ServiceRecords, FeeEstimateBody) {
  const auto zero = models::json_body_estimate_fees_request({0});
  EXPECT_EQ(zero.content_type, "application/json");
  EXPECT_EQ(zero.bytes, R"({"channel_size":0})");
  EXPECT_EQ(models::json_body_estimate_fees_request({-500000}).bytes, R"({"channel_size":-500000})");
}

}  // namespace
}  // namespace zephlar::testing
