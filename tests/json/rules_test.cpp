// The typed reading rules: member kinds, object and array forms of records,
// duplicates, missing members, and the invalid type / invalid value texts
// with their positions.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/json/json.hpp"
#include "core/json/record.hpp"
#include "core/models/quote.hpp"
#include "tests/json/case_table.hpp"

namespace zephlar::rules_records {

struct Inner {
  std::int64_t n = 0;
};
ZEPH_RECORD(Inner, "Inner", ZEPH_FIELD(n, required))

// One member of every kind; a three-state member comes first so that a short
// array passes over it.
struct Kinds {
  json::TriState<std::int64_t> tri;
  std::string req;
  std::optional<std::int64_t> nul;
  std::optional<std::string> opt;
  std::int64_t def = 0;
  std::optional<std::string> def_none;
  std::optional<std::int64_t> def_omit;
  std::vector<std::string> list;
  std::map<std::string, std::int64_t> map;
  Inner inner;
  std::uint8_t small = 0;
  bool flag = false;
};
ZEPH_RECORD(Kinds, "Kinds", ZEPH_FIELD(tri, three_state), ZEPH_FIELD(req, required), ZEPH_FIELD(nul, required_nullable),
            ZEPH_FIELD(opt, optional), ZEPH_FIELD(def, defaulted), ZEPH_FIELD(def_none, defaulted),
            ZEPH_FIELD(def_omit, defaulted_omit_none), ZEPH_FIELD(list, defaulted), ZEPH_FIELD(map, defaulted),
            ZEPH_FIELD(inner, defaulted), ZEPH_FIELD(small, defaulted), ZEPH_FIELD(flag, defaulted))

// No member needs an array element.
struct Loose {
  json::TriState<std::int64_t> a;
  std::int64_t b = 0;
};
ZEPH_RECORD(Loose, "Loose", ZEPH_FIELD(a, three_state), ZEPH_FIELD(b, defaulted))

struct One {
  std::int64_t x = 0;
};
ZEPH_RECORD(One, "One", ZEPH_FIELD(x, required))

}  // namespace zephlar::rules_records

