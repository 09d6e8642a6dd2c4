// Compact writing: float layout, integers, text escaping, records, lists,
// maps, the untyped value, request bodies and the two member writers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/json/json.hpp"
#include "core/json/record.hpp"
#include "core/json/request_body.hpp"
#include "core/json/value.hpp"
#include "core/json/writer.hpp"
#include "core/models/quote.hpp"
#include "tests/json/case_table.hpp"

namespace zephlar::writing_records {

struct Sparse {
  std::optional<std::int64_t> opt;
  json::TriState<std::int64_t> tri;
  std::vector<std::string> list;
  std::map<std::string, std::int64_t> map;
};
ZEPH_RECORD(Sparse, "Sparse", ZEPH_FIELD(opt, optional), ZEPH_FIELD(tri, three_state), ZEPH_FIELD(list, defaulted),
            ZEPH_FIELD(map, defaulted))

struct AllLeftOut {
  std::optional<std::string> a;
  json::TriState<std::string> b;
};
ZEPH_RECORD(AllLeftOut, "AllLeftOut", ZEPH_FIELD(a, optional), ZEPH_FIELD(b, three_state))

}  // namespace zephlar::writing_records

namespace zephlar::testing {
namespace {

using json::JsonValue;

TEST(JsonWriting, FloatLayout) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1.0, "1.0"},
      {2.0, "2.0"},
      {100.0, "100.0"},
      {-1.5, "-1.5"},
      {1e15, "1000000000000000.0"},
      {1234567890123456.0, "1234567890123456.0"},
      {1e16, "1e16"},
      {2.5e16, "2.5e16"},
      {12345678901234567.0, "1.2345678901234568e16"},
      {1.2345678901234568e17, "1.2345678901234568e17"},
      {1e21, "1e21"},
      {1.5, "1.5"},
      {123.456, "123.456"},
      {0.1, "0.1"},
      {0.3, "0.3"},
      {0.0001, "0.0001"},
      {0.00001, "0.00001"},
      {1.25e-5, "0.0000125"},
      {1e-6, "1e-6"},
      {1e-7, "1e-7"},
      {-1e-7, "-1e-7"},
      {1.5e-7, "1.5e-7"},
      {5e-324, "5e-324"},
      {1.5e300, "1.5e300"},
      {1.7976931348623157e308, "1.7976931348623157e308"},
      {-1.7976931348623157e308, "-1.7976931348623157e308"},
      {std::nan(""), "null"},
      {inf, "null"},
      {-inf, "null"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(json::to_json(c.value), c.text);
  }
}

