// Table-driven checks shared by the JSON codec tests: each case reads an
// input as one type and expects either the compact JSON written back or the
// full error text ("<message> at line L column C").
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/json/json.hpp"
#include "tests/support/type_registry.hpp"

namespace zephlar::testing {

// Which reading entry points a case runs through.
enum class From { both, response_body, caller_text };

struct ProbeCase {
  std::string_view type;  // a registry name ("value", "Layer", "Fee", ...)
  std::string input;
  bool ok;
  std::string text;
  From from = From::both;
};

struct TypedCase {
  std::string input;
  bool ok;
  std::string text;
  From from = From::both;
};

inline std::vector<json::Source> sources_of(From from) {
  switch (from) {
    case From::response_body:
      return {json::Source::response_body};
    case From::caller_text:
      return {json::Source::caller_text};
    case From::both:
      break;
  }
  return {json::Source::response_body, json::Source::caller_text};
}

inline const char* source_name(json::Source s) {
  return s == json::Source::response_body ? "response body" : "caller text";
}

// The input as a readable one-liner for failure traces.
inline std::string shown(std::string_view input) {
  std::string out;
  for (const char c : input.substr(0, 120)) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F) {
      out.push_back(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", b);
      out += buf;
    }
  }
  if (input.size() > 120) out += "... (" + std::to_string(input.size()) + " bytes)";
  return out;
}

// Reads `input` whole as T and gives what the registry's probe gives.
template <class T>
ProbeResult read_back(std::string_view input, json::Source source) {
  auto value = json::read_json<T>(input, source);
  if (!value) return {false, value.error().text()};
  return {true, json::to_json(*value)};
}

inline void expect_result(const ProbeResult& got, bool ok, const std::string& text) {
  EXPECT_EQ(got.ok, ok);
  EXPECT_EQ(got.text, text);
}

inline void run_probe_cases(const std::vector<ProbeCase>& cases) {
  for (const ProbeCase& c : cases) {
    for (const json::Source source : sources_of(c.from)) {
      SCOPED_TRACE(std::string(c.type) + " from " + source_name(source) + ": " + shown(c.input));
      const auto got = probe(c.type, c.input, source);
      ASSERT_TRUE(got.has_value()) << "no type named " << c.type;
      expect_result(*got, c.ok, c.text);
    }
  }
}

template <class T>
void run_typed_cases(const std::vector<TypedCase>& cases) {
  for (const TypedCase& c : cases) {
    for (const json::Source source : sources_of(c.from)) {
      SCOPED_TRACE(std::string("from ") + source_name(source) + ": " + shown(c.input));
      expect_result(read_back<T>(c.input, source), c.ok, c.text);
    }
  }
}

// "<message> at line L column C"
inline std::string at(std::string_view message, int line, int column) {
  return std::string(message) + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

}  // namespace zephlar::testing
