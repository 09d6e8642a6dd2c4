// Asset records: the assets the market offers, their media and the amount
// limits per layer, and the page of assets the market lists.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/json/record.hpp"

namespace zephlar::models {

// One media file of an asset.
struct Media {
  std::string file_path;
  std::string digest;
  std::string mime;

  bool operator==(const Media&) const = default;
};
ZEPH_RECORD(Media, "Media",
            ZEPH_FIELD(file_path, required),
            ZEPH_FIELD(digest, required),
            ZEPH_FIELD(mime, required))

// The amount limits of an asset on one layer. The layer is plain text, taken
// as received; min_amount may exceed max_amount.
struct TradingLimits {
  std::string layer;
  std::int64_t min_amount = 0;
  std::int64_t max_amount = 0;
  std::optional<bool> is_active;

  bool operator==(const TradingLimits&) const = default;
};
ZEPH_RECORD(TradingLimits, "TradingLimits",
            ZEPH_FIELD(layer, required),
            ZEPH_FIELD(min_amount, required),
            ZEPH_FIELD(max_amount, required),
            ZEPH_FIELD(is_active, optional))

// The full description of one asset.
struct Asset {
  std::string ticker;
  std::string name;
  std::int64_t precision = 0;
  std::optional<std::map<std::string, std::string>> protocol_ids;
  json::TriState<Media> media;
  json::TriState<std::int64_t> issued_supply;
  json::TriState<std::int64_t> timestamp;
  std::optional<std::vector<TradingLimits>> endpoints;
  std::optional<bool> is_active;
  json::TriState<std::int64_t> added_at;
  // Layer names as received, not checked against Layer.
  json::TriState<std::vector<std::string>> supported_layers;

  bool operator==(const Asset&) const = default;
};
ZEPH_RECORD(Asset, "Asset",
            ZEPH_FIELD(ticker, required),
            ZEPH_FIELD(name, required),
            ZEPH_FIELD(precision, required),
            ZEPH_FIELD(protocol_ids, optional),
            ZEPH_FIELD(media, three_state),
            ZEPH_FIELD(issued_supply, three_state),
            ZEPH_FIELD(timestamp, three_state),
            ZEPH_FIELD(endpoints, optional),
            ZEPH_FIELD(is_active, optional),
            ZEPH_FIELD(added_at, three_state),
            ZEPH_FIELD(supported_layers, three_state))

// The shorter asset description a trading pair carries for each side: the
// first eight members of Asset.
struct TradableAsset {
  std::string ticker;
  std::string name;
  std::int64_t precision = 0;
  std::optional<std::map<std::string, std::string>> protocol_ids;
  json::TriState<Media> media;
  json::TriState<std::int64_t> issued_supply;
  json::TriState<std::int64_t> timestamp;
  std::optional<std::vector<TradingLimits>> endpoints;

  bool operator==(const TradableAsset&) const = default;
};
ZEPH_RECORD(TradableAsset, "TradableAsset",
            ZEPH_FIELD(ticker, required),
            ZEPH_FIELD(name, required),
            ZEPH_FIELD(precision, required),
            ZEPH_FIELD(protocol_ids, optional),
            ZEPH_FIELD(media, three_state),
            ZEPH_FIELD(issued_supply, three_state),
            ZEPH_FIELD(timestamp, three_state),
            ZEPH_FIELD(endpoints, optional))

// The answer of the market's asset list. Only `assets` is kept by the
// client; the other members are still checked when it is read.
struct AssetsResponse {
  std::vector<Asset> assets;
  std::optional<std::string> network;  // plain text, not Network
  std::int64_t total = 0;
  std::int64_t limit = 0;
  std::int64_t offset = 0;
  json::TriState<std::int64_t> timestamp;

  bool operator==(const AssetsResponse&) const = default;
};
ZEPH_RECORD(AssetsResponse, "AssetsResponse",
            ZEPH_FIELD(assets, required),
            ZEPH_FIELD(network, optional),
            ZEPH_FIELD(total, required),
            ZEPH_FIELD(limit, required),
            ZEPH_FIELD(offset, required),
            ZEPH_FIELD(timestamp, three_state))

}  // namespace zephlar::models
