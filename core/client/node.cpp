// The node operations: each passes the node gate, then makes its one
// request through the node's API group.
#include <utility>

#include "core/client/core_client.hpp"

namespace zephlar::client {

template <class T, class... Params, class... Args>
Task<T> CoreClient::node_operation_in(std::shared_ptr<CoreClient> self,
                                      Task<T> (api::NodeApi::*operation)(Params...) const, Args... args) {
  // Nothing is joined, built, sent or waited for before the gate.
  auto node = self->node_client();
  if (!node) co_return Err(std::move(node).error());
  const api::NodeApi node_api(std::move(node).value());
  co_return co_await (node_api.*operation)(std::move(args)...);
}

Task<models::RgbNodeInfo> CoreClient::get_rgb_node_info() {
  return node_operation_in(shared_from_this(), &api::NodeApi::get_rgb_node_info);
}

Task<std::vector<models::Peer>> CoreClient::list_peers() {
  return node_operation_in(shared_from_this(), &api::NodeApi::list_peers);
}

Task<json::JsonValue> CoreClient::connect_peer(models::ConnectPeerRequest request) {
  return node_operation_in(shared_from_this(), &api::NodeApi::connect_peer, std::move(request));
}

Task<std::vector<models::Channel>> CoreClient::list_channels() {
  return node_operation_in(shared_from_this(), &api::NodeApi::list_channels);
}

Task<std::vector<models::Payment>> CoreClient::list_payments() {
  return node_operation_in(shared_from_this(), &api::NodeApi::list_payments);
}

Task<models::BtcBalance> CoreClient::get_btc_balance() {
  return node_operation_in(shared_from_this(), &api::NodeApi::get_btc_balance);
}

Task<models::RgbAssetBalance> CoreClient::get_asset_balance(std::string asset_id) {
  return node_operation_in(shared_from_this(), &api::NodeApi::get_asset_balance, std::move(asset_id));
}

Task<std::vector<models::RgbAsset>> CoreClient::list_node_assets() {
  return node_operation_in(shared_from_this(), &api::NodeApi::list_node_assets);
}

Task<models::AddressResponse> CoreClient::get_onchain_address() {
  return node_operation_in(shared_from_this(), &api::NodeApi::get_onchain_address);
}

Task<json::JsonValue> CoreClient::init_wallet(std::string password) {
  return node_operation_in(shared_from_this(), &api::NodeApi::init_wallet, std::move(password));
}

Task<json::JsonValue> CoreClient::unlock_wallet(std::string password) {
  return node_operation_in(shared_from_this(), &api::NodeApi::unlock_wallet, std::move(password));
}

Task<json::JsonValue> CoreClient::lock_wallet() {
  return node_operation_in(shared_from_this(), &api::NodeApi::lock_wallet);
}

Task<json::JsonValue> CoreClient::decode_ln_invoice(std::string invoice) {
  return node_operation_in(shared_from_this(), &api::NodeApi::decode_ln_invoice, std::move(invoice));
}

Task<json::JsonValue> CoreClient::whitelist_trade(std::string swapstring) {
  return node_operation_in(shared_from_this(), &api::NodeApi::whitelist_trade, std::move(swapstring));
}

}  // namespace zephlar::client
