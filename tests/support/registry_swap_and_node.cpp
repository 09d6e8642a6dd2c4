// Readable records of atomic swaps, LSPS1 and the node.
#include "tests/support/registry_entry.hpp"

namespace zephlar::testing {

std::vector<RegistryEntry> swap_and_node_entries() { return {}; }

}  // namespace zephlar::testing
