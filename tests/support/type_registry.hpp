// Every readable type by the name the code gives it, for tools and tests
// that pick the type at run time (json_probe, the fuzzer, table tests).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json/reader.hpp"

namespace zephlar::testing {

struct ProbeResult {
  bool ok = false;
  // The compact JSON written back, or the reading error's full text.
  std::string text;
};

// Reads `input` whole as the type called `type`: a record, an enumeration,
// or "value" for the untyped JSON value. No value when no type has the name.
std::optional<ProbeResult> probe(std::string_view type, std::string_view input, json::Source source);

std::vector<std::string_view> probe_type_names();

}  // namespace zephlar::testing
