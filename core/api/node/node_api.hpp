// The REST API of the user's RGB Lightning Node: status, funds, wallet,
// invoices and trade whitelisting. Plain requests on the node's own HTTP
// client; the gate that refuses them when no node URL was configured is the
// core client's.
//
// Every request is one of three forms: GET without body, POST with the
// empty object "{}", or POST with a one-member record holding the caller's
// text unchanged. Answers are read as a whole record, as the list inside a
// one-member answer record (only the list is handed on), or as an untyped
// JSON value. Nothing is checked, cached or remembered; no header of its own
// is added.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/async.hpp"
#include "core/http/http_client.hpp"
#include "core/json/value.hpp"
#include "core/models/node_requests.hpp"
#include "core/models/node_responses.hpp"

namespace zephlar::api {

class NodeApi {
 public:
  static constexpr const char* nodeinfo_path = "/nodeinfo";
  static constexpr const char* listpeers_path = "/listpeers";
  static constexpr const char* connectpeer_path = "/connectpeer";
  static constexpr const char* listchannels_path = "/listchannels";
  static constexpr const char* listpayments_path = "/listpayments";
  static constexpr const char* btcbalance_path = "/btcbalance";
  static constexpr const char* assetbalance_path = "/assetbalance";
  static constexpr const char* listassets_path = "/listassets";
  static constexpr const char* address_path = "/address";
  static constexpr const char* init_path = "/init";
  static constexpr const char* unlock_path = "/unlock";
  static constexpr const char* lock_path = "/lock";
  static constexpr const char* decodelninvoice_path = "/decodelninvoice";
  static constexpr const char* taker_path = "/taker";

  explicit NodeApi(std::shared_ptr<http::HttpClient> http) noexcept : http_(std::move(http)) {}

  // Status.

  // GET /nodeinfo.
  Task<models::RgbNodeInfo> get_rgb_node_info() const;
  // GET /listpeers; the `peers` list, in the node's order.
  Task<std::vector<models::Peer>> list_peers() const;
  // POST /connectpeer with {"peer_pubkey_and_addr": ...}; the answer as any
  // JSON value.
  Task<json::JsonValue> connect_peer(models::ConnectPeerRequest request) const;
  // GET /listchannels; the `channels` list.
  Task<std::vector<models::Channel>> list_channels() const;
  // GET /listpayments; the `payments` list.
  Task<std::vector<models::Payment>> list_payments() const;

  // Funds.

  // POST /btcbalance with "{}".
  Task<models::BtcBalance> get_btc_balance() const;
  // POST /assetbalance with {"asset_id": ...}.
  Task<models::RgbAssetBalance> get_asset_balance(std::string asset_id) const;
  // POST /listassets with "{}"; the `assets` list.
  Task<std::vector<models::RgbAsset>> list_node_assets() const;
  // POST /address with "{}".
  Task<models::AddressResponse> get_onchain_address() const;

  // Wallet, invoices and trades; every answer as any JSON value.

  // POST /init with {"password": ...}.
  Task<json::JsonValue> init_wallet(std::string password) const;
  // POST /unlock with {"password": ...}, the same bytes as /init.
  Task<json::JsonValue> unlock_wallet(std::string password) const;
  // POST /lock with "{}".
  Task<json::JsonValue> lock_wallet() const;
  // POST /decodelninvoice with {"invoice": ...}.
  Task<json::JsonValue> decode_ln_invoice(std::string invoice) const;
  // POST /taker with {"swapstring": ...}: the node's own whitelisting path,
  // not the service's taker request.
  Task<json::JsonValue> whitelist_trade(std::string swapstring) const;

  const std::shared_ptr<http::HttpClient>& http() const noexcept { return http_; }

 private:
  std::shared_ptr<http::HttpClient> http_;
};

}  // namespace zephlar::api
