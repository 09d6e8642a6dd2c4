#include "tests/support/type_registry.hpp"

#include "core/json/json.hpp"
#include "core/models/enums.hpp"
#include "tests/support/registry_entry.hpp"

namespace zephlar::testing {
namespace {

const std::vector<RegistryEntry>& entries() {
  static const std::vector<RegistryEntry> all = [] {
    using namespace models;
    std::vector<RegistryEntry> v = {
        entry<json::JsonValue>("value"),
        entry<Layer>("Layer"),
        entry<SwapOrderStatus>("SwapOrderStatus"),
        entry<PaymentStatus>("PaymentStatus"),
        entry<SwapStatus>("SwapStatus"),
        entry<OrderState>("OrderState"),
        entry<Network>("Network"),
        entry<AssetDeliveryStatus>("AssetDeliveryStatus"),
        entry<LspPaymentState>("LspPaymentState"),
        entry<AddressFormat>("AddressFormat"),
    };
    for (auto group : {market_entries(), swap_and_node_entries()}) v.insert(v.end(), group.begin(), group.end());
    return v;
  }();
  return all;
}

}  // namespace

std::optional<ProbeResult> probe(std::string_view type, std::string_view input, json::Source source) {
  for (const RegistryEntry& e : entries())
    if (e.name == type) return e.fn(input, source);
  return std::nullopt;
}

std::vector<std::string_view> probe_type_names() {
  std::vector<std::string_view> names;
  for (const RegistryEntry& e : entries()) names.push_back(e.name);
  return names;
}

}  // namespace zephlar::testing
