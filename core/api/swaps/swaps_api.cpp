#include "core/api/swaps/swaps_api.hpp"

#include <utility>

#include "core/api/request.hpp"

namespace zephlar::api {

Task<models::SwapNodeInfoResponse> SwapsApi::get_node_info() const {
  return detail::get<models::SwapNodeInfoResponse>(http_, node_info_path);
}

Task<models::SwapResponse> SwapsApi::init_maker_swap(models::SwapRequest request) const {
  return detail::post<models::SwapResponse>(http_, init_path, std::move(request));
}

Task<models::ConfirmSwapResponse> SwapsApi::execute_maker_swap(models::ConfirmSwapRequest request) const {
  return detail::post<models::ConfirmSwapResponse>(http_, execute_path, std::move(request));
}

Task<json::JsonValue> SwapsApi::submit_swap_taker(models::SwapTakerRequest request) const {
  return detail::post<json::JsonValue>(http_, taker_path, std::move(request));
}

Task<models::SwapStatusResponse> SwapsApi::get_swap_status(std::string payment_hash) const {
  return detail::post<models::SwapStatusResponse>(http_, status_path,
                                                  models::SwapStatusRequest{std::move(payment_hash)});
}

}  // namespace zephlar::api
