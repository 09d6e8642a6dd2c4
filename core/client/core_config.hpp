// The configuration a CoreClient is built from, as the host hands it in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zephlar::client {

struct CoreConfig {
  // Base URL of the trading service; every service path is appended to it.
  std::string base_url;
  // Base URL of the user's RGB Lightning Node; present means a node client
  // is built (even when it is the empty text).
  std::optional<std::string> node_url;
  // Kept with the configuration and never sent.
  std::optional<std::string> api_key;
  // Total time-out of each HTTP request, in seconds, for both clients.
  double timeout = 30.0;
  // Retries after the first try of a request.
  std::uint32_t max_retries = 3;
  // Lifetime of the asset and pair caches, in seconds.
  std::uint64_t cache_ttl = 300;

  bool operator==(const CoreConfig&) const = default;
};

}  // namespace zephlar::client
