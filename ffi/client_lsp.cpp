// The LSPS1 channel-order methods of ZephClient.
#include <cstdint>
#include <string>

#include "core/models/lsps1_order.hpp"
#include "ffi/client_internal.hpp"

namespace zephlar::ffi {

ZephResult<std::string> ZephClient::get_lsp_info() const { return run_json(core_->get_lsp_info()); }

ZephResult<std::string> ZephClient::get_lsp_network_info() const { return run_json(core_->get_lsp_network_info()); }

ZephResult<std::string> ZephClient::create_order(std::string_view request_json) const {
  auto request = read_json_argument<models::CreateOrderRequest>(request_json, invalid_request_json);
  if (!request) return Err(std::move(request).error());
  return run_json(core_->create_order(std::move(request).value()));
}

ZephResult<std::string> ZephClient::get_lsp_order(std::string_view order_id) const {
  return run_json(core_->get_lsp_order(std::string(order_id)));
}

ZephResult<std::string> ZephClient::estimate_lsp_fees(std::uint64_t channel_size) const {
  // The bits unchanged: 2^63 and above go out as negative numbers.
  return run_json(core_->estimate_lsp_fees(static_cast<std::int64_t>(channel_size)));
}

ZephResult<std::string> ZephClient::retry_delivery(std::string_view order_id) const {
  return run_json(core_->retry_delivery(std::string(order_id)));
}

}  // namespace zephlar::ffi
