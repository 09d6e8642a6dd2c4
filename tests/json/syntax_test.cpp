// The syntax layer seen through whole readings: white space, literals,
// numbers and their conversion, strings, skipped values, trailing
// bytes, and the message and position of every syntax failure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/json/json.hpp"
#include "core/models/quote.hpp"
#include "tests/json/case_table.hpp"

namespace zephlar::testing {
namespace {

const std::string kControl = "control character (\\u0000-\\u001F) found while parsing a string";

std::string repeat(std::string_view piece, int n) {
  std::string s;
  for (int k = 0; k < n; ++k) s += piece;
  return s;
}

std::string arrays(int depth) { return repeat("[", depth) + repeat("]", depth); }
std::string objects(int depth) { return repeat("{\"a\":", depth) + "1" + repeat("}", depth); }

// A complete Fee, and the same Fee with an unknown first member whose value
// is `skipped`.
const std::string kFee =
    R"({"base_fee":1,"variable_fee":2,"fee_rate":0.5,"final_fee":3,"fee_asset":"BTC","fee_asset_precision":8})";
std::string fee_with_skipped(std::string_view skipped) {
  return "{\"x\":" + std::string(skipped) + "," + kFee.substr(1);
}

TEST(JsonSyntax, WhiteSpaceAndLiterals) {
  run_probe_cases({
      {"value", " \t\r\n 1 \t\r\n", true, "1"},
      {"value", "", false, at("EOF while parsing a value", 1, 0)},
      {"value", "   ", false, at("EOF while parsing a value", 1, 3)},
      {"value", "\n", false, at("EOF while parsing a value", 2, 0)},
      {"value", "\n\n  ", false, at("EOF while parsing a value", 3, 2)},
      // Only space, tab, line feed and carriage return are white space.
      {"value", "\xEF\xBB\xBFnull", false, at("expected value", 1, 1)},
      {"value", "\f1", false, at("expected value", 1, 1)},
      {"value", "\v1", false, at("expected value", 1, 1)},
      {"value", "1\f", false, at("trailing characters", 1, 2)},
      {"value", "null", true, "null"},
      {"value", "true", true, "true"},
      {"value", "false", true, "false"},
      {"value", "n", false, at("EOF while parsing a value", 1, 1)},
      {"value", "nul", false, at("EOF while parsing a value", 1, 3)},
      {"value", "tru", false, at("EOF while parsing a value", 1, 3)},
      {"value", "fals", false, at("EOF while parsing a value", 1, 4)},
      {"value", "nulx", false, at("expected ident", 1, 4)},
      {"value", "nil", false, at("expected ident", 1, 2)},
      {"value", "trUe", false, at("expected ident", 1, 3)},
      {"value", "falsy", false, at("expected ident", 1, 5)},
      {"value", "[nul]", false, at("expected ident", 1, 5)},
      {"value", "True", false, at("expected value", 1, 1)},
      {"value", "NaN", false, at("expected value", 1, 1)},
      {"value", "Infinity", false, at("expected value", 1, 1)},
      {"value", "'a'", false, at("expected value", 1, 1)},
  });
}

TEST(JsonSyntax, ArraysAndObjects) {
  run_probe_cases({
      {"value", "[]", true, "[]"},
      {"value", " [ 1 , [ ] , { } ] ", true, "[1,[],{}]"},
      {"value", "{ \"a\" : 1 }", true, "{\"a\":1}"},
      {"value", "[", false, at("EOF while parsing a list", 1, 1)},
      {"value", "[1", false, at("EOF while parsing a list", 1, 2)},
      {"value", "[1 ", false, at("EOF while parsing a list", 1, 3)},
      {"value", "[1 2]", false, at("expected `,` or `]`", 1, 4)},
      {"value", "[1}", false, at("expected `,` or `]`", 1, 3)},
      {"value", "[1,]", false, at("trailing comma", 1, 4)},
      {"value", "[1, ]", false, at("trailing comma", 1, 5)},
      {"value", "[1,", false, at("EOF while parsing a value", 1, 3)},
      {"value", "[1, ", false, at("EOF while parsing a value", 1, 4)},
      {"value", "[,1]", false, at("expected value", 1, 2)},
      {"value", "{", false, at("EOF while parsing an object", 1, 1)},
      {"value", "{ ", false, at("EOF while parsing an object", 1, 2)},
      {"value", "{1:2}", false, at("key must be a string", 1, 2)},
      {"value", "{'a':1}", false, at("key must be a string", 1, 2)},
      {"value", "{\"a\"", false, at("EOF while parsing an object", 1, 4)},
      {"value", "{\"a\" ", false, at("EOF while parsing an object", 1, 5)},
      {"value", "{\"a\" 1}", false, at("expected `:`", 1, 6)},
      {"value", "{\"a\":", false, at("EOF while parsing a value", 1, 5)},
      {"value", "{\"a\":}", false, at("expected value", 1, 6)},
      {"value", "{\"a\":1", false, at("EOF while parsing an object", 1, 6)},
      {"value", "{\"a\":1 \"b\":2}", false, at("expected `,` or `}`", 1, 8)},
      {"value", "{\"a\":1]", false, at("expected `,` or `}`", 1, 7)},
      {"value", "{\"a\":1,}", false, at("trailing comma", 1, 8)},
      {"value", "{\"a\":1, }", false, at("trailing comma", 1, 9)},
      {"value", "{\"a\":1,1}", false, at("key must be a string", 1, 8)},
      {"value", "{\"a\":1,", false, at("EOF while parsing a value", 1, 7)},
      {"value", "{\"a\":1, ", false, at("EOF while parsing a value", 1, 8)},
  });
}

TEST(JsonSyntax, NumberGrammar) {
  run_probe_cases({
      {"value", "01", false, at("invalid number", 1, 2)},
      {"value", "-01", false, at("invalid number", 1, 3)},
      {"value", "-", false, at("EOF while parsing a value", 1, 1)},
      {"value", "-a", false, at("invalid number", 1, 2)},
      {"value", "- 1", false, at("invalid number", 1, 2)},
      {"value", "-Infinity", false, at("invalid number", 1, 2)},
      {"value", "[-]", false, at("invalid number", 1, 3)},
      {"value", "1.", false, at("EOF while parsing a value", 1, 2)},
      {"value", "1.x", false, at("invalid number", 1, 3)},
      {"value", "1.e5", false, at("invalid number", 1, 3)},
      {"value", "[1.]", false, at("invalid number", 1, 4)},
      {"value", "1e", false, at("EOF while parsing a value", 1, 2)},
      {"value", "1e+", false, at("EOF while parsing a value", 1, 3)},
      {"value", "1ex", false, at("invalid number", 1, 3)},
      {"value", "1e+x", false, at("invalid number", 1, 4)},
      {"value", "+1", false, at("expected value", 1, 1)},
      {"value", ".5", false, at("expected value", 1, 1)},
      // The number ends where the grammar ends; the rest is left over.
      {"value", "1.5.3", false, at("trailing characters", 1, 4)},
      {"value", "0x10", false, at("trailing characters", 1, 2)},
      {"value", "-0-", false, at("trailing characters", 1, 3)},
  });
}

// Numbers come back in their class: integers as integers, everything with a
// fraction or exponent, -0 and out-of-range integers as floats.
TEST(JsonSyntax, NumberClassification) {
  run_probe_cases({
      {"value", "0", true, "0"},
      {"value", "7", true, "7"},
      {"value", "-7", true, "-7"},
      {"value", "-0", true, "-0.0"},
      {"value", "0.0", true, "0.0"},
      {"value", "-0.0", true, "-0.0"},
      {"value", "1.0", true, "1.0"},
      {"value", "1.5", true, "1.5"},
      {"value", "1e2", true, "100.0"},
      {"value", "1E2", true, "100.0"},
      {"value", "1e+2", true, "100.0"},
      {"value", "1e-2", true, "0.01"},
      {"value", "2e0", true, "2.0"},
      {"value", "0e5", true, "0.0"},
      {"value", "-1.5e-3", true, "-0.0015"},
      {"value", "18446744073709551615", true, "18446744073709551615"},
      {"value", "18446744073709551616", true, "1.8446744073709552e19"},
      {"value", "-9223372036854775807", true, "-9223372036854775807"},
      {"value", "-9223372036854775808", true, "-9223372036854775808"},
      {"value", "-9223372036854775809", true, "-9.223372036854776e18"},
      {"value", "-18446744073709551615", true, "-1.8446744073709552e19"},
      {"value", "-18446744073709551616", true, "-1.8446744073709552e19"},
      {"value", "123456789012345678901234567890", true, "1.2345678901234568e29"},
  });
}

// Floats are the significand (up to 64 bits of digits) to the nearest
// double, then one multiplication or division by the nearest double to the
// power of ten: the lowest bit can differ from the correctly rounded value.
TEST(JsonSyntax, FloatConversion) {
  run_probe_cases({
      {"value", "0.1", true, "0.1"},
      {"value", "1e308", true, "1e308"},
      {"value", "1.7976931348623157e308", true, "1.7976931348623157e308"},
      {"value", "5e-324", true, "5e-324"},
      {"value", "0.30000000000000000000000000001", true, "0.3"},
      // Digits beyond 64 bits: integer digits raise the exponent, fraction
      // digits are dropped; leading fraction zeros still count.
      {"value", "1" + std::string(400, '0') + "e-400", true, "1.0"},
      {"value", "0." + std::string(400, '0') + "1e400", true, "0.1"},
      {"value", "1e-0000000000000000000000000001", true, "0.1"},
      {"value", "1e+0000000000000000000000000002", true, "100.0"},
      // Two-step results that differ from the nearest double.
      {"value", "7e254", true, "6.999999999999999e254"},
      {"value", "95e-25", true, "9.499999999999999e-24"},
      {"value", "9007199254740993.0", true, "9007199254740994.0"},
      {"value", "1.00000000000000011102230246251565404236316680908203125", true, "1.0000000000000002"},
      {"value", "2.2250738585072011e-308", true, "2.2250738585072014e-308"},
      {"value", "2.4703282292062328e-324", true, "0.0"},
      // Negative exponents beyond 308 divide repeatedly and end in zero.
      {"value", "1e-400", true, "0.0"},
      {"value", "-1e-400", true, "-0.0"},
      {"value", "1e-99999999999999999999", true, "0.0"},
      {"value", "0e99999999999999999999", true, "0.0"},
      // Overflow, at the last byte of the number.
      {"value", "1e400", false, at("number out of range", 1, 5)},
      {"value", "-1e400", false, at("number out of range", 1, 6)},
      {"value", "[1e400 ]", false, at("number out of range", 1, 6)},
      {"value", "1e99999999999999999999", false, at("number out of range", 1, 22)},
      {"value", "1.7976931348623159e308", false, at("number out of range", 1, 22)},
      // Finite as a decimal, but the 64-bit significand times 10^289
      // overflows.
      {"value", "1797693134862315700000e287", false, at("number out of range", 1, 26)},
  });
}

TEST(JsonSyntax, StringsAndEscapes) {
  run_probe_cases({
      {"value", "\"\"", true, "\"\""},
      {"value", "\"abc\"", true, "\"abc\""},
      {"value", R"("\"\\\/\b\f\n\r\t")", true, R"("\"\\/\b\f\n\r\t")"},
      {"value", R"("\u0041\u00e9\u00E9")", true, "\"A\xC3\xA9\xC3\xA9\""},
      {"value", R"("\u0000")", true, R"("\u0000")"},
      {"value", R"("\u001F")", true, R"("\u001f")"},
      {"value", R"("\u007f")", true, "\"\x7F\""},
      {"value", "\"a\x7Fz\"", true, "\"a\x7Fz\""},
      {"value", R"({"\u0061":1})", true, R"({"a":1})"},
      // Surrogate pairs name one character above U+FFFF.
      {"value", R"("\ud83d\ude00")", true, "\"\xF0\x9F\x98\x80\""},
      {"value", R"("\uD83D\uDE00")", true, "\"\xF0\x9F\x98\x80\""},
      {"value", R"("\udbff\udfff")", true, "\"\xF4\x8F\xBF\xBF\""},
      {"value", R"("\ude00")", false, at("lone leading surrogate in hex escape", 1, 7)},
      {"value", R"("\ud83d\u0041")", false, at("lone leading surrogate in hex escape", 1, 13)},
      {"value", R"("\ud83d\ud83d")", false, at("lone leading surrogate in hex escape", 1, 13)},
      {"value", R"("\ud83d x")", false, at("unexpected end of hex escape", 1, 8)},
      {"value", R"("\ud83d")", false, at("unexpected end of hex escape", 1, 8)},
      // A backslash that does not start \u is still not a trailing escape;
      // the error points at the byte right after the leading escape.
      {"value", R"("\ud83d\n")", false, at("unexpected end of hex escape", 1, 8)},
      {"value", R"("\ud83d\uzzzz")", false, at("invalid escape", 1, 13)},
      {"value", R"("\ud83d)", false, at("EOF while parsing a string", 1, 7)},
      {"value", R"("\ud83d\)", false, at("EOF while parsing a string", 1, 8)},
      {"value", R"("\ud83d\u12)", false, at("EOF while parsing a string", 1, 11)},
      {"value", R"("\x")", false, at("invalid escape", 1, 3)},
      {"value", R"("\U0041")", false, at("invalid escape", 1, 3)},
      {"value", R"("\'")", false, at("invalid escape", 1, 3)},
      {"value", R"("\u12g4")", false, at("invalid escape", 1, 7)},
      {"value", R"({"\q":1})", false, at("invalid escape", 1, 4)},
      {"value", R"("\u12)", false, at("EOF while parsing a string", 1, 5)},
      {"value", R"("\)", false, at("EOF while parsing a string", 1, 2)},
      {"value", R"("abc)", false, at("EOF while parsing a string", 1, 4)},
      {"value", "\"", false, at("EOF while parsing a string", 1, 1)},
      {"value", "\"a\x01z\"", false, at(kControl, 1, 3)},
      {"value", std::string("\"a\0b\"", 5), false, at(kControl, 1, 3)},
      {"value", "\"a\x1Fz\"", false, at(kControl, 1, 3)},
      {"value", "\"a\tb\"", false, at(kControl, 1, 3)},
      // The line feed is the error byte itself: no line feed precedes it.
      {"value", "\"a\nb\"", false, at(kControl, 1, 3)},
  });
}

// Strings are scanned a word at a time; whatever byte ends a run must be
// found at its own position wherever it falls within a word, and a run that
// ends the input must still be scanned to its last byte.
TEST(JsonSyntax, StringBytesAtEveryOffset) {
  const std::string tail(20, 'b');
  std::vector<ProbeCase> cases;
  for (int k = 0; k < 20; ++k) {
    const std::string head(static_cast<std::size_t>(k), 'a');
    cases.push_back({"value", "\"" + head + "\"" + std::string(12, ' '), true, "\"" + head + "\""});
    cases.push_back({"value", "\"" + head + "\\n" + tail + "\"", true, "\"" + head + "\\n" + tail + "\""});
    cases.push_back({"value", "\"" + head + "\x01" + tail + "\"", false, at(kControl, 1, k + 2)});
    cases.push_back({"value", "\"" + head + "\xC3\xA9" + tail + "\"", true, "\"" + head + "\xC3\xA9" + tail + "\""});
    cases.push_back({"value", "\"" + head + "\xFF" + tail + "\"", false, at("invalid unicode code point", 1, k + 23),
                     From::response_body});
    cases.push_back(
        {"value", "\"" + head + "\xFF" + tail + "\"", true, "\"" + head + "\xFF" + tail + "\"", From::caller_text});
    cases.push_back({"value", "\"" + head + tail, false, at("EOF while parsing a string", 1, k + 21)});
  }
  run_probe_cases(cases);
}

// Answer bodies are arbitrary bytes, so their strings are checked for UTF-8
// (the error sits at the closing quote); texts from a host are not.
TEST(JsonSyntax, Utf8DependsOnSource) {
  const std::string bad = at("invalid unicode code point", 1, 3);
  run_probe_cases({
      {"value", "\"\xFF\"", false, bad, From::response_body},
      {"value", "\"\xFF\"", true, "\"\xFF\"", From::caller_text},
      {"value", "\"ab\xFFxy\"", false, at("invalid unicode code point", 1, 7), From::response_body},
      {"value", "\"\x80\"", false, bad, From::response_body},
      {"value", "\"\xC3\"", false, bad, From::response_body},
      {"value", "\"\xC0\xAF\"", false, at("invalid unicode code point", 1, 4), From::response_body},
      {"value", "\"\xE2\x82\"", false, at("invalid unicode code point", 1, 4), From::response_body},
      {"value", "\"\xED\xA0\x80\"", false, at("invalid unicode code point", 1, 5), From::response_body},
      {"value", "\"\xF4\x90\x80\x80\"", false, at("invalid unicode code point", 1, 6), From::response_body},
      {"value", "[\n\"\xFF\"]", false, at("invalid unicode code point", 2, 3), From::response_body},
      {"value", "{\"\xFF\":1}", false, at("invalid unicode code point", 1, 4), From::response_body},
      {"value", "{\"\xFF\":1}", true, "{\"\xFF\":1}", From::caller_text},
      {"value", "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\"", true,
       "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\""},
      // A record's keys are read too; an unknown member's value is skipped
      // without the check.
      {"Fee", "{\"\xFF\":1}", false, at("invalid unicode code point", 1, 4), From::response_body},
      {"Fee", fee_with_skipped("\"\xFF\""), true, kFee},
  });
}

// The value of an unknown member is checked for syntax only.
TEST(JsonSyntax, SkippedValues) {
  run_probe_cases({
      // Nesting without limit.
      {"Fee", fee_with_skipped(arrays(1000)), true, kFee},
      {"Fee", fee_with_skipped(objects(1000)), true, kFee},
      {"Fee", fee_with_skipped("1e400"), true, kFee},
      {"Fee", fee_with_skipped(R"("\ude00")"), true, kFee},
      {"Fee", fee_with_skipped(R"("\ud83d x")"), true, kFee},
      {"Fee", fee_with_skipped(R"({"a":[null,true,false,-1.5e3,"s",{}]})"), true, kFee},
      {"Fee", fee_with_skipped("tru"), false, at("expected ident", 1, 9)},
      {"Fee", fee_with_skipped("\"\x01\""), false, at(kControl, 1, 7)},
      {"Fee", fee_with_skipped(R"("\q")"), false, at("invalid escape", 1, 8)},
      {"Fee", fee_with_skipped(R"("\u12G4")"), false, at("invalid escape", 1, 12)},
      {"Fee", fee_with_skipped("01"), false, at("invalid number", 1, 7)},
      {"Fee", fee_with_skipped("+1"), false, at("expected value", 1, 6)},
      {"Fee", fee_with_skipped("[1,]"), false, at("trailing comma", 1, 9)},
      {"Fee", fee_with_skipped("[1 2]"), false, at("expected `,` or `]`", 1, 9)},
      {"Fee", fee_with_skipped(R"({"a" 1})"), false, at("expected `:`", 1, 11)},
      {"Fee", fee_with_skipped(R"({"a":1,})"), false, at("trailing comma", 1, 13)},
      {"Fee", fee_with_skipped("{1:1}"), false, at("key must be a string", 1, 7)},
      {"Fee", "{\"x\":", false, at("EOF while parsing a value", 1, 5)},
      {"Fee", "{\"x\":[1,", false, at("EOF while parsing a value", 1, 8)},
      {"Fee", "{\"x\":[[1]", false, at("EOF while parsing a list", 1, 9)},
      {"Fee", "{\"x\":{\"a\":1", false, at("EOF while parsing an object", 1, 11)},
      {"Fee", "{\"x\":\"abc", false, at("EOF while parsing a string", 1, 9)},
  });
}

TEST(JsonSyntax, TrailingCharacters) {
  run_probe_cases({
      {"value", "1 x", false, at("trailing characters", 1, 3)},
      {"value", "1 2", false, at("trailing characters", 1, 3)},
      {"value", "null x", false, at("trailing characters", 1, 6)},
      {"value", "truex", false, at("trailing characters", 1, 5)},
      {"value", "\"a\"\"b\"", false, at("trailing characters", 1, 4)},
      {"value", "{} {}", false, at("trailing characters", 1, 4)},
      {"value", "[1]]", false, at("trailing characters", 1, 4)},
      {"value", "1\nx", false, at("trailing characters", 2, 1)},
      {"value", "1\n\n \r\n\t", true, "1"},
      {"Fee", kFee + " x", false, at("trailing characters", 1, static_cast<int>(kFee.size()) + 2)},
      {"Fee", kFee + "\r\n\n  ", true, kFee},
  });
}

// Lines count line feeds; columns count bytes, so a multi-byte character
// takes several columns and a carriage return is an ordinary byte.
TEST(JsonSyntax, LinesAndColumns) {
  run_probe_cases({
      {"value", "[\n1,\n  x]", false, at("expected value", 3, 3)},
      {"value", "\r\n[x]", false, at("expected value", 2, 2)},
      {"value", "[\r\nx]", false, at("expected value", 2, 1)},
      {"value", "[\"\xC3\xA9\", x]", false, at("expected value", 1, 8)},
      {"value", "[\"\xF0\x9F\x98\x80\",x]", false, at("expected value", 1, 9)},
      {"value", "[\"\xC3\xA9\",\n x]", false, at("expected value", 2, 2)},
      {"value", "{\"a\":1,\n\"b\":2,\n\"c\" 3}", false, at("expected `:`", 3, 5)},
      {"value", "[1,\n", false, at("EOF while parsing a value", 2, 0)},
      {"value", "[1\n", false, at("EOF while parsing a list", 2, 0)},
      {"Fee", "{\n  \"base_fee\": 1,\n  \"variable_fee\": \"2\"\n}", false,
       at("invalid type: string \"2\", expected i64", 3, 21)},
  });
}

}  // namespace
}  // namespace zephlar::testing
