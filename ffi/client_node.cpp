// The methods of ZephClient on the user's node. Each fails with
// NodeNotConfigured, before any request, on a client without a node URL;
// the core's gate decides that.
#include <string>

#include "core/models/node_requests.hpp"
#include "core/models/node_responses.hpp"
#include "ffi/client_internal.hpp"

namespace zephlar::ffi {

ZephResult<std::string> ZephClient::get_rgb_node_info() const { return run_json(core_->get_rgb_node_info()); }

ZephResult<std::string> ZephClient::list_peers() const { return run_json(core_->list_peers()); }

ZephResult<std::string> ZephClient::connect_peer(std::string_view request_json) const {
  // Read before the gate: a bad text is reported even without a node.
  auto request = read_json_argument<models::ConnectPeerRequest>(request_json, invalid_request_json);
  if (!request) return Err(std::move(request).error());
  return run_json(core_->connect_peer(std::move(request).value()));
}

ZephResult<std::string> ZephClient::list_channels() const { return run_json(core_->list_channels()); }

ZephResult<std::string> ZephClient::list_payments() const { return run_json(core_->list_payments()); }

ZephResult<std::string> ZephClient::get_btc_balance() const { return run_json(core_->get_btc_balance()); }

ZephResult<std::string> ZephClient::get_asset_balance(std::string_view asset_id) const {
  return run_json(core_->get_asset_balance(std::string(asset_id)));
}

ZephResult<std::string> ZephClient::list_node_assets() const { return run_json(core_->list_node_assets()); }

ZephResult<std::string> ZephClient::get_onchain_address() const { return run_json(core_->get_onchain_address()); }

ZephResult<std::string> ZephClient::init_wallet(std::string_view password) const {
  return run_json(core_->init_wallet(std::string(password)));
}

ZephResult<std::string> ZephClient::unlock_wallet(std::string_view password) const {
  return run_json(core_->unlock_wallet(std::string(password)));
}

ZephResult<std::string> ZephClient::lock_wallet() const { return run_json(core_->lock_wallet()); }

ZephResult<std::string> ZephClient::decode_ln_invoice(std::string_view invoice) const {
  return run_json(core_->decode_ln_invoice(std::string(invoice)));
}

ZephResult<std::string> ZephClient::whitelist_trade(std::string_view swapstring) const {
  return run_json(core_->whitelist_trade(std::string(swapstring)));
}

}  // namespace zephlar::ffi
