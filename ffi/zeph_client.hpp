// ZephClient: the blocking client that the C-callable interface and the
// Python module drive. Each method runs one asynchronous core operation to
// completion on the client's own runtime, parking the calling thread
// meanwhile, and hands back compact JSON text or a ZephError.
//
// A client is shared (create() gives a shared_ptr) and immutable; any number
// of threads may call its methods at once. It holds nothing but the core
// client and the runtime: no lock, no cache, no state of its own. When it is
// released the core goes first, then its reference to the runtime, which a
// quote stream may keep alive beyond the client.
//
// Faults: a method called on a thread that runs asynchronous tasks (a worker
// of any runtime), and a seconds value that cannot become a time span, throw
// InternalFault (ffi/internal_fault.hpp) instead of returning a ZephError.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/async.hpp"
#include "core/client/core_client.hpp"
#include "ffi/runtime.hpp"
#include "ffi/zeph_config.hpp"
#include "ffi/zeph_error.hpp"

namespace zephlar::ffi {

class QuoteStream;

class ZephClient {
 public:
  // Builds the runtime ("Failed to create runtime: {}" as InternalError when
  // it cannot be), then the core client (its CoreError converted; the
  // runtime is released again). Sends nothing and checks no URL. A timeout
  // that is negative, NaN or 2^64 seconds or more is an InternalFault.
  static ZephResult<std::shared_ptr<ZephClient>> create(ZephConfig config);

  ~ZephClient();
  ZephClient(const ZephClient&) = delete;
  ZephClient& operator=(const ZephClient&) = delete;

  // The runtime the methods block on; a quote stream keeps its own
  // reference so that it outlives the client.
  std::shared_ptr<Runtime> runtime() const noexcept { return runtime_; }
  const std::shared_ptr<client::CoreClient>& core() const noexcept { return core_; }

  // Whether a node URL was configured (even an empty one). No I/O.
  bool has_node() const noexcept;

  // Market. Lists are bare JSON arrays, "[]" when empty.
  ZephResult<std::string> list_assets() const;
  ZephResult<std::string> list_pairs() const;
  ZephResult<std::string> list_active_assets() const;
  ZephResult<std::string> list_active_pairs() const;
  // Looked up here, over the cached list, by full Unicode upper-casing of
  // both tickers: "Asset not found: {ticker}" / "Trading pair not found:
  // {ticker}" as NotFoundError when nothing matches.
  ZephResult<std::string> get_asset_by_ticker(std::string_view ticker) const;
  ZephResult<std::string> get_pair_by_ticker(std::string_view ticker) const;
  // Looked up by the core, with the core's not-found messages.
  ZephResult<std::string> find_asset_by_ticker(std::string_view ticker) const;
  ZephResult<std::string> find_pair_by_ticker(std::string_view ticker) const;
  // Amounts are taken bit for bit as the core's signed amounts; both legs on
  // BTC_LN.
  ZephResult<std::string> get_quote_by_pair(std::string_view ticker, std::optional<std::uint64_t> from_amount,
                                            std::optional<std::uint64_t> to_amount) const;
  // The ticker "{from_ticker}/{to_ticker}", joined without any check.
  ZephResult<std::string> get_quote_by_assets(std::string_view from_ticker, std::string_view to_ticker,
                                              std::optional<std::uint64_t> from_amount,
                                              std::optional<std::uint64_t> to_amount) const;
  ZephResult<std::string> get_best_quote(std::string_view ticker, std::optional<std::uint64_t> from_amount,
                                         std::optional<std::uint64_t> to_amount) const;
  // Never yields a number: the core has no fee estimate ("Not implemented").
  ZephResult<std::uint64_t> estimate_swap_fees(std::string_view ticker, std::uint64_t amount) const;

