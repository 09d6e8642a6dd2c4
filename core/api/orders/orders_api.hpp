// The swap-order group of the service's API, under "/api/v1/swaps/orders".
// It shares the one service HTTP client with the other groups.
#pragma once

#include <memory>
#include <utility>

#include "core/http/http_client.hpp"

namespace zephlar::api {

class OrdersApi {
 public:
  explicit OrdersApi(std::shared_ptr<http::HttpClient> http) noexcept : http_(std::move(http)) {}

  const std::shared_ptr<http::HttpClient>& http() const noexcept { return http_; }

 private:
  std::shared_ptr<http::HttpClient> http_;
};

}  // namespace zephlar::api
