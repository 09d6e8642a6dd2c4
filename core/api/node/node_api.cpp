#include "core/api/node/node_api.hpp"

#include <utility>

#include "core/api/request.hpp"

namespace zephlar::api {

namespace {

using detail::get;
using detail::post;

// The parameterless POSTs send the empty object, written as "{}".
template <class T>
Task<T> post_empty(std::shared_ptr<http::HttpClient> http, std::string path) {
  return post<T>(std::move(http), std::move(path), json::JsonValue::empty_object());
}

// The list answers: the one member of the answer record is required; only
// the list is handed on.
template <class Response, class T>
Task<std::vector<T>> list_member(Task<Response> request, std::vector<T> Response::*list) {
  auto response = co_await std::move(request);
  if (!response) co_return Err(std::move(response).error());
  co_return std::move(response.value().*list);
}

}  // namespace

Task<models::RgbNodeInfo> NodeApi::get_rgb_node_info() const { return get<models::RgbNodeInfo>(http_, nodeinfo_path); }

Task<std::vector<models::Peer>> NodeApi::list_peers() const {
  return list_member(get<models::ListPeersResponse>(http_, listpeers_path), &models::ListPeersResponse::peers);
}

Task<json::JsonValue> NodeApi::connect_peer(models::ConnectPeerRequest request) const {
  return post<json::JsonValue>(http_, connectpeer_path, std::move(request));
}

Task<std::vector<models::Channel>> NodeApi::list_channels() const {
  return list_member(get<models::ListChannelsResponse>(http_, listchannels_path),
                     &models::ListChannelsResponse::channels);
}

Task<std::vector<models::Payment>> NodeApi::list_payments() const {
  return list_member(get<models::ListPaymentsResponse>(http_, listpayments_path),
                     &models::ListPaymentsResponse::payments);
}

Task<models::BtcBalance> NodeApi::get_btc_balance() const {
  return post_empty<models::BtcBalance>(http_, btcbalance_path);
}

Task<models::RgbAssetBalance> NodeApi::get_asset_balance(std::string asset_id) const {
  return post<models::RgbAssetBalance>(http_, assetbalance_path, models::AssetBalanceRequest{std::move(asset_id)});
}

Task<std::vector<models::RgbAsset>> NodeApi::list_node_assets() const {
  return list_member(post_empty<models::ListAssetsResponse>(http_, listassets_path),
                     &models::ListAssetsResponse::assets);
}

Task<models::AddressResponse> NodeApi::get_onchain_address() const {
  return post_empty<models::AddressResponse>(http_, address_path);
}

Task<json::JsonValue> NodeApi::init_wallet(std::string password) const {
  return post<json::JsonValue>(http_, init_path, models::PasswordRequest{std::move(password)});
}

Task<json::JsonValue> NodeApi::unlock_wallet(std::string password) const {
  return post<json::JsonValue>(http_, unlock_path, models::PasswordRequest{std::move(password)});
}

Task<json::JsonValue> NodeApi::lock_wallet() const { return post_empty<json::JsonValue>(http_, lock_path); }

Task<json::JsonValue> NodeApi::decode_ln_invoice(std::string invoice) const {
  return post<json::JsonValue>(http_, decodelninvoice_path, models::DecodeLnInvoiceRequest{std::move(invoice)});
}

Task<json::JsonValue> NodeApi::whitelist_trade(std::string swapstring) const {
  return post<json::JsonValue>(http_, taker_path, models::TakerRequest{std::move(swapstring)});
}

}  // namespace zephlar::api
