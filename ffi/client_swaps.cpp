// The atomic-swap and swap-order methods of ZephClient.
#include <cstdint>
#include <optional>
#include <string>

#include "core/models/atomic_swap.hpp"
#include "core/models/quote.hpp"
#include "core/models/swap_order.hpp"
#include "ffi/client_internal.hpp"
#include "ffi/seconds.hpp"

namespace zephlar::ffi {

ZephResult<std::string> ZephClient::get_node_info() const { return run_json(core_->get_node_info()); }

ZephResult<std::string> ZephClient::get_swap_status(std::string_view payment_hash) const {
  return run_json(core_->get_swap_status(std::string(payment_hash)));
}

ZephResult<std::string> ZephClient::wait_for_swap_completion(std::string_view payment_hash, double timeout_secs,
                                                             double poll_interval_secs) const {
  // Both are converted before anything is sent, the time-out first.
  const SecondsSpan timeout = seconds_to_span(timeout_secs);
  const SecondsSpan poll_interval = seconds_to_span(poll_interval_secs);
  return run_json(core_->wait_for_swap_completion(std::string(payment_hash), timeout.to_nanoseconds(),
                                                  poll_interval.to_nanoseconds()));
}

ZephResult<std::string> ZephClient::complete_swap_from_quote(std::string_view quote_json) const {
  auto quote = read_json_argument<models::PairQuoteResponse>(quote_json, invalid_quote_json);
  if (!quote) return Err(std::move(quote).error());
  return run_json(core_->complete_swap_from_quote(std::move(quote).value()));
}

ZephResult<std::string> ZephClient::init_maker_swap(std::string_view request_json) const {
  auto request = read_json_argument<models::SwapRequest>(request_json, invalid_request_json);
  if (!request) return Err(std::move(request).error());
  return run_json(core_->init_maker_swap(std::move(request).value()));
}

ZephResult<std::string> ZephClient::execute_maker_swap(std::string_view request_json) const {
  auto request = read_json_argument<models::ConfirmSwapRequest>(request_json, invalid_request_json);
  if (!request) return Err(std::move(request).error());
  return run_json(core_->execute_maker_swap(std::move(request).value()));
}

ZephResult<std::string> ZephClient::create_swap_order(std::string_view request_json) const {
  auto request = read_json_argument<models::CreateSwapOrderRequest>(request_json, invalid_request_json);
  if (!request) return Err(std::move(request).error());
  return run_json(core_->create_swap_order(std::move(request).value()));
}

ZephResult<std::string> ZephClient::get_swap_order_status(std::string_view order_id) const {
  return run_json(core_->get_swap_order_status(std::string(order_id)));
}

ZephResult<std::string> ZephClient::get_order_history(std::optional<std::string_view> status, std::uint32_t limit,
                                                      std::uint32_t skip) const {
  std::optional<std::string> owned;
  if (status) owned.emplace(*status);
  // The bits unchanged: 2^31 and above reach the core as negative numbers.
  return run_json(core_->get_order_history(std::move(owned), static_cast<std::int32_t>(limit),
                                           static_cast<std::int32_t>(skip)));
}

ZephResult<std::string> ZephClient::get_order_analytics() const { return run_json(core_->get_order_analytics()); }

ZephResult<std::string> ZephClient::swap_order_rate_decision(std::string_view order_id, bool accept) const {
  return run_json(core_->swap_order_rate_decision(std::string(order_id), accept));
}

}  // namespace zephlar::ffi
