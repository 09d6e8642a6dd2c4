// The atomic-swap group of the service's API: "/api/v1/swaps/nodeinfo",
// "/api/v1/swaps/init", "/api/v1/swaps/execute", "/api/v1/swaps/atomic/status"
// and "/api/v1/swaps/taker".
// It shares the one service HTTP client with the other groups.
#pragma once

#include <memory>
#include <utility>

#include "core/http/http_client.hpp"

namespace zephlar::api {

class SwapsApi {
 public:
  explicit SwapsApi(std::shared_ptr<http::HttpClient> http) noexcept : http_(std::move(http)) {}

  const std::shared_ptr<http::HttpClient>& http() const noexcept { return http_; }

 private:
  std::shared_ptr<http::HttpClient> http_;
};

}  // namespace zephlar::api
