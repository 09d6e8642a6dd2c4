#include "core/api/lsp/lsp_api.hpp"

#include <utility>

#include "core/api/request.hpp"

namespace zephlar::api {

Task<models::GetInfoResponseModel> LspApi::get_info() const {
  return detail::get<models::GetInfoResponseModel>(http_, get_info_path);
}

Task<models::NetworkInfoResponse> LspApi::get_network_info() const {
  return detail::get<models::NetworkInfoResponse>(http_, network_info_path);
}

Task<models::ChannelFees> LspApi::estimate_fees(std::int64_t channel_size) const {
  return detail::post<models::ChannelFees>(http_, estimate_fees_path, models::EstimateFeesRequest{channel_size});
}

Task<models::ChannelOrderResponse> LspApi::create_order(models::CreateOrderRequest request) const {
  return detail::post<models::ChannelOrderResponse>(http_, create_order_path, std::move(request));
}

Task<models::ChannelOrderResponse> LspApi::get_order(std::string order_id) const {
  return detail::post<models::ChannelOrderResponse>(http_, get_order_path, models::OrderIdRequest{std::move(order_id)});
}

Task<json::JsonValue> LspApi::retry_delivery(std::string order_id) const {
  return detail::post<json::JsonValue>(http_, retry_delivery_path, models::OrderIdRequest{std::move(order_id)});
}

}  // namespace zephlar::api
