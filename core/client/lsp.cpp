// LSPS1: the provider's offer and network, fee estimates and channel orders.
#include <utility>

#include "core/client/core_client.hpp"

namespace zephlar::client {

Task<models::GetInfoResponseModel> CoreClient::get_lsp_info() { return lsp_.get_info(); }

Task<models::NetworkInfoResponse> CoreClient::get_lsp_network_info() { return lsp_.get_network_info(); }

Task<models::ChannelFees> CoreClient::estimate_lsp_fees(std::int64_t channel_size) {
  return lsp_.estimate_fees(channel_size);
}

Task<models::ChannelOrderResponse> CoreClient::create_order(models::CreateOrderRequest request) {
  return lsp_.create_order(std::move(request));
}

Task<models::ChannelOrderResponse> CoreClient::get_lsp_order(std::string order_id) {
  return lsp_.get_order(std::move(order_id));
}

Task<json::JsonValue> CoreClient::retry_delivery(std::string order_id) {
  return lsp_.retry_delivery(std::move(order_id));
}

}  // namespace zephlar::client
