// The swap-order group of the service's API, under "/api/v1/swaps/orders".
// It shares the one service HTTP client with the other groups. Every
// operation is one plain request: nothing is checked before it is sent and
// the decoded answer is returned as it is.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "core/async.hpp"
#include "core/http/http_client.hpp"
#include "core/models/order_history.hpp"
#include "core/models/swap_order.hpp"

namespace zephlar::api {

class OrdersApi {
 public:
  static constexpr const char* orders_path = "/api/v1/swaps/orders";
  static constexpr const char* rate_decision_path = "/api/v1/swaps/orders/rate_decision";
  static constexpr const char* status_path = "/api/v1/swaps/orders/status";
  static constexpr const char* history_path = "/api/v1/swaps/orders/history";
  static constexpr const char* analytics_path = "/api/v1/swaps/orders/analytics";

  explicit OrdersApi(std::shared_ptr<http::HttpClient> http) noexcept : http_(std::move(http)) {}

  // POST /api/v1/swaps/orders with the request as body.
  Task<models::CreateSwapOrderResponse> create_swap_order(models::CreateSwapOrderRequest request) const;
  // POST /api/v1/swaps/orders/rate_decision with {"order_id":...,
  // "accept_new_rate":...}.
  Task<models::SwapOrderRateDecisionResponse> swap_order_rate_decision(std::string order_id, bool accept) const;
  // POST /api/v1/swaps/orders/status with {"order_id":...}.
  Task<models::SwapOrderStatusResponse> get_swap_order_status(std::string order_id) const;
  // GET of order_history_path(status, limit, skip).
  Task<models::OrderHistoryResponse> get_order_history(std::optional<std::string> status, std::int32_t limit,
                                                       std::int32_t skip) const;
  // GET /api/v1/swaps/orders/analytics.
  Task<models::OrderStatsResponse> get_order_analytics() const;

  // "/api/v1/swaps/orders/history?limit=L&skip=S", then "&status=" and the
  // status byte for byte when one is given (even the empty text). Plain text
  // formatting: nothing is percent-encoded.
  static std::string order_history_path(const std::optional<std::string>& status, std::int32_t limit,
                                        std::int32_t skip);

  const std::shared_ptr<http::HttpClient>& http() const noexcept { return http_; }

 private:
  std::shared_ptr<http::HttpClient> http_;
};

}  // namespace zephlar::api
