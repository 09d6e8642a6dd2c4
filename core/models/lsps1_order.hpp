// LSPS1 channel order records: the order that asks the service to open a
// channel towards the user's node, and the order as the service reports it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/json/record.hpp"
#include "core/json/request_body.hpp"
#include "core/models/enums.hpp"

namespace zephlar::models {

// Asks for a channel, optionally with an asset amount on it. An explicit
// null of a three-state member is forwarded; one of `announce_channel` is not.
struct CreateOrderRequest {
  std::string client_pubkey;
  std::int64_t lsp_balance_sat = 0;
  std::int64_t client_balance_sat = 0;
  std::int64_t required_channel_confirmations = 0;
  std::int64_t funding_confirms_within_blocks = 0;
  std::int64_t channel_expiry_blocks = 0;
  json::TriState<std::string> token;
  json::TriState<std::string> refund_onchain_address;
  std::optional<bool> announce_channel;
  json::TriState<std::string> asset_id;
  json::TriState<std::int64_t> lsp_asset_amount;
  json::TriState<std::int64_t> client_asset_amount;
  json::TriState<std::string> rfq_id;
  json::TriState<std::string> email;

  bool operator==(const CreateOrderRequest&) const = default;
};
ZEPH_RECORD(CreateOrderRequest, "CreateOrderRequest",
            ZEPH_FIELD(client_pubkey, required),
            ZEPH_FIELD(lsp_balance_sat, required),
            ZEPH_FIELD(client_balance_sat, required),
            ZEPH_FIELD(required_channel_confirmations, required),
            ZEPH_FIELD(funding_confirms_within_blocks, required),
            ZEPH_FIELD(channel_expiry_blocks, required),
            ZEPH_FIELD(token, three_state),
            ZEPH_FIELD(refund_onchain_address, three_state),
            ZEPH_FIELD(announce_channel, optional),
            ZEPH_FIELD(asset_id, three_state),
            ZEPH_FIELD(lsp_asset_amount, three_state),
            ZEPH_FIELD(client_asset_amount, three_state),
            ZEPH_FIELD(rfq_id, three_state),
            ZEPH_FIELD(email, three_state))

// Paying an order by a BOLT11 invoice.
struct PaymentBolt11 {
  LspPaymentState state{};
  std::string expires_at;
  std::int64_t fee_total_sat = 0;
  std::int64_t order_total_sat = 0;
  std::string invoice;

  bool operator==(const PaymentBolt11&) const = default;
};
ZEPH_RECORD(PaymentBolt11, "PaymentBolt11",
            ZEPH_FIELD(state, required),
            ZEPH_FIELD(expires_at, required),
            ZEPH_FIELD(fee_total_sat, required),
            ZEPH_FIELD(order_total_sat, required),
            ZEPH_FIELD(invoice, required))

// Paying an order on chain. `payment_status` is the service's own word.
struct PaymentOnchain {
  LspPaymentState state{};
  std::string expires_at;
  std::int64_t fee_total_sat = 0;
  std::int64_t order_total_sat = 0;
  std::string address;
  std::int64_t min_fee_for_0conf = 0;
  std::int64_t min_onchain_payment_confirmations = 0;
  json::TriState<std::string> refund_onchain_address;
  json::TriState<std::string> payment_status;
  json::TriState<std::int64_t> payment_difference;
  json::TriState<std::int64_t> last_payment_check;

  bool operator==(const PaymentOnchain&) const = default;
};
ZEPH_RECORD(PaymentOnchain, "PaymentOnchain",
            ZEPH_FIELD(state, required),
            ZEPH_FIELD(expires_at, required),
            ZEPH_FIELD(fee_total_sat, required),
            ZEPH_FIELD(order_total_sat, required),
            ZEPH_FIELD(address, required),
            ZEPH_FIELD(min_fee_for_0conf, required),
            ZEPH_FIELD(min_onchain_payment_confirmations, required),
            ZEPH_FIELD(refund_onchain_address, three_state),
            ZEPH_FIELD(payment_status, three_state),
            ZEPH_FIELD(payment_difference, three_state),
            ZEPH_FIELD(last_payment_check, three_state))

struct PaymentDetails {
  PaymentBolt11 bolt11;
  PaymentOnchain onchain;