  // Atomic swaps and swap orders. A request_json / quote_json that is not
  // exactly one value of the request's shape fails with ValidationError
  // "Invalid request JSON: {}" / "Invalid quote JSON: {}" before anything
  // else happens.
  ZephResult<std::string> get_node_info() const;
  ZephResult<std::string> get_swap_status(std::string_view payment_hash) const;
  // Both seconds values are converted first (timeout_secs first); a bad one
  // is an InternalFault.
  ZephResult<std::string> wait_for_swap_completion(std::string_view payment_hash, double timeout_secs,
                                                   double poll_interval_secs) const;
  ZephResult<std::string> complete_swap_from_quote(std::string_view quote_json) const;
  ZephResult<std::string> init_maker_swap(std::string_view request_json) const;
  ZephResult<std::string> execute_maker_swap(std::string_view request_json) const;
  ZephResult<std::string> create_swap_order(std::string_view request_json) const;
  ZephResult<std::string> get_swap_order_status(std::string_view order_id) const;
  // limit and skip are passed bit for bit (the core writes them signed).
  ZephResult<std::string> get_order_history(std::optional<std::string_view> status, std::uint32_t limit,
                                            std::uint32_t skip) const;
  ZephResult<std::string> get_order_analytics() const;
  ZephResult<std::string> swap_order_rate_decision(std::string_view order_id, bool accept) const;

  // LSPS1 channel orders.
  ZephResult<std::string> get_lsp_info() const;
  ZephResult<std::string> get_lsp_network_info() const;
  ZephResult<std::string> create_order(std::string_view request_json) const;
  ZephResult<std::string> get_lsp_order(std::string_view order_id) const;
  // channel_size is passed bit for bit (the core sends it signed).
  ZephResult<std::string> estimate_lsp_fees(std::uint64_t channel_size) const;
  ZephResult<std::string> retry_delivery(std::string_view order_id) const;

  // The user's node; each fails with NodeNotConfigured before any request
  // when no node URL was configured.
  ZephResult<std::string> get_rgb_node_info() const;
  ZephResult<std::string> list_peers() const;
  ZephResult<std::string> connect_peer(std::string_view request_json) const;
  ZephResult<std::string> list_channels() const;
  ZephResult<std::string> list_payments() const;
  ZephResult<std::string> get_btc_balance() const;
  ZephResult<std::string> get_asset_balance(std::string_view asset_id) const;
  ZephResult<std::string> list_node_assets() const;
  ZephResult<std::string> get_onchain_address() const;
  ZephResult<std::string> init_wallet(std::string_view password) const;
  ZephResult<std::string> unlock_wallet(std::string_view password) const;
  ZephResult<std::string> lock_wallet() const;
  ZephResult<std::string> decode_ln_invoice(std::string_view invoice) const;
  ZephResult<std::string> whitelist_trade(std::string_view swapstring) const;

  // A live quote stream for `pair_ticker` (sent as given, unchecked) from
  // the service's WebSocket endpoint, derived from the configured base URL.
  // Returns before any network activity and never fails; the stream holds
  // its own reference to the runtime (ffi/quote_stream.hpp).
  std::shared_ptr<QuoteStream> create_quote_stream(std::string_view pair_ticker) const;

 private:
  ZephClient(std::shared_ptr<client::CoreClient> core, std::shared_ptr<Runtime> runtime) noexcept;

  // Blocks on the runtime until `task` completes; its error converted.
  template <class T>
  ZephResult<T> run(Task<T> task) const {
    auto result = runtime_->block_on(std::move(task));
    if (!result) return Err(ZephError::from_core_error(std::move(result).error()));
    return std::move(result).value();
  }
  // As run, with the value written as compact JSON.
  template <class T>
  ZephResult<std::string> run_json(Task<T> task) const;

  std::shared_ptr<client::CoreClient> core_;
  std::shared_ptr<Runtime> runtime_;
};

// amount / 10^precision as a float; meaningful for precision 0 to 18.
double to_display_units(std::int64_t amount, std::uint8_t precision) noexcept;
// amount * 10^precision rounded half away from zero, saturated to the
// signed 64-bit range, NaN giving 0; meaningful for precision 0 to 18.
std::int64_t to_smallest_units(double amount, std::uint8_t precision) noexcept;

}  // namespace zephlar::ffi
