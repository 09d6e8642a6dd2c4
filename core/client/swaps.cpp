// Atomic swaps: the single requests of the swaps group, completing a swap
// from a quote, and waiting for a swap to end.
#include <curl/curl.h>

#include <algorithm>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/cancellation_state.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <chrono>
#include <utility>

#include "core/client/core_client.hpp"

namespace zephlar::client {

namespace asio = boost::asio;

namespace {

// What a composite yields once its caller has cancelled it: the same error
// as a request whose caller gave up.
CoreError cancelled_error() {
  return CoreError::network("HTTP request failed", http::HttpError{http::HttpError::Kind::other,
                                                                   CURLE_ABORTED_BY_CALLBACK, "Request cancelled"});
}

// Checked before each step: awaiting another task once the caller has
// cancelled would throw.
bool is_cancelled(const asio::cancellation_state& state) { return state.cancelled() != asio::cancellation_type::none; }

bool is_final(models::SwapStatus status) {
  switch (status) {
    case models::SwapStatus::Succeeded:
    case models::SwapStatus::Expired:
    case models::SwapStatus::Failed:
      return true;
    case models::SwapStatus::Waiting:
    case models::SwapStatus::Pending:
      return false;
  }
  return false;
}

// Whole seconds plus the nanoseconds over 10^9, each as a double.
double to_seconds(std::chrono::nanoseconds duration) {
  const auto count = duration.count();
  return static_cast<double>(count / 1'000'000'000) + static_cast<double>(count % 1'000'000'000) / 1e9;
}

}  // namespace

Task<models::SwapNodeInfoResponse> CoreClient::get_node_info() { return swaps_.get_node_info(); }

Task<models::SwapResponse> CoreClient::init_maker_swap(models::SwapRequest request) {
  return swaps_.init_maker_swap(std::move(request));
}

Task<models::ConfirmSwapResponse> CoreClient::execute_maker_swap(models::ConfirmSwapRequest request) {
  return swaps_.execute_maker_swap(std::move(request));
}

Task<models::SwapStatusResponse> CoreClient::get_swap_status(std::string payment_hash) {
  return swaps_.get_swap_status(std::move(payment_hash));
}

Task<models::ConfirmSwapResponse> CoreClient::complete_swap_from_quote(models::PairQuoteResponse quote) {
  return complete_swap_from_quote_in(shared_from_this(), std::move(quote));
}

Task<models::Swap> CoreClient::wait_for_swap_completion(std::string payment_hash, std::chrono::nanoseconds timeout,
                                                        std::chrono::nanoseconds poll_interval) {
  return wait_for_swap_completion_in(shared_from_this(), std::move(payment_hash), timeout, poll_interval);
}

Task<models::ConfirmSwapResponse> CoreClient::complete_swap_from_quote_in(std::shared_ptr<CoreClient> self,
                                                                          models::PairQuoteResponse quote) {
  // The legs' asset ids go out, never their tickers.
  models::SwapRequest request{quote.rfq_id, quote.from_asset.asset_id, quote.from_asset.amount, quote.to_asset.asset_id,
                              quote.to_asset.amount};
  if (is_cancelled(co_await asio::this_coro::cancellation_state)) co_return Err(cancelled_error());
  auto swap = co_await self->init_maker_swap(std::move(request));
  if (!swap) co_return Err(std::move(swap).error());

  if (is_cancelled(co_await asio::this_coro::cancellation_state)) co_return Err(cancelled_error());
  auto node = co_await self->get_node_info();
  if (!node) co_return Err(std::move(node).error());
  if (!node->pubkey) co_return Err(CoreError(CoreError::Config{"Node pubkey not available"}));

  // Only a client with a node registers the taker, and with the service:
  // the node itself is sent nothing.
  if (self->has_node()) {
    if (is_cancelled(co_await asio::this_coro::cancellation_state)) co_return Err(cancelled_error());
    models::SwapTakerRequest taker_request{swap->swapstring};
    auto taker = co_await self->swaps_.submit_swap_taker(std::move(taker_request));
    if (!taker) co_return Err(std::move(taker).error());
  }

  // Request records are built as named locals, never as temporaries inside
  // a co_await expression: GCC 12 destroys such temporaries twice.
  models::ConfirmSwapRequest confirm{std::move(swap->swapstring), std::move(*node->pubkey),
                                     std::move(swap->payment_hash)};
  if (is_cancelled(co_await asio::this_coro::cancellation_state)) co_return Err(cancelled_error());
  co_return co_await self->execute_maker_swap(std::move(confirm));
}

Task<models::Swap> CoreClient::wait_for_swap_completion_in(std::shared_ptr<CoreClient> self, std::string payment_hash,
                                                           std::chrono::nanoseconds timeout,
                                                           std::chrono::nanoseconds poll_interval) {
  const auto start = self->now();
  for (;;) {
    if (is_cancelled(co_await asio::this_coro::cancellation_state)) co_return Err(cancelled_error());
    auto answer = co_await self->get_swap_status(payment_hash);
    if (!answer) co_return Err(std::move(answer).error());
    if (answer->swap && is_final(answer->swap->status)) co_return std::move(*answer->swap);

    // Not final, or no swap at all: poll again unless the time is up. A
    // clock that reads earlier than the start counts as no time elapsed.
    const auto elapsed = std::max<std::chrono::nanoseconds>(self->now() - start, std::chrono::nanoseconds::zero());
    if (elapsed >= timeout) co_return Err(CoreError(CoreError::Timeout{to_seconds(timeout)}));

    if (is_cancelled(co_await asio::this_coro::cancellation_state)) co_return Err(cancelled_error());
    asio::steady_timer timer(co_await asio::this_coro::executor);
    timer.expires_after(poll_interval);
    auto [ec] = co_await timer.async_wait(asio::as_tuple(asio::use_awaitable));
    if (ec) co_return Err(cancelled_error());
  }
}

}  // namespace zephlar::client
