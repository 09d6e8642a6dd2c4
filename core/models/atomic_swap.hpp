// Atomic swap records: the service's swap node, the start of a maker swap,
// the taker's registration, the execution and the status of a swap.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/json/record.hpp"
#include "core/json/request_body.hpp"
#include "core/models/enums.hpp"

namespace zephlar::models {

// The state of one atomic swap. Times are carried as received.
struct Swap {
  std::int64_t qty_from = 0;
  std::int64_t qty_to = 0;
  json::TriState<std::string> from_asset;
  json::TriState<std::string> to_asset;
  std::string payment_hash;
  SwapStatus status{};
  std::int64_t requested_at = 0;
  json::TriState<std::int64_t> initiated_at;
  std::int64_t expires_at = 0;
  json::TriState<std::int64_t> completed_at;

  bool operator==(const Swap&) const = default;
};
ZEPH_RECORD(Swap, "Swap",
            ZEPH_FIELD(qty_from, required),
            ZEPH_FIELD(qty_to, required),
            ZEPH_FIELD(from_asset, three_state),
            ZEPH_FIELD(to_asset, three_state),
            ZEPH_FIELD(payment_hash, required),
            ZEPH_FIELD(status, required),
            ZEPH_FIELD(requested_at, required),
            ZEPH_FIELD(initiated_at, three_state),
            ZEPH_FIELD(expires_at, required),
            ZEPH_FIELD(completed_at, three_state))

// Body of the status query (never read).
struct SwapStatusRequest {
  std::string payment_hash;

  bool operator==(const SwapStatusRequest&) const = default;
};
ZEPH_RECORD(SwapStatusRequest, "SwapStatusRequest",
            ZEPH_FIELD(payment_hash, required))

// Answer to the status query: no swap (absent or null) is left out, so the
// record is then written as {}.
struct SwapStatusResponse {
  std::optional<Swap> swap;

  bool operator==(const SwapStatusResponse&) const = default;
};
ZEPH_RECORD(SwapStatusResponse, "SwapStatusResponse",
            ZEPH_FIELD(swap, defaulted_omit_none))

// Starts a maker swap for a quote.
struct SwapRequest {
  std::string rfq_id;
  std::string from_asset;  // asset id, not a ticker
  std::int64_t from_amount = 0;
  std::string to_asset;  // asset id, not a ticker
  std::int64_t to_amount = 0;

  bool operator==(const SwapRequest&) const = default;
};
ZEPH_RECORD(SwapRequest, "SwapRequest",
            ZEPH_FIELD(rfq_id, required),
            ZEPH_FIELD(from_asset, required),
            ZEPH_FIELD(from_amount, required),
            ZEPH_FIELD(to_asset, required),
            ZEPH_FIELD(to_amount, required))

struct SwapResponse {
  std::string swapstring;
  std::string payment_hash;

  bool operator==(const SwapResponse&) const = default;
};
ZEPH_RECORD(SwapResponse, "SwapResponse",
            ZEPH_FIELD(swapstring, required),
            ZEPH_FIELD(payment_hash, required))

// Registers the taker's swap string with the service (never read).
struct SwapTakerRequest {
  std::string swapstring;

  bool operator==(const SwapTakerRequest&) const = default;
};
ZEPH_RECORD(SwapTakerRequest, "SwapTakerRequest",
            ZEPH_FIELD(swapstring, required))

// Executes a maker swap.
struct ConfirmSwapRequest {
  std::string swapstring;
  std::string taker_pubkey;
  std::string payment_hash;

  bool operator==(const ConfirmSwapRequest&) const = default;
};
ZEPH_RECORD(ConfirmSwapRequest, "ConfirmSwapRequest",
            ZEPH_FIELD(swapstring, required),
            ZEPH_FIELD(taker_pubkey, required),
            ZEPH_FIELD(payment_hash, required))

struct ConfirmSwapResponse {
  std::int64_t status = 0;  // a number, not a status word
  std::string message;

  bool operator==(const ConfirmSwapResponse&) const = default;
};
ZEPH_RECORD(ConfirmSwapResponse, "ConfirmSwapResponse",
            ZEPH_FIELD(status, required),
            ZEPH_FIELD(message, required))

// The service's swap node. `network` is the node's own word, not a Network.
struct SwapNodeInfoResponse {
  std::optional<std::string> pubkey;
  std::optional<std::string> network;
  std::optional<std::int64_t> block_height;

  bool operator==(const SwapNodeInfoResponse&) const = default;
};
ZEPH_RECORD(SwapNodeInfoResponse, "SwapNodeInfoResponse",
            ZEPH_FIELD(pubkey, required_nullable),
            ZEPH_FIELD(network, required_nullable),
            ZEPH_FIELD(block_height, required_nullable))

inline json::RequestBody json_body_swap_request(const SwapRequest& request) { return json::json_body(request); }

inline json::RequestBody json_body_swap_taker_request(const SwapTakerRequest& request) {
  return json::json_body(request);
}

inline json::RequestBody json_body_confirm_swap_request(const ConfirmSwapRequest& request) {
  return json::json_body(request);
}

inline json::RequestBody json_body_swap_status_request(const SwapStatusRequest& request) {
  return json::json_body(request);
}

}  // namespace zephlar::models
