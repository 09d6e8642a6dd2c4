// Ticker matching over the market's asset and pair lists.
//
// Tickers are compared after full Unicode upper-casing (the special casings
// that lengthen a text included, so "ß" becomes "SS"), byte for byte, with
// nothing trimmed or normalised otherwise.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/models/asset.hpp"
#include "core/models/trading_pair.hpp"

namespace zephlar::client {

// The full upper-case mapping of a UTF-8 text in the root locale: every
// character replaced by its upper-case form, which may be longer; characters
// without one stay as they are. An ill-formed UTF-8 sequence becomes U+FFFD.
std::string to_upper_full(std::string_view text);

// The first asset whose upper-cased ticker equals `upper_ticker` (which the
// caller has upper-cased already), or nothing.
std::optional<models::Asset> find_asset_in_list(std::vector<models::Asset> assets, std::string_view upper_ticker);

// "BASE/QUOTE" of a pair: its base ticker, '/', its quote ticker.
std::string pair_ticker(const models::TradingPair& pair);

// The first pair whose upper-cased "BASE/QUOTE" ticker equals `upper_ticker`
// (upper-cased by the caller), or nothing.
std::optional<models::TradingPair> find_pair_in_list(std::vector<models::TradingPair> pairs,
                                                     std::string_view upper_ticker);

// Keep the entries whose is_active is true, in their order; absent counts as
// inactive.
std::vector<models::Asset> retain_active_assets(std::vector<models::Asset> assets);
std::vector<models::TradingPair> retain_active_pairs(std::vector<models::TradingPair> pairs);

}  // namespace zephlar::client
