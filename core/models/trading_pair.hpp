// Trading pair records: what the market can swap, and over which layers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/json/record.hpp"
#include "core/models/asset.hpp"

namespace zephlar::models {

// A layer route of a pair; both layers are plain text, taken as received.
struct SwapRoute {
  std::string from_layer;
  std::string to_layer;

  bool operator==(const SwapRoute&) const = default;
};
ZEPH_RECORD(SwapRoute, "SwapRoute",
            ZEPH_FIELD(from_layer, required),
            ZEPH_FIELD(to_layer, required))

// Two tradable assets, an optional price (text, never parsed) and the routes
// over which they can be swapped.
struct TradingPair {
  std::optional<std::string> id;
  TradableAsset base;
  TradableAsset quote;
  json::TriState<std::string> price;
  std::optional<std::vector<SwapRoute>> routes;
  std::optional<bool> is_active;

  bool operator==(const TradingPair&) const = default;
};
ZEPH_RECORD(TradingPair, "TradingPair",
            ZEPH_FIELD(id, optional),
            ZEPH_FIELD(base, required),
            ZEPH_FIELD(quote, required),
            ZEPH_FIELD(price, three_state),
            ZEPH_FIELD(routes, optional),
            ZEPH_FIELD(is_active, optional))

// The answer of the market's pair list. Only `pairs` is kept by the client;
// the other members are still checked when it is read.
struct TradingPairsResponse {
  std::vector<TradingPair> pairs;
  std::int64_t total = 0;
  std::int64_t limit = 0;
  std::int64_t offset = 0;
  std::int64_t timestamp = 0;

  bool operator==(const TradingPairsResponse&) const = default;
};
ZEPH_RECORD(TradingPairsResponse, "TradingPairsResponse",
            ZEPH_FIELD(pairs, required),
            ZEPH_FIELD(total, required),
            ZEPH_FIELD(limit, required),
            ZEPH_FIELD(offset, required),
            ZEPH_FIELD(timestamp, required))

}  // namespace zephlar::models
