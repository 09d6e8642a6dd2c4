// One readable type of the registry: its name and how to probe it.
#pragma once

#include <string_view>
#include <vector>

#include "core/json/json.hpp"
#include "tests/support/type_registry.hpp"

namespace zephlar::testing {

using ProbeFn = ProbeResult (*)(std::string_view, json::Source);

struct RegistryEntry {
  std::string_view name;
  ProbeFn fn;
};

template <class T>
ProbeResult probe_as(std::string_view input, json::Source source) {
  auto value = json::read_json<T>(input, source);
  if (!value) return {false, value.error().text()};
  return {true, json::to_json(*value)};
}

template <class T>
constexpr RegistryEntry entry(std::string_view name) {
  return {name, &probe_as<T>};
}

// The readable records, one list per group of model files.
std::vector<RegistryEntry> market_entries();
std::vector<RegistryEntry> swap_and_node_entries();

}  // namespace zephlar::testing
