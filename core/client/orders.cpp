// Swap orders: creation, rate decision, status, history and analytics.
#include <utility>

#include "core/client/core_client.hpp"

namespace zephlar::client {

Task<models::CreateSwapOrderResponse> CoreClient::create_swap_order(models::CreateSwapOrderRequest request) {
  return orders_.create_swap_order(std::move(request));
}

Task<models::SwapOrderRateDecisionResponse> CoreClient::swap_order_rate_decision(std::string order_id, bool accept) {
  return orders_.swap_order_rate_decision(std::move(order_id), accept);
}

Task<models::SwapOrderStatusResponse> CoreClient::get_swap_order_status(std::string order_id) {
  return orders_.get_swap_order_status(std::move(order_id));
}

Task<models::OrderHistoryResponse> CoreClient::get_order_history(std::optional<std::string> status, std::int32_t limit,
                                                                 std::int32_t skip) {
  return orders_.get_order_history(std::move(status), limit, skip);
}

Task<models::OrderStatsResponse> CoreClient::get_order_analytics() { return orders_.get_order_analytics(); }

}  // namespace zephlar::client
