// Small JSON answers of the market endpoints, written out for scripting the
// fake service.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/support/fake_service.hpp"

namespace zephlar::testing {

struct AssetRow {
  AssetRow(std::string t, std::optional<std::string> layers = std::nullopt,
           std::optional<std::string> active = std::nullopt)
      : ticker(std::move(t)), supported_layers(std::move(layers)), is_active(std::move(active)) {}
  AssetRow(const char* t) : AssetRow(std::string(t)) {}

  std::string ticker;
  // The JSON text of supported_layers (such as ["BTC_LN"] or null); left out
  // when not given.
  std::optional<std::string> supported_layers;
  // The JSON text of is_active; left out when not given.
  std::optional<std::string> is_active;
};

// An answer of the fake service with no extra headers and no fault.
inline ScriptedAnswer answer(int status, std::string body,
                             std::chrono::milliseconds delay = std::chrono::milliseconds(0)) {
  ScriptedAnswer a;
  a.status = status;
  a.body = std::move(body);
  a.delay = delay;
  return a;
}

inline std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

inline std::string asset_json(const AssetRow& row) {
  std::string out =
      "{\"ticker\":" + json_string(row.ticker) + ",\"name\":" + json_string(row.ticker + " coin") + ",\"precision\":8";
  if (row.is_active) out += ",\"is_active\":" + *row.is_active;
  if (row.supported_layers) out += ",\"supported_layers\":" + *row.supported_layers;
  return out + "}";
}

inline std::string assets_body(const std::vector<AssetRow>& assets) {
  std::string list;
  for (const auto& asset : assets) list += (list.empty() ? "" : ",") + asset_json(asset);
  return "{\"assets\":[" + list + "],\"network\":\"regtest\",\"total\":" + std::to_string(assets.size()) +
         ",\"limit\":100,\"offset\":0,\"timestamp\":1700000000}";
}

struct PairRow {
  PairRow(std::string b, std::string q, std::optional<std::string> active = std::nullopt,
          std::optional<std::string> pair_id = std::nullopt)
      : base(std::move(b)), quote(std::move(q)), is_active(std::move(active)), id(std::move(pair_id)) {}

  std::string base;
  std::string quote;
  std::optional<std::string> is_active;
  std::optional<std::string> id;
};

inline std::string pairs_body(const std::vector<PairRow>& pairs) {
  std::string list;
  for (const auto& pair : pairs) {
    std::string item = "{";
    if (pair.id) item += "\"id\":" + json_string(*pair.id) + ",";
    item += "\"base\":{\"ticker\":" + json_string(pair.base) + ",\"name\":\"base\",\"precision\":8}";
    item += ",\"quote\":{\"ticker\":" + json_string(pair.quote) + ",\"name\":\"quote\",\"precision\":6}";
    if (pair.is_active) item += ",\"is_active\":" + *pair.is_active;
    list += (list.empty() ? "" : ",") + item + "}";
  }
  return "{\"pairs\":[" + list + "],\"total\":" + std::to_string(pairs.size()) +
         ",\"limit\":100,\"offset\":0,\"timestamp\":1700000000}";
}

inline std::string leg_json(std::string_view asset_id, std::string_view layer, std::int64_t amount,
                            std::int64_t precision) {
  return "{\"asset_id\":" + json_string(asset_id) + ",\"name\":\"Asset\",\"ticker\":" + json_string(asset_id) +
         ",\"layer\":" + json_string(layer) + ",\"amount\":" + std::to_string(amount) +
         ",\"precision\":" + std::to_string(precision) + "}";
}

inline std::string quote_body(std::string_view rfq_id, std::string_view from_layer, std::string_view to_layer,
                              std::int64_t to_amount) {
  return "{\"rfq_id\":" + json_string(rfq_id) + ",\"from_asset\":" + leg_json("BTC", from_layer, 100000, 8) +
         ",\"to_asset\":" + leg_json("USDT", to_layer, to_amount, 6) +
         ",\"price\":95000,\"fee\":{\"base_fee\":10,\"variable_fee\":5,\"fee_rate\":0.001,\"final_fee\":15,"
         "\"fee_asset\":\"BTC\",\"fee_asset_precision\":8},\"timestamp\":1700000000,\"expires_at\":1700000060}";
}

}  // namespace zephlar::testing
