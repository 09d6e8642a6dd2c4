// Readable records of the market, quotes and swap orders.
#include "core/models/quote.hpp"
#include "tests/support/registry_entry.hpp"

namespace zephlar::testing {

std::vector<RegistryEntry> market_entries() {
  using namespace models;
  return {
      entry<SwapLeg>("SwapLeg"),
      entry<Fee>("Fee"),
  };
}

}  // namespace zephlar::testing
