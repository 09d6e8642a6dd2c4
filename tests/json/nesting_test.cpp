// The nesting budget: 127 arrays and objects may be open at once inside a
// typed reading (records, lists, untyped values and enumerations in object
// form all count); skipped values are not limited.
#include <gtest/gtest.h>

#include <string>

#include "core/json/json.hpp"
#include "core/json/record.hpp"
#include "core/json/value.hpp"
#include "core/models/enums.hpp"
#include "tests/json/case_table.hpp"

namespace zephlar::nesting_records {

// A record around an untyped value.
struct Holder {
  json::JsonValue v;
};
ZEPH_RECORD(Holder, "Holder", ZEPH_FIELD(v, required))

// N nested one-member records around a Layer, read in array form:
// [[["RGB_LN"]]] for N = 3.
template <int N>
struct Wrap {
  Wrap<N - 1> w;
};
template <>
struct Wrap<1> {
  models::Layer w{};
};
template <int N>
constexpr auto zeph_describe(std::type_identity<Wrap<N>>) {
  using Self = Wrap<N>;
  return json::describe_record<Wrap<N>>("Wrap", ZEPH_FIELD(w, required));
}

}  // namespace zephlar::nesting_records

// The codecs of the deep wrappers are instantiated in steps, so that no single
// chain of instantiations is 127 records deep.
template struct zephlar::json::Codec<zephlar::nesting_records::Wrap<8>>;
template struct zephlar::json::Codec<zephlar::nesting_records::Wrap<16>>;
template struct zephlar::json::Codec<zephlar::nesting_records::Wrap<24>>;
template struct zephlar::json::Codec<zephlar::nesting_records::Wrap<32>>;
template struct zephlar::json::Codec<zephlar::nesting_records::Wrap<40>>;
template struct zephlar::json::Codec<zephlar::nesting_records::Wrap<48>>;
template struct zephlar::json::Codec<zephlar::nesting_records::Wrap<56>>;
template struct zephlar::json::Codec<zephlar::nesting_records::Wrap<64>>;
template struct zephlar::json::Codec<zephlar::nesting_records::Wrap<72>>;
template struct zephlar::json::Codec<zephlar::nesting_records::Wrap<80>>;
template struct zephlar::json::Codec<zephlar::nesting_records::Wrap<88>>;
template struct zephlar::json::Codec<zephlar::nesting_records::Wrap<96>>;
template struct zephlar::json::Codec<zephlar::nesting_records::Wrap<104>>;
template struct zephlar::json::Codec<zephlar::nesting_records::Wrap<112>>;
template struct zephlar::json::Codec<zephlar::nesting_records::Wrap<120>>;
template struct zephlar::json::Codec<zephlar::nesting_records::Wrap<128>>;

namespace zephlar::testing {
namespace {

const std::string kLimit = "recursion limit exceeded";

std::string repeat(std::string_view piece, int n) {
  std::string s;
  for (int k = 0; k < n; ++k) s += piece;
  return s;
}

std::string arrays(int depth) { return repeat("[", depth) + repeat("]", depth); }
std::string objects(int depth) { return repeat("{\"a\":", depth) + "1" + repeat("}", depth); }

TEST(JsonNesting, UntypedValues) {
  run_probe_cases({
      {"value", arrays(127), true, arrays(127)},
      {"value", arrays(128), false, at(kLimit, 1, 128)},
      {"value", objects(127), true, objects(127)},
      {"value", objects(128), false, at(kLimit, 1, 127 * 5 + 1)},
      // The budget comes back on leaving: two siblings of depth 126 in one
      // array are 127 levels, not 253.
      {"value", "[" + arrays(126) + "," + arrays(126) + "]", true, "[" + arrays(126) + "," + arrays(126) + "]"},
      {"value", "[" + arrays(126) + "," + arrays(127) + "]", false, at(kLimit, 1, 1 + 252 + 1 + 127)},
  });
}

TEST(JsonNesting, RecordsAndEnumerationsCount) {
  run_typed_cases<nesting_records::Holder>({
      {"{\"v\":" + arrays(126) + "}", true, "{\"v\":" + arrays(126) + "}"},
      {"{\"v\":" + arrays(127) + "}", false, at(kLimit, 1, 5 + 127)},
  });

  // Written back, the wrappers are objects: {"w":{"w":"RGB_LN"}}.
  auto written = [](int depth) { return repeat("{\"w\":", depth) + "\"RGB_LN\"" + repeat("}", depth); };
  const std::string object_form = R"({"RGB_LN":null})";
  run_typed_cases<nesting_records::Wrap<126>>({
      {repeat("[", 126) + object_form + repeat("]", 126), true, written(126)},
  });
  run_typed_cases<nesting_records::Wrap<127>>({
      {repeat("[", 127) + "\"RGB_LN\"" + repeat("]", 127), true, written(127)},
      {repeat("[", 127) + object_form + repeat("]", 127), false, at(kLimit, 1, 128)},
  });
}

}  // namespace
}  // namespace zephlar::testing
