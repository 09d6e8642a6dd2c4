// The configuration a host builds a ZephClient from. Taken by value and
// moved unchanged into the core's configuration of the same six fields;
// nothing here is checked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zephlar::ffi {

struct ZephConfig {
  // Base URL of the trading service, used exactly as given.
  std::string base_url;
  // Base URL of the user's RGB Lightning Node; present (even empty) means
  // the node operations are available.
  std::optional<std::string> node_url;
  std::optional<std::string> api_key;
  // Total time-out of each HTTP request, in seconds. A negative, NaN or too
  // large value is an internal fault when the client is built.
  double timeout = 30.0;
  // Retries after the first try of each request.
  std::uint32_t max_retries = 3;
  // Lifetime of the cached asset and pair lists, in seconds.
  std::uint64_t cache_ttl = 300;

  bool operator==(const ZephConfig&) const = default;
};

}  // namespace zephlar::ffi
