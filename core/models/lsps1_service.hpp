// LSPS1 service records: what the service tells about its channel service
// before an order is placed, and its fee estimate.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/json/record.hpp"
#include "core/json/request_body.hpp"
#include "core/models/enums.hpp"

namespace zephlar::models {

// The limits of the service's channel orders. Nothing is required.
struct OrderOptions {
  std::optional<std::int64_t> min_required_channel_confirmations;
  std::optional<std::int64_t> min_funding_confirms_within_blocks;
  json::TriState<std::int64_t> min_onchain_payment_confirmations;
  std::optional<bool> supports_zero_channel_reserve;
  json::TriState<std::int64_t> min_onchain_payment_size_sat;
  std::optional<std::int64_t> max_channel_expiry_blocks;
  std::optional<std::int64_t> min_initial_client_balance_sat;
  std::optional<std::int64_t> max_initial_client_balance_sat;
  std::optional<std::int64_t> min_initial_lsp_balance_sat;
  std::optional<std::int64_t> max_initial_lsp_balance_sat;
  std::optional<std::int64_t> min_channel_balance_sat;
  std::optional<std::int64_t> max_channel_balance_sat;

  bool operator==(const OrderOptions&) const = default;
};
ZEPH_RECORD(OrderOptions, "OrderOptions",
            ZEPH_FIELD(min_required_channel_confirmations, optional),
            ZEPH_FIELD(min_funding_confirms_within_blocks, optional),
            ZEPH_FIELD(min_onchain_payment_confirmations, three_state),
            ZEPH_FIELD(supports_zero_channel_reserve, optional),
            ZEPH_FIELD(min_onchain_payment_size_sat, three_state),
            ZEPH_FIELD(max_channel_expiry_blocks, optional),
            ZEPH_FIELD(min_initial_client_balance_sat, optional),
            ZEPH_FIELD(max_initial_client_balance_sat, optional),
            ZEPH_FIELD(min_initial_lsp_balance_sat, optional),
            ZEPH_FIELD(max_initial_lsp_balance_sat, optional),
            ZEPH_FIELD(min_channel_balance_sat, optional),
            ZEPH_FIELD(max_channel_balance_sat, optional))

// One asset the service can put on a channel, with its amount limits.
struct AssetsOptions {
  std::optional<std::string> name;
  json::TriState<std::string> asset_id;
  std::optional<std::string> ticker;
  std::optional<std::int64_t> precision;  // 64-bit here, unlike the node's
  std::optional<std::int64_t> issued_supply;
  std::optional<std::int64_t> min_initial_client_amount;
  std::optional<std::int64_t> max_initial_client_amount;
  std::optional<std::int64_t> min_initial_lsp_amount;
  std::optional<std::int64_t> max_initial_lsp_amount;
  std::optional<std::int64_t> min_channel_amount;
  std::optional<std::int64_t> max_channel_amount;

  bool operator==(const AssetsOptions&) const = default;
};
ZEPH_RECORD(AssetsOptions, "AssetsOptions",
            ZEPH_FIELD(name, optional),
            ZEPH_FIELD(asset_id, three_state),
            ZEPH_FIELD(ticker, optional),
            ZEPH_FIELD(precision, optional),
            ZEPH_FIELD(issued_supply, optional),
            ZEPH_FIELD(min_initial_client_amount, optional),
            ZEPH_FIELD(max_initial_client_amount, optional),
            ZEPH_FIELD(min_initial_lsp_amount, optional),
            ZEPH_FIELD(max_initial_lsp_amount, optional),
            ZEPH_FIELD(min_channel_amount, optional),
            ZEPH_FIELD(max_channel_amount, optional))

// The service's LSPS1 information.
struct GetInfoResponseModel {
  std::string lsp_connection_url;
  OrderOptions options;
  std::vector<AssetsOptions> assets;

  bool operator==(const GetInfoResponseModel&) const = default;
};
ZEPH_RECORD(GetInfoResponseModel, "GetInfoResponseModel",
            ZEPH_FIELD(lsp_connection_url, required),
            ZEPH_FIELD(options, required),
            ZEPH_FIELD(assets, required))

struct NetworkInfoResponse {
  Network network{};
  std::int64_t height = 0;  // block height

  bool operator==(const NetworkInfoResponse&) const = default;
};
ZEPH_RECORD(NetworkInfoResponse, "NetworkInfoResponse",
            ZEPH_FIELD(network, required),
            ZEPH_FIELD(height, required))

// Body of the fee estimate (never read); the size is sent as given.
struct EstimateFeesRequest {
  std::int64_t channel_size = 0;

  bool operator==(const EstimateFeesRequest&) const = default;
};
ZEPH_RECORD(EstimateFeesRequest, "EstimateFeesRequest",
            ZEPH_FIELD(channel_size, required))

// The fee estimate for a channel.
struct ChannelFees {
  std::int64_t setup_fee = 0;
  std::int64_t capacity_fee = 0;
  std::int64_t duration_fee = 0;
  std::int64_t total_fee = 0;
  json::TriState<double> applied_discount;
  json::TriState<std::string> discount_code;

  bool operator==(const ChannelFees&) const = default;
};
ZEPH_RECORD(ChannelFees, "ChannelFees",
            ZEPH_FIELD(setup_fee, required),
            ZEPH_FIELD(capacity_fee, required),
            ZEPH_FIELD(duration_fee, required),
            ZEPH_FIELD(total_fee, required),
            ZEPH_FIELD(applied_discount, three_state),
            ZEPH_FIELD(discount_code, three_state))

inline json::RequestBody json_body_estimate_fees_request(const EstimateFeesRequest& request) {
  return json::json_body(request);
}

}  // namespace zephlar::models
