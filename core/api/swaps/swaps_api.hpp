// The atomic-swap group of the service's API: "/api/v1/swaps/nodeinfo",
// "/api/v1/swaps/init", "/api/v1/swaps/execute", "/api/v1/swaps/atomic/status"
// and "/api/v1/swaps/taker".
// It shares the one service HTTP client with the other groups. Every
// operation is one plain request: nothing is checked before it is sent and
// the decoded answer is returned as it is.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "core/async.hpp"
#include "core/http/http_client.hpp"
#include "core/json/value.hpp"
#include "core/models/atomic_swap.hpp"

namespace zephlar::api {

class SwapsApi {
 public:
  static constexpr const char* node_info_path = "/api/v1/swaps/nodeinfo";
  static constexpr const char* init_path = "/api/v1/swaps/init";
  static constexpr const char* execute_path = "/api/v1/swaps/execute";
  static constexpr const char* taker_path = "/api/v1/swaps/taker";
  static constexpr const char* status_path = "/api/v1/swaps/atomic/status";

  explicit SwapsApi(std::shared_ptr<http::HttpClient> http) noexcept : http_(std::move(http)) {}

  // GET /api/v1/swaps/nodeinfo: the service's swap node; any member may be
  // null.
  Task<models::SwapNodeInfoResponse> get_node_info() const;
  // POST /api/v1/swaps/init with the request as body.
  Task<models::SwapResponse> init_maker_swap(models::SwapRequest request) const;
  // POST /api/v1/swaps/execute with the request as body; the answer's status
  // and message are not interpreted.
  Task<models::ConfirmSwapResponse> execute_maker_swap(models::ConfirmSwapRequest request) const;
  // POST /api/v1/swaps/taker with {"swapstring":...}; the answer is any one
  // JSON value.
  Task<json::JsonValue> submit_swap_taker(models::SwapTakerRequest request) const;
  // POST /api/v1/swaps/atomic/status with {"payment_hash":...}.
  Task<models::SwapStatusResponse> get_swap_status(std::string payment_hash) const;

  const std::shared_ptr<http::HttpClient>& http() const noexcept { return http_; }

 private:
  std::shared_ptr<http::HttpClient> http_;
};

}  // namespace zephlar::api