  bool operator==(const PaymentDetails&) const = default;
};
ZEPH_RECORD(PaymentDetails, "PaymentDetails",
            ZEPH_FIELD(bolt11, required),
            ZEPH_FIELD(onchain, required))

// The channel of an order, once it exists.
struct ChannelDetails {
  json::TriState<std::string> channel_id;
  json::TriState<std::string> temporary_channel_id;
  json::TriState<std::string> funded_at;
  json::TriState<std::string> funding_outpoint;
  json::TriState<std::string> expires_at;

  bool operator==(const ChannelDetails&) const = default;
};
ZEPH_RECORD(ChannelDetails, "ChannelDetails",
            ZEPH_FIELD(channel_id, three_state),
            ZEPH_FIELD(temporary_channel_id, three_state),
            ZEPH_FIELD(funded_at, three_state),
            ZEPH_FIELD(funding_outpoint, three_state),
            ZEPH_FIELD(expires_at, three_state))

// A channel order as the service reports it.
struct ChannelOrderResponse {
  std::string order_id;
  std::string client_pubkey;
  std::int64_t lsp_balance_sat = 0;
  std::int64_t client_balance_sat = 0;
  std::int64_t required_channel_confirmations = 0;
  std::int64_t funding_confirms_within_blocks = 0;
  std::int64_t channel_expiry_blocks = 0;
  json::TriState<std::string> token;
  std::optional<std::string> created_at;
  bool announce_channel = false;
  OrderState order_state{};
  PaymentDetails payment;
  json::TriState<ChannelDetails> channel;
  json::TriState<std::string> asset_id;
  json::TriState<std::int64_t> lsp_asset_amount;
  json::TriState<std::int64_t> client_asset_amount;
  json::TriState<std::string> rfq_id;
  json::TriState<std::int64_t> asset_price_sat;
  json::TriState<AssetDeliveryStatus> asset_delivery_status;
  json::TriState<std::string> asset_delivery_payment_hash;
  json::TriState<std::string> asset_delivery_completed_at;
  json::TriState<std::string> asset_delivery_error;
  json::TriState<std::string> failure_reason;

  bool operator==(const ChannelOrderResponse&) const = default;
};
ZEPH_RECORD(ChannelOrderResponse, "ChannelOrderResponse",
            ZEPH_FIELD(order_id, required),
            ZEPH_FIELD(client_pubkey, required),
            ZEPH_FIELD(lsp_balance_sat, required),
            ZEPH_FIELD(client_balance_sat, required),
            ZEPH_FIELD(required_channel_confirmations, required),
            ZEPH_FIELD(funding_confirms_within_blocks, required),
            ZEPH_FIELD(channel_expiry_blocks, required),
            ZEPH_FIELD(token, three_state),
            ZEPH_FIELD(created_at, optional),
            ZEPH_FIELD(announce_channel, required),
            ZEPH_FIELD(order_state, required),
            ZEPH_FIELD(payment, required),
            ZEPH_FIELD(channel, three_state),
            ZEPH_FIELD(asset_id, three_state),
            ZEPH_FIELD(lsp_asset_amount, three_state),
            ZEPH_FIELD(client_asset_amount, three_state),
            ZEPH_FIELD(rfq_id, three_state),
            ZEPH_FIELD(asset_price_sat, three_state),
            ZEPH_FIELD(asset_delivery_status, three_state),
            ZEPH_FIELD(asset_delivery_payment_hash, three_state),
            ZEPH_FIELD(asset_delivery_completed_at, three_state),
            ZEPH_FIELD(asset_delivery_error, three_state),
            ZEPH_FIELD(failure_reason, three_state))

inline json::RequestBody json_body_create_order_request(const CreateOrderRequest& request) {
  return json::json_body(request);
}

}  // namespace zephlar::models
