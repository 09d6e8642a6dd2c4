// Bodies sent to the user's node. Each holds one text, sent unchanged.
#pragma once

#include <string>

#include "core/json/record.hpp"
#include "core/json/request_body.hpp"

namespace zephlar::models {

// POST /connectpeer, read from the host's request text. Other keys of that
// text are dropped.
struct ConnectPeerRequest {
  std::string peer_pubkey_and_addr;

  bool operator==(const ConnectPeerRequest&) const = default;
};
ZEPH_RECORD(ConnectPeerRequest, "ConnectPeerRequest",
            ZEPH_FIELD(peer_pubkey_and_addr, required))

// The request-only bodies below are never read.

// POST /init and POST /unlock.
struct PasswordRequest {
  std::string password;

  bool operator==(const PasswordRequest&) const = default;
};
ZEPH_RECORD(PasswordRequest, "PasswordRequest",
            ZEPH_FIELD(password, required))

// POST /decodelninvoice.
struct DecodeLnInvoiceRequest {
  std::string invoice;

  bool operator==(const DecodeLnInvoiceRequest&) const = default;
};
ZEPH_RECORD(DecodeLnInvoiceRequest, "DecodeLnInvoiceRequest",
            ZEPH_FIELD(invoice, required))

// POST /taker on the node (the service's own taker body is SwapTakerRequest).
struct TakerRequest {
  std::string swapstring;

  bool operator==(const TakerRequest&) const = default;
};
ZEPH_RECORD(TakerRequest, "TakerRequest",
            ZEPH_FIELD(swapstring, required))

// POST /assetbalance.
struct AssetBalanceRequest {
  std::string asset_id;

  bool operator==(const AssetBalanceRequest&) const = default;
};
ZEPH_RECORD(AssetBalanceRequest, "AssetBalanceRequest",
            ZEPH_FIELD(asset_id, required))

inline json::RequestBody json_body_connect_peer_request(const ConnectPeerRequest& request) {
  return json::json_body(request);
}

inline json::RequestBody json_body_password_request(const PasswordRequest& request) { return json::json_body(request); }

inline json::RequestBody json_body_decode_ln_invoice_request(const DecodeLnInvoiceRequest& request) {
  return json::json_body(request);
}

inline json::RequestBody json_body_taker_request(const TakerRequest& request) { return json::json_body(request); }

inline json::RequestBody json_body_asset_balance_request(const AssetBalanceRequest& request) {
  return json::json_body(request);
}

}  // namespace zephlar::models
