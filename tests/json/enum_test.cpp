// The nine enumerations: wire names, the unknown-name lists, the object form,
// the refused value kinds, the variant-or-null members and layer_from_name.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json/json.hpp"
#include "core/json/record.hpp"
#include "core/models/enums.hpp"
#include "tests/json/case_table.hpp"

namespace zephlar::enum_records {

// The member forms enumerations take in records.
struct Holder {
  models::Layer layer{};
  std::optional<models::SwapOrderStatus> status;
  json::TriState<models::PaymentStatus> payment_status;
  json::TriState<models::AssetDeliveryStatus> delivery;
};
ZEPH_RECORD(Holder, "Holder", ZEPH_FIELD(layer, required), ZEPH_FIELD(status, optional),
            ZEPH_FIELD(payment_status, three_state), ZEPH_FIELD(delivery, three_state))

}  // namespace zephlar::enum_records

namespace zephlar::testing {
namespace {

using namespace models;

struct EnumList {
  std::string_view type;
  std::vector<std::string_view> wire;  // in declaration order
  std::string expected;                // the text after "expected "
};

const std::vector<EnumList>& all_enums() {
  static const std::vector<EnumList> lists = {
      {"Layer",
       {"BTC_L1", "BTC_LN", "BTC_SPARK", "BTC_ARKADE", "BTC_LIQUID", "BTC_CASHU", "RGB_L1", "RGB_LN", "TAPASS_L1",
        "TAPASS_LN", "LIQUID_LIQUID", "ARKADE_ARKADE", "SPARK_SPARK"},
       "one of `BTC_L1`, `BTC_LN`, `BTC_SPARK`, `BTC_ARKADE`, `BTC_LIQUID`, `BTC_CASHU`, `RGB_L1`, `RGB_LN`, "
       "`TAPASS_L1`, `TAPASS_LN`, `LIQUID_LIQUID`, `ARKADE_ARKADE`, `SPARK_SPARK`"},
      {"SwapOrderStatus",
       {"OPEN", "PENDING_PAYMENT", "PAID", "EXECUTING", "FILLED", "CANCELLED", "EXPIRED", "FAILED",
        "PENDING_RATE_DECISION"},
       "one of `OPEN`, `PENDING_PAYMENT`, `PAID`, `EXECUTING`, `FILLED`, `CANCELLED`, `EXPIRED`, `FAILED`, "
       "`PENDING_RATE_DECISION`"},
      {"PaymentStatus",
       {"NOT_PAID", "UNDERPAID", "PAID", "OVERPAID"},
       "one of `NOT_PAID`, `UNDERPAID`, `PAID`, `OVERPAID`"},
      {"SwapStatus",
       {"Waiting", "Pending", "Succeeded", "Expired", "Failed"},
       "one of `Waiting`, `Pending`, `Succeeded`, `Expired`, `Failed`"},
      {"OrderState",
       {"CREATED", "CHANNEL_OPENING", "COMPLETED", "FAILED", "PENDING_RATE_DECISION"},
       "one of `CREATED`, `CHANNEL_OPENING`, `COMPLETED`, `FAILED`, `PENDING_RATE_DECISION`"},
      {"Network", {"Mainnet", "Testnet", "Signet", "Regtest"}, "one of `Mainnet`, `Testnet`, `Signet`, `Regtest`"},
      {"AssetDeliveryStatus",
       {"NOT_REQUIRED", "PENDING", "IN_PROGRESS", "COMPLETED", "FAILED", "RATE_CHANGED"},
       "one of `NOT_REQUIRED`, `PENDING`, `IN_PROGRESS`, `COMPLETED`, `FAILED`, `RATE_CHANGED`"},
      {"LspPaymentState",
       {"EXPECT_PAYMENT", "HOLD", "PAID", "REFUNDED", "TO_REFUND"},
       "one of `EXPECT_PAYMENT`, `HOLD`, `PAID`, `REFUNDED`, `TO_REFUND`"},
      {"AddressFormat",
       {"BTC_ADDRESS", "BOLT11", "BOLT12", "LN_ADDRESS", "RGB_INVOICE", "LIQUID_ADDRESS", "LIQUID_INVOICE",
        "SPARK_ADDRESS", "SPARK_INVOICE", "ARKADE_ADDRESS", "ARKADE_INVOICE", "CASHU_TOKEN"},
       "one of `BTC_ADDRESS`, `BOLT11`, `BOLT12`, `LN_ADDRESS`, `RGB_INVOICE`, `LIQUID_ADDRESS`, `LIQUID_INVOICE`, "
       "`SPARK_ADDRESS`, `SPARK_INVOICE`, `ARKADE_ADDRESS`, `ARKADE_INVOICE`, `CASHU_TOKEN`"},
  };
  return lists;
}

std::string in_quotes(std::string_view s) { return "\"" + std::string(s) + "\""; }

std::string unknown(const EnumList& e, std::string_view text, int column) {
  return at("unknown variant `" + std::string(text) + "`, expected " + e.expected, 1, column);
}

// Every wire name reads (as a string and in object form) and writes back as
// itself; anything else is refused with the enumeration's own list.
TEST(JsonEnums, WireNamesAndUnknownNames) {
  for (const EnumList& e : all_enums()) {
    std::vector<ProbeCase> cases;
    for (std::string_view wire : e.wire) {
      cases.push_back({e.type, in_quotes(wire), true, in_quotes(wire)});
      cases.push_back({e.type, "{ " + in_quotes(wire) + " :\tnull }", true, in_quotes(wire)});
      // Case and blanks count.
      std::string lower(wire);
      for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
      cases.push_back({e.type, in_quotes(lower), false, unknown(e, lower, static_cast<int>(lower.size()) + 2)});
      const std::string blank = std::string(wire) + " ";
      cases.push_back({e.type, in_quotes(blank), false, unknown(e, blank, static_cast<int>(blank.size()) + 2)});
    }
    cases.push_back({e.type, R"("")", false, unknown(e, "", 2)});
    cases.push_back({e.type, R"("nope")", false, unknown(e, "nope", 6)});
    cases.push_back({e.type, R"({"nope":null})", false, unknown(e, "nope", 7)});
    run_probe_cases(cases);
  }
}

// The ordinal of each variant is its place in the list; it is never read.
template <class E>
void expect_ordinals(std::string_view type) {
  for (const EnumList& e : all_enums()) {
    if (e.type != type) continue;
    for (std::size_t k = 0; k < e.wire.size(); ++k) {
      SCOPED_TRACE(e.wire[k]);
      const auto read = json::from_response_body<E>(in_quotes(e.wire[k]));
      ASSERT_TRUE(read.ok());
      EXPECT_EQ(static_cast<std::size_t>(read.value()), k);
    }
    return;
  }
  FAIL() << "no list for " << type;
}

TEST(JsonEnums, Ordinals) {
  expect_ordinals<Layer>("Layer");
  expect_ordinals<SwapOrderStatus>("SwapOrderStatus");
  expect_ordinals<PaymentStatus>("PaymentStatus");
  expect_ordinals<SwapStatus>("SwapStatus");
  expect_ordinals<OrderState>("OrderState");
  expect_ordinals<Network>("Network");
  expect_ordinals<AssetDeliveryStatus>("AssetDeliveryStatus");
  expect_ordinals<LspPaymentState>("LspPaymentState");
  expect_ordinals<AddressFormat>("AddressFormat");

  const auto from_host = json::from_caller_text<Layer>(R"("BTC_LN")");
  ASSERT_TRUE(from_host.ok());
  EXPECT_EQ(from_host.value(), Layer::BTC_LN);
  EXPECT_EQ(json::to_json(AddressFormat::CASHU_TOKEN), R"("CASHU_TOKEN")");
}

// The same word in two enumerations means nothing to the other one.
TEST(JsonEnums, EachReaderKnowsOnlyItsOwnNames) {
  const auto& e = all_enums();
  const EnumList& swap_order_status = e[1];
  const EnumList& swap_status = e[3];
  run_probe_cases({
      {"SwapStatus", R"("Expired")", true, R"("Expired")"},
      {"SwapStatus", R"("EXPIRED")", false, unknown(swap_status, "EXPIRED", 9)},
      {"SwapStatus", R"("WAITING")", false, unknown(swap_status, "WAITING", 9)},
      {"SwapStatus", R"("waiting")", false, unknown(swap_status, "waiting", 9)},
      {"SwapOrderStatus", R"("EXPIRED")", true, R"("EXPIRED")"},
      {"SwapOrderStatus", R"("Expired")", false, unknown(swap_order_status, "Expired", 9)},
      {"SwapOrderStatus", R"("PAID")", true, R"("PAID")"},
      {"PaymentStatus", R"("PAID")", true, R"("PAID")"},
      {"LspPaymentState", R"("PAID")", true, R"("PAID")"},
  });
}

TEST(JsonEnums, OtherValueForms) {
  const EnumList& layer = all_enums()[0];
  run_probe_cases({
      // Escapes are decoded before matching; the received text is shown
      // unescaped.
      {"Layer", R"("\u0042TC_L1")", true, R"("BTC_L1")"},
      {"Layer", R"("a\"b")", false, unknown(layer, "a\"b", 6)},
      {"Layer", " \n\"RGB_LN\" ", true, R"("RGB_LN")"},
      // Anything but a string or an object is no variant, at its first byte.
      {"Layer", "1", false, at("expected value", 1, 1)},
      {"Layer", "  0", false, at("expected value", 1, 3)},
      {"Layer", "true", false, at("expected value", 1, 1)},
      {"Layer", "null", false, at("expected value", 1, 1)},
      {"Layer", "[\"RGB_LN\"]", false, at("expected value", 1, 1)},
      {"Layer", "", false, at("EOF while parsing a value", 1, 0)},
      {"Layer", "  ", false, at("EOF while parsing a value", 1, 2)},
      {"Layer", "\"RGB_LN", false, at("EOF while parsing a string", 1, 7)},
      {"Layer", "\"RGB_LN\" x", false, at("trailing characters", 1, 10)},
      // Object form: one key, and null as its value.
      {"Layer", R"({"RGB_LN":1})", false, at("invalid type: integer `1`, expected unit", 1, 11)},
      {"Layer", R"({"RGB_LN":"x"})", false, at("invalid type: string \"x\", expected unit", 1, 13)},
      {"Layer", R"({"RGB_LN":true})", false, at("invalid type: boolean `true`, expected unit", 1, 14)},
      {"Layer", R"({"RGB_LN":[]})", false, at("invalid type: sequence, expected unit", 1, 10)},
      {"Layer", R"({"RGB_LN":{}})", false, at("invalid type: map, expected unit", 1, 10)},
      {"Layer", R"({"RGB_LN":null,"x":1})", false, at("expected value", 1, 15)},
      {"Layer", R"({"RGB_LN":null,"RGB_LN":null})", false, at("expected value", 1, 15)},
      {"Layer", "{}", false, at("expected value", 1, 2)},
      {"Layer", "{ }", false, at("expected value", 1, 3)},
      {"Layer", R"({1:null})", false, at("invalid type: integer `1`, expected variant identifier", 1, 2)},
      {"Layer", R"({null:null})", false, at("invalid type: null, expected variant identifier", 1, 5)},
      {"Layer", R"({[]:null})", false, at("invalid type: sequence, expected variant identifier", 1, 1)},
      {"Layer", R"({"RGB_LN"})", false, at("expected `:`", 1, 10)},
      {"Layer", R"({"RGB_LN")", false, at("EOF while parsing an object", 1, 9)},
      {"Layer", R"({"RGB_LN":})", false, at("expected value", 1, 11)},
      {"Layer", R"({"RGB_LN":)", false, at("EOF while parsing a value", 1, 10)},
      {"Layer", R"({"RGB_LN":nul})", false, at("expected ident", 1, 14)},
      {"Layer", R"({"RGB_LN":nu)", false, at("EOF while parsing a value", 1, 12)},
      {"Layer", R"({"RGB_LN":null)", false, at("EOF while parsing an object", 1, 14)},
      {"AddressFormat", R"({"BOLT12":null})", true, R"("BOLT12")"},
  });
}

