// Table-driven record tests: each case reads an input as a named type and
// states what comes out, the compact JSON written back or the error text.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/json/reader.hpp"
#include "tests/support/type_registry.hpp"

namespace zephlar::testing {

struct RecordCase {
  std::string what;
  std::string type;
  std::string input;
  bool ok = false;
  std::string expected;  // the JSON written back, or the error's full text
  json::Source source = json::Source::response_body;
};

// Reads and is written back unchanged (the input is already in normal form).
inline RecordCase same(std::string what, std::string type, std::string text,
                      json::Source source = json::Source::response_body) {
  std::string expected = text;
  return {std::move(what), std::move(type), std::move(text), true, std::move(expected), source};
}

inline RecordCase reads(std::string what, std::string type, std::string input, std::string output,
                       json::Source source = json::Source::response_body) {
  return {std::move(what), std::move(type), std::move(input), true, std::move(output), source};
}

inline RecordCase fails(std::string what, std::string type, std::string input, std::string error,
                       json::Source source = json::Source::response_body) {
  return {std::move(what), std::move(type), std::move(input), false, std::move(error), source};
}

inline void run_probe_table(const std::vector<RecordCase>& cases) {
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.what);
    const auto result = probe(c.type, c.input, c.source);
    ASSERT_TRUE(result.has_value()) << "no readable type " << c.type;
    EXPECT_EQ(result->ok, c.ok) << result->text;
    EXPECT_EQ(result->text, c.expected);
  }
}

}  // namespace zephlar::testing