TEST(JsonWriting, Integers) {
  EXPECT_EQ(json::to_json(std::int64_t{0}), "0");
  EXPECT_EQ(json::to_json(std::int64_t{-1}), "-1");
  EXPECT_EQ(json::to_json(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(json::to_json(std::numeric_limits<std::int64_t>::max()), "9223372036854775807");
  EXPECT_EQ(json::to_json(std::uint8_t{0}), "0");
  EXPECT_EQ(json::to_json(std::uint8_t{255}), "255");
}

TEST(JsonWriting, TextEscaping) {
  const struct {
    std::string text;
    std::string json;
  } cases[] = {
      {"", R"("")"},
      {"plain text", R"("plain text")"},
      {std::string("\0", 1), R"("\u0000")"},
      {"\x01", R"("\u0001")"},
      {"\x07", R"("\u0007")"},
      {"\b", R"("\b")"},
      {"\t", R"("\t")"},
      {"\n", R"("\n")"},
      {"\x0B", R"("\u000b")"},
      {"\f", R"("\f")"},
      {"\r", R"("\r")"},
      {"\x0E", R"("\u000e")"},
      {"\x1A", R"("\u001a")"},
      {"\x1F", R"("\u001f")"},
      {"\"", R"("\"")"},
      {"\\", R"("\\")"},
      // Copied as they are: space, slash, DEL and everything beyond ASCII.
      {" /\x7F", "\" /\x7F\""},
      {"\xC3\xA9\xF0\x9F\x98\x80", "\"\xC3\xA9\xF0\x9F\x98\x80\""},
      {"a\"b\\c\td\x01/\xC3\xA9", "\"a\\\"b\\\\c\\td\\u0001/\xC3\xA9\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(shown(c.text));
    EXPECT_EQ(json::to_json(c.text), c.json);
  }
}

TEST(JsonWriting, Records) {
  models::Fee fee{1, 2, 1.0, 3, "BTC", 8};
  const auto fee_json = [&](std::string_view rate) {
    return R"({"base_fee":1,"variable_fee":2,"fee_rate":)" + std::string(rate) +
           R"(,"final_fee":3,"fee_asset":"BTC","fee_asset_precision":8})";
  };
  EXPECT_EQ(json::to_json(fee), fee_json("1.0"));
  fee.fee_rate = 0.1;
  EXPECT_EQ(json::to_json(fee), fee_json("0.1"));
  fee.fee_rate = 1e-7;
  EXPECT_EQ(json::to_json(fee), fee_json("1e-7"));
  fee.fee_rate = std::nan("");
  EXPECT_EQ(json::to_json(fee), fee_json("null"));

  const models::SwapLeg leg{"a\"1", "Name", "T", models::Layer::RGB_LN, -5, 0};
  EXPECT_EQ(json::to_json(leg),
            R"({"asset_id":"a\"1","name":"Name","ticker":"T","layer":"RGB_LN","amount":-5,"precision":0})");
  EXPECT_EQ(json::to_json(std::vector<models::SwapLeg>{}), "[]");
  EXPECT_EQ(json::to_json(std::vector<models::SwapLeg>{leg, leg}),
            "[" + json::to_json(leg) + "," + json::to_json(leg) + "]");

  writing_records::Sparse sparse;
  sparse.tri = nullptr;
  EXPECT_EQ(json::to_json(sparse), R"({"tri":null,"list":[],"map":{}})");
  sparse.opt = 0;
  sparse.tri = std::int64_t{7};
  sparse.list = {"x"};
  sparse.map = {{"k\n", 1}};
  EXPECT_EQ(json::to_json(sparse), R"({"opt":0,"tri":7,"list":["x"],"map":{"k\n":1}})");
  sparse.tri.set_absent();
  EXPECT_EQ(json::to_json(sparse), R"({"opt":0,"list":["x"],"map":{"k\n":1}})");

  EXPECT_EQ(json::to_json(writing_records::AllLeftOut{}), "{}");
}

TEST(JsonWriting, UntypedValueFromText) {
  run_probe_cases({
      {"value", R"({"b":1,"a":2,"a":3})", true, R"({"a":3,"b":1})"},
      // Ascending byte order: "" < "Z" < "a" < "z" < "é".
      {"value", "{\"z\":1,\"\xC3\xA9\":2,\"a\":3,\"Z\":4,\"\":5}", true,
       "{\"\":5,\"Z\":4,\"a\":3,\"z\":1,\"\xC3\xA9\":2}"},
      {"value", R"([{"b":[],"a":{"d":null,"c":true}},"s",-1])", true, R"([{"a":{"c":true,"d":null},"b":[]},"s",-1])"},
      {"value", "1e2", true, "100.0"},
      {"value", "100", true, "100"},
      {"value", "-0", true, "-0.0"},
      {"value", "[0.5, -3, 18446744073709551615, 1E0]", true, "[0.5,-3,18446744073709551615,1.0]"},
      {"value", "{\"k\\ty\":\"v\\u0001\"}", true, "{\"k\\ty\":\"v\\u0001\"}"},
  });
}

TEST(JsonWriting, UntypedValueBuilt) {
  JsonValue::Object object;
  object["list"] = JsonValue(JsonValue::Array{JsonValue(std::uint64_t{1}), JsonValue(std::int64_t{-2}), JsonValue(2.0),
                                              JsonValue(std::nan("")), JsonValue(nullptr), JsonValue(false)});
  object["a\"b"] = JsonValue("t\n");
  object["empty"] = JsonValue::empty_object();
  EXPECT_EQ(json::to_json(JsonValue(object)), R"({"a\"b":"t\n","empty":{},"list":[1,-2,2.0,null,null,false]})");
  EXPECT_EQ(json::to_json(JsonValue::empty_object()), "{}");
  EXPECT_EQ(json::to_json(JsonValue(JsonValue::Array{})), "[]");
  EXPECT_EQ(json::to_json(JsonValue()), "null");
}

TEST(JsonWriting, RequestBodies) {
  const json::RequestBody empty{"application/json", "{}"};
  EXPECT_EQ(json::json_body(JsonValue::empty_object()), empty);
  EXPECT_EQ(json::json_body_json_value(JsonValue::empty_object()), empty);

  const models::Fee fee{1, 2, 1.0, 3, "BTC", 8};
  const auto body = json::json_body(fee);
  EXPECT_EQ(body.content_type, "application/json");
  EXPECT_EQ(
      body.bytes,
      R"({"base_fee":1,"variable_fee":2,"fee_rate":1.0,"final_fee":3,"fee_asset":"BTC","fee_asset_precision":8})");
}

TEST(JsonWriting, MemberWriters) {
  std::string out = "{";
  json::write_i64_field(out, "min", std::numeric_limits<std::int64_t>::min(), true);
  json::write_string_field(out, "k\"ey", "a\\b\n\xC3\xA9/", false);
  json::write_i64_field(out, "zero", 0, false);
  out += "}";
  EXPECT_EQ(out, "{\"min\":-9223372036854775808,\"k\\\"ey\":\"a\\\\b\\n\xC3\xA9/\",\"zero\":0}");

  // Appends to what is already there.
  std::string tail = "x";
  json::write_string_field(tail, "", "", true);
  EXPECT_EQ(tail, R"(x"":"")");
}

}  // namespace
}  // namespace zephlar::testing
