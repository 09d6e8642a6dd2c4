#include "core/api/orders/orders_api.hpp"

#include <utility>

#include "core/api/request.hpp"

namespace zephlar::api {

Task<models::CreateSwapOrderResponse> OrdersApi::create_swap_order(models::CreateSwapOrderRequest request) const {
  return detail::post<models::CreateSwapOrderResponse>(http_, orders_path, std::move(request));
}

Task<models::SwapOrderRateDecisionResponse> OrdersApi::swap_order_rate_decision(std::string order_id,
                                                                                bool accept) const {
  return detail::post<models::SwapOrderRateDecisionResponse>(
      http_, rate_decision_path, models::SwapOrderRateDecisionRequest{std::move(order_id), accept});
}

Task<models::SwapOrderStatusResponse> OrdersApi::get_swap_order_status(std::string order_id) const {
  return detail::post<models::SwapOrderStatusResponse>(http_, status_path, models::OrderIdRequest{std::move(order_id)});
}

Task<models::OrderHistoryResponse> OrdersApi::get_order_history(std::optional<std::string> status, std::int32_t limit,
                                                                std::int32_t skip) const {
  return detail::get<models::OrderHistoryResponse>(http_, order_history_path(status, limit, skip));
}

Task<models::OrderStatsResponse> OrdersApi::get_order_analytics() const {
  return detail::get<models::OrderStatsResponse>(http_, analytics_path);
}

std::string OrdersApi::order_history_path(const std::optional<std::string>& status, std::int32_t limit,
                                          std::int32_t skip) {
  // std::to_string of an integer: decimal digits, '-' when negative, nothing
  // else.
  std::string path = history_path;
  path += "?limit=";
  path += std::to_string(limit);
  path += "&skip=";
  path += std::to_string(skip);
  if (status) {
    path += "&status=";
    path += *status;
  }
  return path;
}

}  // namespace zephlar::api
