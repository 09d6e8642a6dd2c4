// The LSPS1 channel-order group of the service's API, under "/api/v1/lsps1/".
// It shares the one service HTTP client with the other groups. Every
// operation is one plain request: nothing is checked before it is sent and
// the decoded answer is returned as it is.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "core/async.hpp"
#include "core/http/http_client.hpp"
#include "core/json/value.hpp"
#include "core/models/lsps1_order.hpp"
#include "core/models/lsps1_service.hpp"
#include "core/models/swap_order.hpp"  // OrderIdRequest

namespace zephlar::api {

class LspApi {
 public:
  static constexpr const char* get_info_path = "/api/v1/lsps1/get_info";
  static constexpr const char* network_info_path = "/api/v1/lsps1/network_info";
  static constexpr const char* estimate_fees_path = "/api/v1/lsps1/estimate_fees";
  static constexpr const char* create_order_path = "/api/v1/lsps1/create_order";
  static constexpr const char* get_order_path = "/api/v1/lsps1/get_order";
  static constexpr const char* retry_delivery_path = "/api/v1/lsps1/retry_delivery";

  explicit LspApi(std::shared_ptr<http::HttpClient> http) noexcept : http_(std::move(http)) {}

  // GET /api/v1/lsps1/get_info: what the provider offers.
  Task<models::GetInfoResponseModel> get_info() const;
  // GET /api/v1/lsps1/network_info.
  Task<models::NetworkInfoResponse> get_network_info() const;
  // POST /api/v1/lsps1/estimate_fees with {"channel_size":...}; any size,
  // zero and negative ones included, is sent.
  Task<models::ChannelFees> estimate_fees(std::int64_t channel_size) const;
  // POST /api/v1/lsps1/create_order with the request as body.
  Task<models::ChannelOrderResponse> create_order(models::CreateOrderRequest request) const;
  // POST /api/v1/lsps1/get_order with {"order_id":...}.
  Task<models::ChannelOrderResponse> get_order(std::string order_id) const;
  // POST /api/v1/lsps1/retry_delivery with {"order_id":...}; the answer is
  // any one JSON value.
  Task<json::JsonValue> retry_delivery(std::string order_id) const;

  const std::shared_ptr<http::HttpClient>& http() const noexcept { return http_; }

 private:
  std::shared_ptr<http::HttpClient> http_;
};

}  // namespace zephlar::api