TEST(JsonEnums, MembersThatMayBeNull) {
  const EnumList& swap_order_status = all_enums()[1];
  run_typed_cases<enum_records::Holder>({
      {R"({"layer":"RGB_LN"})", true, R"({"layer":"RGB_LN"})"},
      {R"({"layer":"RGB_LN","status":null,"payment_status":null,"delivery":null})", true,
       R"({"layer":"RGB_LN","payment_status":null,"delivery":null})"},
      {R"({"layer":"RGB_LN","status":"FILLED","payment_status":"OVERPAID","delivery":{"RATE_CHANGED":null}})", true,
       R"({"layer":"RGB_LN","status":"FILLED","payment_status":"OVERPAID","delivery":"RATE_CHANGED"})"},
      {R"(["BTC_L1",null])", true, R"({"layer":"BTC_L1"})"},
      // A required enumeration refuses null like any other non-name.
      {R"({"layer":null})", false, at("expected value", 1, 10)},
      {"{}", false, at("missing field `layer`", 1, 2)},
      {R"({"status":nul})", false, at("expected ident", 1, 14)},
      {R"({"status":nux})", false, at("expected ident", 1, 13)},
      {R"({"status":n)", false, at("EOF while parsing a value", 1, 11)},
      {R"({"status":)", false, at("EOF while parsing a value", 1, 10)},
      {R"({"status":1})", false, at("expected value", 1, 11)},
      {R"({"status":"Expired"})", false, unknown(swap_order_status, "Expired", 19)},
  });
}

TEST(JsonEnums, LayerFromPlainName) {
  const struct {
    std::string_view name;
    std::optional<Layer> layer;
  } cases[] = {
      {"BTC_L1", Layer::BTC_L1},
      {"BTC_LN", Layer::BTC_LN},
      {"BTC_SPARK", Layer::BTC_SPARK},
      {"BTC_ARKADE", Layer::BTC_ARKADE},
      {"BTC_LIQUID", Layer::BTC_LIQUID},
      {"BTC_CASHU", Layer::BTC_CASHU},
      {"RGB_L1", Layer::RGB_L1},
      {"RGB_LN", Layer::RGB_LN},
      {"LIQUID_LIQUID", Layer::LIQUID_LIQUID},
      {"ARKADE_ARKADE", Layer::ARKADE_ARKADE},
      {"SPARK_SPARK", Layer::SPARK_SPARK},
      // Wire names, but not layers a quote can be asked for.
      {"TAPASS_L1", std::nullopt},
      {"TAPASS_LN", std::nullopt},
      {"rgb_ln", std::nullopt},
      {"RGB_LN ", std::nullopt},
      {"\"RGB_LN\"", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(layer_from_name(c.name), c.layer);
  }
}

}  // namespace
}  // namespace zephlar::testing