namespace zephlar::testing {
namespace {

using rules_records::Kinds;

const std::string kKindsMinimal =
    R"({"req":"r","nul":null,"def":0,"def_none":null,"list":[],"map":{},"inner":{"n":0},"small":0,"flag":false})";
const std::string kKindsFull =
    R"({"tri":3,"req":"r","nul":1,"opt":"o","def":5,"def_none":"d","def_omit":7,"list":["a","b"],"map":{"k":1},)"
    R"("inner":{"n":2},"small":255,"flag":true})";

TEST(JsonRules, MemberKindsInObjectForm) {
  run_typed_cases<Kinds>({
      // Absent: three-state and optional members are left out, defaulted
      // ones take their empty values (null where there is a no-value state).
      {R"({"req":"r","nul":null})", true, kKindsMinimal},
      {kKindsFull, true, kKindsFull},
      // Null: three-state keeps it, optional forgets it, a defaulted member
      // with a no-value state writes it as null or leaves it out.
      {R"({"tri":null,"opt":null,"def_none":null,"def_omit":null,"req":"r","nul":null})", true,
       R"({"tri":null,"req":"r","nul":null,"def":0,"def_none":null,"list":[],"map":{},"inner":{"n":0},"small":0,)"
       R"("flag":false})"},
      // Null where the type has no no-value state is that type's error.
      {R"({"req":null})", false, at("invalid type: null, expected a string", 1, 11)},
      {R"({"def":null})", false, at("invalid type: null, expected i64", 1, 11)},
      {R"({"list":null})", false, at("invalid type: null, expected a sequence", 1, 12)},
      {R"({"map":null})", false, at("invalid type: null, expected a map", 1, 11)},
      {R"({"inner":null})", false, at("invalid type: null, expected struct Inner", 1, 13)},
      {R"({"small":null})", false, at("invalid type: null, expected u8", 1, 13)},
      {R"({"flag":null})", false, at("invalid type: null, expected a boolean", 1, 12)},
      // Missing members: the first in declaration order, at the closing brace.
      {"{}", false, at("missing field `req`", 1, 2)},
      {"{ }", false, at("missing field `req`", 1, 3)},
      {R"({"nul":null})", false, at("missing field `req`", 1, 12)},
      {R"({"req":"r"})", false, at("missing field `nul`", 1, 11)},
      {"{\"req\":\"r\"\n}", false, at("missing field `nul`", 2, 1)},
      // Keys match exactly; a key spelt with escapes matches what it spells.
      {R"({"Req":"r","req ":"r","nul":null})", false, at("missing field `req`", 1, 33)},
      {R"({"\u0072eq":"r","nul":null})", true, kKindsMinimal},
      {R"({"reqx":"r","re":"r","nul":null})", false, at("missing field `req`", 1, 32)},
      // A key that the input cuts off, inside or right after the name.
      {R"({"nul":null,"re)", false, at("EOF while parsing a string", 1, 15)},
      {R"({"nul":null,"req)", false, at("EOF while parsing a string", 1, 16)},
      {R"({"nul":null,"req")", false, at("EOF while parsing an object", 1, 17)},
      // A repeated key fails at its closing quote (or the white space after
      // it), whatever the first value was.
      {R"({"opt":null,"opt":"x"})", false, at("duplicate field `opt`", 1, 17)},
      {R"({"nul":null,"nul":1})", false, at("duplicate field `nul`", 1, 17)},
      {R"({"tri":null,"tri":1})", false, at("duplicate field `tri`", 1, 17)},
      {R"({"def":1,"def" :2})", false, at("duplicate field `def`", 1, 15)},
      {R"({"def":1,"def"  :2})", false, at("duplicate field `def`", 1, 16)},
      {R"({"req":"a","\u0072eq":"b"})", false, at("duplicate field `req`", 1, 21)},
      // The repeat is refused before its value is looked at.
      {R"({"def":1,"def":tru)", false, at("duplicate field `def`", 1, 14)},
      {R"({"req":"r","nul":null)", false, at("EOF while parsing an object", 1, 21)},
      {R"({"req":"r",})", false, at("trailing comma", 1, 12)},
      {R"({1:2})", false, at("key must be a string", 1, 2)},
      // Maps: the later of two equal keys wins.
      {R"({"req":"r","nul":null,"map":{"k":1,"k":2}})", true,
       R"({"req":"r","nul":null,"def":0,"def_none":null,"list":[],"map":{"k":2},"inner":{"n":0},"small":0,)"
       R"("flag":false})"},
      // An error inside a nested value keeps its own position.
      {R"({"inner":{"n":"x"}})", false, at("invalid type: string \"x\", expected i64", 1, 17)},
      {R"({"inner":{}})", false, at("missing field `n`", 1, 11)},
      {R"({"inner":[]})", false, at("invalid length 0, expected struct Inner with 1 element", 1, 11)},
      {R"({"list":["a",1]})", false, at("invalid type: integer `1`, expected a string", 1, 14)},
      {R"({"map":{"k":"v"}})", false, at("invalid type: string \"v\", expected i64", 1, 15)},
      {R"({"list":{}})", false, at("invalid type: map, expected a sequence", 1, 8)},
      {R"({"map":[]})", false, at("invalid type: sequence, expected a map", 1, 7)},
      {R"({"small":256})", false, at("invalid value: integer `256`, expected u8", 1, 12)},
  });
}

TEST(JsonRules, MemberKindsInArrayForm) {
  const std::string len = "expected struct Kinds with 12 elements";
  run_typed_cases<Kinds>({
      // The three-state member is passed over, so the first refused
      // position can lie beyond the elements given.
      {"[]", false, at("invalid length 1, " + len, 1, 2)},
      {R"([null,"r"])", false, at("invalid length 2, " + len, 1, 10)},
      {R"([null,"r",null])", false, at("invalid length 3, " + len, 1, 15)},
      {R"([1,"r",2,"o"])", true,
       R"({"tri":1,"req":"r","nul":2,"opt":"o","def":0,"def_none":null,"list":[],"map":{},"inner":{"n":0},)"
       R"("small":0,"flag":false})"},
      {R"([null,"r",null,null])", true,
       R"({"tri":null,"req":"r","nul":null,"def":0,"def_none":null,"list":[],"map":{},"inner":{"n":0},)"
       R"("small":0,"flag":false})"},
      {R"([3,"r",1,"o",5,"d",7,["a","b"],{"k":1},[2],255,true])", true, kKindsFull},
      {R"([3,"r",1,"o",5,"d",7,["a","b"],{"k":1},[2],255,true,0])", false, at("trailing characters", 1, 53)},
      {R"([3,"r",1,"o",5,"d",7,["a","b"],{"k":1},[2],255,true,])", false, at("trailing comma", 1, 53)},
  });

  // A record that needs no element never refuses a short array.
  run_typed_cases<rules_records::Loose>({
      {"[]", true, R"({"b":0})"},
      {"[1]", true, R"({"a":1,"b":0})"},
      {"[null,2]", true, R"({"a":null,"b":2})"},
      {"{}", true, R"({"b":0})"},
      {"[1,2,3]", false, at("trailing characters", 1, 6)},
  });

  run_typed_cases<rules_records::One>({
      {"[5]", true, R"({"x":5})"},
      {"[]", false, at("invalid length 0, expected struct One with 1 element", 1, 2)},
      {"[5,6]", false, at("trailing characters", 1, 4)},
      {"[ ]", false, at("invalid length 0, expected struct One with 1 element", 1, 3)},
      {"[ ", false, at("EOF while parsing a list", 1, 2)},
  });
}

// The pilot records, through both entry points.
TEST(JsonRules, SwapLegAndFee) {
  const std::string leg = R"({"asset_id":"a","name":"n","ticker":"t","layer":"BTC_LN","amount":5,"precision":8})";
  const std::string leg_no_amount =
      R"({"asset_id":"a","name":"n","ticker":"t","layer":"BTC_LN","Amount":5,"precision":8})";
  const std::string leg_short = R"({"asset_id":"a","name":"n","ticker":"t","layer":"BTC_LN"})";
  const std::string fee =
      R"({"base_fee":1,"variable_fee":2,"fee_rate":1.0,"final_fee":3,"fee_asset":"BTC","fee_asset_precision":8})";
  const std::string fee_len = "expected struct Fee with 6 elements";
  run_probe_cases({
      {"SwapLeg", leg, true, leg},
      {"SwapLeg",
       R"({"precision":8,"x":[1,{"y":null}],"amount":5,"layer":"BTC_LN","ticker":"t","name":"n","asset_id":"a","z":"q"})",
       true, leg},
      {"SwapLeg", R"([ "a" , "n" ,"t","BTC_LN",5,8 ])", true, leg},
      {"SwapLeg", R"({"asset_id":"a","name":"n","ticker":"t","layer":"BTC_LN","amount":-5,"precision":8})", true,
       R"({"asset_id":"a","name":"n","ticker":"t","layer":"BTC_LN","amount":-5,"precision":8})"},
      {"SwapLeg", "{}", false, at("missing field `asset_id`", 1, 2)},
      {"SwapLeg", R"({"asset_id":"a"})", false, at("missing field `name`", 1, 16)},
      {"SwapLeg", leg_no_amount, false, at("missing field `amount`", 1, static_cast<int>(leg_no_amount.size()))},
      {"SwapLeg", leg_short, false, at("missing field `amount`", 1, static_cast<int>(leg_short.size()))},
      {"SwapLeg", R"({"asset_id":"x","asset_id":"y"})", false, at("duplicate field `asset_id`", 1, 26)},
      {"SwapLeg", R"({"asset_id":null})", false, at("invalid type: null, expected a string", 1, 16)},
      {"SwapLeg", R"(["a","n","t","BTC_LN",5])", false,
       at("invalid length 5, expected struct SwapLeg with 6 elements", 1, 24)},
      {"SwapLeg", R"(["a","n","t","BTC_LN",5,8,9])", false, at("trailing characters", 1, 27)},
      {"SwapLeg", "[]", false, at("invalid length 0, expected struct SwapLeg with 6 elements", 1, 2)},
      {"SwapLeg", R"(["a","n","t","BTC_LN",1.5,8])", false,
       at("invalid type: floating point `1.5`, expected i64", 1, 25)},

      {"Fee", fee, true, fee},
      {"Fee", R"([1,2,1,3,"BTC",8])", true, fee},
      {"Fee", R"([1,2,1,3,"BTC",8 ])", true, fee},
      {"Fee", R"([1,2,0.1,3,"BTC",8])", true,
       R"({"base_fee":1,"variable_fee":2,"fee_rate":0.1,"final_fee":3,"fee_asset":"BTC","fee_asset_precision":8})"},
      {"Fee", R"([1,2,1e-7,3,"BTC",8])", true,
       R"({"base_fee":1,"variable_fee":2,"fee_rate":1e-7,"final_fee":3,"fee_asset":"BTC","fee_asset_precision":8})"},
      {"Fee", R"([1,2,null,3,"BTC",8])", false, at("invalid type: null, expected f64", 1, 9)},
      {"Fee", R"([1,2,"1",3,"BTC",8])", false, at("invalid type: string \"1\", expected f64", 1, 8)},
      {"Fee", R"([1,2,1e400,3,"BTC",8])", false, at("number out of range", 1, 10)},
      {"Fee", R"([1,2,1,3,"BTC"])", false, at("invalid length 5, " + fee_len, 1, 15)},
      {"Fee", R"([1,2,1,3,"BTC" ])", false, at("invalid length 5, " + fee_len, 1, 16)},
      {"Fee", R"([1,2,1,3,"BTC")", false, at("EOF while parsing a list", 1, 14)},
      {"Fee", R"([1,2,1,3,"BTC",8,9])", false, at("trailing characters", 1, 18)},
      {"Fee", R"([1,2,1,3,"BTC",8 x)", false, at("trailing characters", 1, 18)},
      {"Fee", R"([1,2,1,3,"BTC",8,])", false, at("trailing comma", 1, 18)},
      {"Fee", R"([1,2,1,3,"BTC",8,)", false, at("trailing characters", 1, 17)},
      {"Fee", R"([1,2,1,3,"BTC",8)", false, at("EOF while parsing a list", 1, 16)},
      {"Fee", "[1 2]", false, at("expected `,` or `]`", 1, 4)},
      {"Fee", "[", false, at("EOF while parsing a list", 1, 1)},
      {"Fee", "[1,", false, at("EOF while parsing a value", 1, 3)},
      {"Fee", R"({"base_fee":1.0})", false, at("invalid type: floating point `1.0`, expected i64", 1, 15)},
      {"Fee", R"({"base_fee":1e3})", false, at("invalid type: floating point `1000.0`, expected i64", 1, 15)},
      {"Fee", R"({"base_fee":-0})", false, at("invalid type: floating point `-0.0`, expected i64", 1, 14)},
      {"Fee", R"({"base_fee": [1]})", false, at("invalid type: sequence, expected i64", 1, 13)},
      // The record itself given as another kind of value.
      {"Fee", "\"x\"", false, at("invalid type: string \"x\", expected struct Fee", 1, 3)},
      {"Fee", "  \"x\"", false, at("invalid type: string \"x\", expected struct Fee", 1, 5)},
      {"Fee", "null", false, at("invalid type: null, expected struct Fee", 1, 4)},
      {"Fee", "true", false, at("invalid type: boolean `true`, expected struct Fee", 1, 4)},
      {"Fee", "1", false, at("invalid type: integer `1`, expected struct Fee", 1, 1)},
      {"Fee", "-2.5", false, at("invalid type: floating point `-2.5`, expected struct Fee", 1, 4)},
      // A broken value gives its own syntax error, not a type error.
      {"Fee", "x", false, at("expected value", 1, 1)},
      {"Fee", "", false, at("EOF while parsing a value", 1, 0)},
      {"Fee", "\"x", false, at("EOF while parsing a string", 1, 2)},
      {"Fee", "nul", false, at("EOF while parsing a value", 1, 3)},
      {"Fee", "nulL", false, at("expected ident", 1, 4)},
      {"Fee", "-", false, at("EOF while parsing a value", 1, 1)},
      {"Fee", "01", false, at("invalid number", 1, 2)},
  });
}

TEST(JsonRules, IntegerValues) {
  run_typed_cases<std::int64_t>({
      {"0", true, "0"},
      {"9223372036854775807", true, "9223372036854775807"},
      {"-9223372036854775808", true, "-9223372036854775808"},
      {"9223372036854775808", false, at("invalid value: integer `9223372036854775808`, expected i64", 1, 19)},
      {"18446744073709551615", false, at("invalid value: integer `18446744073709551615`, expected i64", 1, 20)},
      {"18446744073709551616", false, at("invalid type: floating point `1.8446744073709552e19`, expected i64", 1, 20)},
      {"-9223372036854775809", false, at("invalid type: floating point `-9.223372036854776e18`, expected i64", 1, 20)},
      {"1.0", false, at("invalid type: floating point `1.0`, expected i64", 1, 3)},
      {"1e3", false, at("invalid type: floating point `1000.0`, expected i64", 1, 3)},
      {"2e0", false, at("invalid type: floating point `2.0`, expected i64", 1, 3)},
      {"-0", false, at("invalid type: floating point `-0.0`, expected i64", 1, 2)},
      {"1e16", false, at("invalid type: floating point `1e16`, expected i64", 1, 4)},
      {"null", false, at("invalid type: null, expected i64", 1, 4)},
      {"true", false, at("invalid type: boolean `true`, expected i64", 1, 4)},
      {"false", false, at("invalid type: boolean `false`, expected i64", 1, 5)},
      {"\"12\"", false, at("invalid type: string \"12\", expected i64", 1, 4)},
      {"[1]", false, at("invalid type: sequence, expected i64", 1, 0)},
      {" {}", false, at("invalid type: map, expected i64", 1, 1)},
      {"x", false, at("expected value", 1, 1)},
      {"", false, at("EOF while parsing a value", 1, 0)},
      {"01", false, at("invalid number", 1, 2)},
      {"\"1", false, at("EOF while parsing a string", 1, 2)},
      {"tru", false, at("EOF while parsing a value", 1, 3)},
      {"1e400", false, at("number out of range", 1, 5)},
  });
  run_typed_cases<std::uint8_t>({
      {"0", true, "0"},
      {"255", true, "255"},
      {"256", false, at("invalid value: integer `256`, expected u8", 1, 3)},
      {"-1", false, at("invalid value: integer `-1`, expected u8", 1, 2)},
      {"-9223372036854775808", false, at("invalid value: integer `-9223372036854775808`, expected u8", 1, 20)},
      {"9223372036854775808", false, at("invalid value: integer `9223372036854775808`, expected u8", 1, 19)},
      {"1.5", false, at("invalid type: floating point `1.5`, expected u8", 1, 3)},
      {"-0", false, at("invalid type: floating point `-0.0`, expected u8", 1, 2)},
      {"\"x\"", false, at("invalid type: string \"x\", expected u8", 1, 3)},
  });
}

TEST(JsonRules, OtherValueTypes) {
  run_typed_cases<double>({
      {"3", true, "3.0"},
      {"-5", true, "-5.0"},
      {"-0", true, "-0.0"},
      {"1.5", true, "1.5"},
      {"18446744073709551615", true, "1.8446744073709552e19"},
      {"null", false, at("invalid type: null, expected f64", 1, 4)},
      {"true", false, at("invalid type: boolean `true`, expected f64", 1, 4)},
      {"\"1\"", false, at("invalid type: string \"1\", expected f64", 1, 3)},
      {"1e400", false, at("number out of range", 1, 5)},
  });
  run_typed_cases<bool>({
      {"true", true, "true"},
      {"false", true, "false"},
      {"1", false, at("invalid type: integer `1`, expected a boolean", 1, 1)},
      {"\"true\"", false, at("invalid type: string \"true\", expected a boolean", 1, 6)},
      {"null", false, at("invalid type: null, expected a boolean", 1, 4)},
      {"trux", false, at("expected ident", 1, 4)},
  });
  run_typed_cases<std::string>({
      {"\"a\"", true, "\"a\""},
      {"5", false, at("invalid type: integer `5`, expected a string", 1, 1)},
      {"-1.5", false, at("invalid type: floating point `-1.5`, expected a string", 1, 4)},
      {"[]", false, at("invalid type: sequence, expected a string", 1, 0)},
      {"{}", false, at("invalid type: map, expected a string", 1, 0)},
      {"null", false, at("invalid type: null, expected a string", 1, 4)},
  });
  run_typed_cases<std::vector<std::int64_t>>({
      {"[]", true, "[]"},
      {"[1, -2]", true, "[1,-2]"},
      {"{}", false, at("invalid type: map, expected a sequence", 1, 0)},
      {"\"a\"", false, at("invalid type: string \"a\", expected a sequence", 1, 3)},
      {"null", false, at("invalid type: null, expected a sequence", 1, 4)},
      {"[1,\"a\"]", false, at("invalid type: string \"a\", expected i64", 1, 6)},
      {"[1,]", false, at("trailing comma", 1, 4)},
  });
  run_typed_cases<std::map<std::string, std::int64_t>>({
      {"{}", true, "{}"},
      {R"({"a":1,"a":2})", true, R"({"a":2})"},
      {"[]", false, at("invalid type: sequence, expected a map", 1, 0)},
      {R"({"a":null})", false, at("invalid type: null, expected i64", 1, 9)},
  });
}

// The quoted text of a string in a type error escapes quotes, backslashes
// and control characters.
// Long arrays are given room from the bytes per element seen so far; every
// element must arrive whether later elements are far longer or far shorter
// than the first ones.
TEST(JsonRules, LongArraysKeepEveryElement) {
  auto strings = [](int first, std::size_t first_width, int then, std::size_t then_width) {
    std::string s = "[";
    for (int k = 0; k < first + then; ++k) {
      if (k) s += ',';
      s += '"' + std::to_string(k) + std::string(k < first ? first_width : then_width, 'x') + '"';
    }
    return s + "]";
  };
  auto records = [](int first, const char* first_n, int then, const char* then_n) {
    std::string s = "[";
    for (int k = 0; k < first + then; ++k)
      s += std::string(k ? "," : "") + R"({"n":)" + (k < first ? first_n : then_n) + "}";
    return s + "]";
  };
  const std::string short_then_long = strings(8, 0, 300, 40);
  const std::string long_then_short = strings(8, 40, 300, 0);
  const std::string many_short = strings(3000, 0, 0, 0);
  run_typed_cases<std::vector<std::string>>({
      {short_then_long, true, short_then_long},
      {long_then_short, true, long_then_short},
      {many_short, true, many_short},
      {long_then_short.substr(0, long_then_short.size() - 1) + ",1]", false,
       at("invalid type: integer `1`, expected a string", 1, static_cast<int>(long_then_short.size()) + 1)},
  });
  const std::string narrow_then_wide = records(9, "1", 500, "1234567890123456789");
  const std::string wide_then_narrow = records(9, "1234567890123456789", 500, "1");
  run_typed_cases<std::vector<rules_records::Inner>>({
      {narrow_then_wide, true, narrow_then_wide},
      {wide_then_narrow, true, wide_then_narrow},
  });
}

TEST(JsonRules, UnexpectedStringText) {
  run_typed_cases<std::int64_t>({
      {R"("a\"b\\c\td\re\nf\u0000g\u0001h\u007fi\u0085j\u00e9")", false,
       at("invalid type: string \"a\\\"b\\\\c\\td\\re\\nf\\0g\\u{1}h\\u{7f}i\\u{85}j\xC3\xA9\", expected i64", 1, 52)},
      {R"("\u001f")", false, at("invalid type: string \"\\u{1f}\", expected i64", 1, 8)},
      {R"("")", false, at("invalid type: string \"\", expected i64", 1, 2)},
      {"\"\xC3\xA9\"", false, at("invalid type: string \"\xC3\xA9\", expected i64", 1, 4)},
  });
}

}  // namespace
}  // namespace zephlar::testing
