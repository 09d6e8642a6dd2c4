// Swap order records: creating an order, asking for its state, and answering
// a changed rate; plus the one-member order-id body shared with LSPS1.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/json/record.hpp"
#include "core/json/request_body.hpp"
#include "core/models/enums.hpp"
#include "core/models/quote.hpp"

namespace zephlar::models {

// An address together with the form it is written in.
struct ReceiverAddress {
  std::string address;
  AddressFormat format{};

  bool operator==(const ReceiverAddress&) const = default;
};
ZEPH_RECORD(ReceiverAddress, "ReceiverAddress",
            ZEPH_FIELD(address, required),
            ZEPH_FIELD(format, required))

// The full order as the service reports it.
struct SwapOrder {
  std::string id;
  std::string rfq_id;
  json::TriState<std::string> maker_pubkey;
  SwapLeg from_asset;
  SwapLeg to_asset;
  std::int64_t price = 0;
  json::TriState<ReceiverAddress> deposit_address;
  json::TriState<ReceiverAddress> payout_address;
  json::TriState<std::string> refund_address;  // plain text, not a ReceiverAddress
  std::optional<SwapOrderStatus> status;
  std::optional<std::int64_t> created_at;
  json::TriState<std::int64_t> expires_at;
  json::TriState<std::int64_t> filled_at;
  json::TriState<std::string> refund_txid;
  json::TriState<bool> requires_manual_refund;
  json::TriState<PaymentStatus> payment_status;
  json::TriState<std::int64_t> payment_difference;
  json::TriState<std::int64_t> last_payment_check;
  json::TriState<std::string> email;
  json::TriState<std::string> failure_reason;
  Fee fee;

  bool operator==(const SwapOrder&) const = default;
};
ZEPH_RECORD(SwapOrder, "SwapOrder",
            ZEPH_FIELD(id, required),
            ZEPH_FIELD(rfq_id, required),
            ZEPH_FIELD(maker_pubkey, three_state),
            ZEPH_FIELD(from_asset, required),
            ZEPH_FIELD(to_asset, required),
            ZEPH_FIELD(price, required),
            ZEPH_FIELD(deposit_address, three_state),
            ZEPH_FIELD(payout_address, three_state),
            ZEPH_FIELD(refund_address, three_state),
            ZEPH_FIELD(status, optional),
            ZEPH_FIELD(created_at, optional),
            ZEPH_FIELD(expires_at, three_state),
            ZEPH_FIELD(filled_at, three_state),
            ZEPH_FIELD(refund_txid, three_state),
            ZEPH_FIELD(requires_manual_refund, three_state),
            ZEPH_FIELD(payment_status, three_state),
            ZEPH_FIELD(payment_difference, three_state),
            ZEPH_FIELD(last_payment_check, three_state),
            ZEPH_FIELD(email, three_state),
            ZEPH_FIELD(failure_reason, three_state),
            ZEPH_FIELD(fee, required))

// Read from the caller's text and sent on unchanged, in normal form.
struct CreateSwapOrderRequest {
  std::string rfq_id;
  SwapLeg from_asset;
  SwapLeg to_asset;
  ReceiverAddress receiver_address;
  json::TriState<std::int64_t> min_onchain_conf;
  json::TriState<std::string> refund_address;  // plain text, not a ReceiverAddress
  json::TriState<std::string> email;

  bool operator==(const CreateSwapOrderRequest&) const = default;
};
ZEPH_RECORD(CreateSwapOrderRequest, "CreateSwapOrderRequest",
            ZEPH_FIELD(rfq_id, required),
            ZEPH_FIELD(from_asset, required),
            ZEPH_FIELD(to_asset, required),
            ZEPH_FIELD(receiver_address, required),
            ZEPH_FIELD(min_onchain_conf, three_state),
            ZEPH_FIELD(refund_address, three_state),
            ZEPH_FIELD(email, three_state))

struct CreateSwapOrderResponse {
  std::string id;
  std::string rfq_id;
  json::TriState<ReceiverAddress> deposit_address;
  SwapOrderStatus status{};  // must be present and not null, unlike SwapOrder's

  bool operator==(const CreateSwapOrderResponse&) const = default;
};
ZEPH_RECORD(CreateSwapOrderResponse, "CreateSwapOrderResponse",
            ZEPH_FIELD(id, required),
            ZEPH_FIELD(rfq_id, required),
            ZEPH_FIELD(deposit_address, three_state),
            ZEPH_FIELD(status, required))

struct SwapOrderStatusResponse {
  std::string order_id;
  SwapOrderStatus status{};
  SwapOrder order;

  bool operator==(const SwapOrderStatusResponse&) const = default;
};
ZEPH_RECORD(SwapOrderStatusResponse, "SwapOrderStatusResponse",
            ZEPH_FIELD(order_id, required),
            ZEPH_FIELD(status, required),
            ZEPH_FIELD(order, required))

struct SwapOrderRateDecisionResponse {
  std::string order_id;
  bool decision_accepted = false;
  std::string message;
  json::TriState<std::string> refund_txid;

  bool operator==(const SwapOrderRateDecisionResponse&) const = default;
};
ZEPH_RECORD(SwapOrderRateDecisionResponse, "SwapOrderRateDecisionResponse",
            ZEPH_FIELD(order_id, required),
            ZEPH_FIELD(decision_accepted, required),
            ZEPH_FIELD(message, required),
            ZEPH_FIELD(refund_txid, three_state))

// Request records: written as request bodies, never read (so not named in
// any message).

// Body of the swap-order status request and of two LSPS1 order requests.
// The id is sent as given, empty or not.
struct OrderIdRequest {
  std::string order_id;

  bool operator==(const OrderIdRequest&) const = default;
};
ZEPH_RECORD(OrderIdRequest, "OrderIdRequest",
            ZEPH_FIELD(order_id, required))

struct SwapOrderRateDecisionRequest {
  std::string order_id;
  bool accept_new_rate = false;

  bool operator==(const SwapOrderRateDecisionRequest&) const = default;
};
ZEPH_RECORD(SwapOrderRateDecisionRequest, "SwapOrderRateDecisionRequest",
            ZEPH_FIELD(order_id, required),
            ZEPH_FIELD(accept_new_rate, required))

// Body of POST /api/v1/swaps/orders.
inline json::RequestBody json_body_create_swap_order_request(const CreateSwapOrderRequest& request) {
  return json::json_body(request);
}

// Body of POST /api/v1/swaps/orders/status, /api/v1/lsps1/get_order and
// /api/v1/lsps1/retry_delivery.
inline json::RequestBody json_body_order_id_request(std::string_view order_id) {
  return json::json_body(OrderIdRequest{std::string(order_id)});
}

// Body of POST /api/v1/swaps/orders/rate_decision.
inline json::RequestBody json_body_swap_order_rate_decision_request(const SwapOrderRateDecisionRequest& request) {
  return json::json_body(request);
}

}  // namespace zephlar::models
