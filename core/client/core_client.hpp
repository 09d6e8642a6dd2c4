// The asynchronous core of the library: built once per client object from a
// CoreConfig, it holds the service's HTTP client (shared by the four API
// groups), the optional HTTP client of the user's node, and the caches of the
// market's asset and pair lists. Every operation is a coroutine that yields
// its value or a CoreError; none throws, none blocks a thread.
//
// A CoreClient lives behind a shared_ptr (create() gives one) and every
// operation's task keeps it alive until the task ends, so a task may outlive
// the caller's reference to the client.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/api/lsp/lsp_api.hpp"
#include "core/api/market/market_api.hpp"
#include "core/api/node/node_api.hpp"
#include "core/api/orders/orders_api.hpp"
#include "core/api/swaps/swaps_api.hpp"
#include "core/async.hpp"
#include "core/client/async_rw_lock.hpp"
#include "core/client/core_config.hpp"
#include "core/error.hpp"
#include "core/http/http_client.hpp"
#include "core/json/value.hpp"
#include "core/models/asset.hpp"
#include "core/models/atomic_swap.hpp"
#include "core/models/enums.hpp"
#include "core/models/lsps1_order.hpp"
#include "core/models/lsps1_service.hpp"
#include "core/models/order_history.hpp"
#include "core/models/quote.hpp"
#include "core/models/swap_order.hpp"
#include "core/models/trading_pair.hpp"

namespace zephlar::client {

// One cached list and the monotonic time at which it was stored.
template <class T>
struct CacheEntry {
  std::vector<T> data;
  std::chrono::steady_clock::time_point cached_at;
};

// The time-out in seconds as a whole number of nanoseconds, rounded to the
// nearest with ties to even. A value that is negative, not a number,
// infinite or not below 2^64 seconds has no duration and is refused with
// CoreError::Config. Values from 2^63 nanoseconds (about 292 years) up to
// 2^64 seconds are held at the largest nanosecond count, which no request
// outlives anyway.
CoreResult<std::chrono::nanoseconds> timeout_from_seconds(double seconds);

class CoreClient : public std::enable_shared_from_this<CoreClient> {
 public:
  // The monotonic clock the caches and the swap wait read; replaceable for
  // tests.
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // Builds the service client, the node client when a node URL is given
  // (even an empty one) and the empty caches. Sends nothing; neither URL is
  // checked here. A client that cannot be built yields CoreError::Config.
  static CoreResult<std::shared_ptr<CoreClient>> create(CoreConfig config);
  static CoreResult<std::shared_ptr<CoreClient>> create(CoreConfig config, Clock clock);

  CoreClient(const CoreClient&) = delete;
  CoreClient& operator=(const CoreClient&) = delete;

  const CoreConfig& config() const noexcept { return config_; }
  std::chrono::duration<std::uint64_t> cache_ttl() const noexcept { return cache_ttl_; }

  const std::shared_ptr<http::HttpClient>& api_http() const noexcept { return api_http_; }
  // The node's HTTP client, or CoreError::NodeNotConfigured when no node URL
  // was configured. Every node operation asks for it before any request.
  CoreResult<std::shared_ptr<http::HttpClient>> node_client() const;
  bool has_node() const noexcept { return node_http_ != nullptr; }

  const api::MarketApi& market() const noexcept { return market_; }
  const api::SwapsApi& swaps() const noexcept { return swaps_; }
  const api::OrdersApi& orders() const noexcept { return orders_; }
  const api::LspApi& lsp() const noexcept { return lsp_; }

  // Whether an entry stored at `cached_at` is still fresh: the time elapsed
  // since then is strictly below the cache lifetime (a clock that reads
  // earlier than `cached_at` counts as no time elapsed).
  bool is_cache_fresh(std::chrono::steady_clock::time_point cached_at) const;

  // The market's assets: a copy of the cached list while it is fresh,
  // otherwise fetched (no lock held meanwhile) and stored. A failed fetch is
  // returned and leaves the cache as it was.
  Task<std::vector<models::Asset>> list_assets();
  // The market's trading pairs, cached in the same way, in a cache of its
  // own.
  Task<std::vector<models::TradingPair>> list_pairs();

  // The first asset whose ticker equals `ticker` after full Unicode
  // upper-casing of both; CoreError::NotFound ("Asset", ticker as given)
  // otherwise.
  Task<models::Asset> find_asset_by_ticker(std::string ticker);
  // The first pair whose "BASE/QUOTE" ticker equals `ticker` in the same
  // way; CoreError::NotFound ("TradingPair", ticker as given) otherwise.
  Task<models::TradingPair> find_pair_by_ticker(std::string ticker);
  // The assets and pairs flagged active, in list order.
  Task<std::vector<models::Asset>> list_active_assets();
  Task<std::vector<models::TradingPair>> list_active_pairs();

  // A quote for the request, sent unchanged once exactly one leg holds an
  // amount (CoreError::Validation otherwise, and nothing is sent).
  Task<models::PairQuoteResponse> get_quote(models::PairQuoteRequest request);
  // A quote for a "BASE/QUOTE" ticker on one layer; the two pieces go out as
  // the legs' asset ids exactly as written.
  Task<models::PairQuoteResponse> get_quote_by_pair(std::string ticker, std::optional<std::int64_t> from_amount,
                                                    std::optional<std::int64_t> to_amount, models::Layer layer);
  // Asks for a quote of `amount` of the base asset, then fails with
  // CoreError::NotImplemented: the service reports no fee on its own.
  Task<std::int64_t> estimate_swap_fees(std::string ticker, std::int64_t amount, models::Layer layer);
  // Asks for a quote on every combination of the two assets' layers, base
  // layer outer, one after the other, and keeps the one with the largest
  // to-amount (the earliest of equals). Failed combinations are skipped;
  // none succeeding yields CoreError::NotFound ("Quote", ticker).
  Task<models::PairQuoteResponse> get_best_quote(std::string ticker, std::optional<std::int64_t> from_amount,
                                                 std::optional<std::int64_t> to_amount);

  // Atomic swaps, swap orders and LSPS1 channel orders. Each is one request
  // to the service through its API group, sent as given (nothing is checked
  // first) and answered with the decoded record, unchanged. None of them
  // needs the node; the task holds the service's HTTP client.

  // GET /api/v1/swaps/nodeinfo.
  Task<models::SwapNodeInfoResponse> get_node_info();
  // POST /api/v1/swaps/init.
  Task<models::SwapResponse> init_maker_swap(models::SwapRequest request);
  // POST /api/v1/swaps/execute.
  Task<models::ConfirmSwapResponse> execute_maker_swap(models::ConfirmSwapRequest request);
  // POST /api/v1/swaps/atomic/status.
  Task<models::SwapStatusResponse> get_swap_status(std::string payment_hash);
  // POST /api/v1/swaps/orders.
  Task<models::CreateSwapOrderResponse> create_swap_order(models::CreateSwapOrderRequest request);
  // POST /api/v1/swaps/orders/rate_decision.
  Task<models::SwapOrderRateDecisionResponse> swap_order_rate_decision(std::string order_id, bool accept);
  // POST /api/v1/swaps/orders/status.
  Task<models::SwapOrderStatusResponse> get_swap_order_status(std::string order_id);
  // GET /api/v1/swaps/orders/history?limit=L&skip=S[&status=STATUS], the
  // status inserted byte for byte when given.
  Task<models::OrderHistoryResponse> get_order_history(std::optional<std::string> status, std::int32_t limit,
                                                       std::int32_t skip);
  // GET /api/v1/swaps/orders/analytics.
  Task<models::OrderStatsResponse> get_order_analytics();
  // GET /api/v1/lsps1/get_info.
  Task<models::GetInfoResponseModel> get_lsp_info();
  // GET /api/v1/lsps1/network_info.
  Task<models::NetworkInfoResponse> get_lsp_network_info();
  // POST /api/v1/lsps1/estimate_fees.
  Task<models::ChannelFees> estimate_lsp_fees(std::int64_t channel_size);
  // POST /api/v1/lsps1/create_order.
  Task<models::ChannelOrderResponse> create_order(models::CreateOrderRequest request);
  // POST /api/v1/lsps1/get_order.
  Task<models::ChannelOrderResponse> get_lsp_order(std::string order_id);
  // POST /api/v1/lsps1/retry_delivery; the answer is any one JSON value.
  Task<json::JsonValue> retry_delivery(std::string order_id);

  // Turns a quote into an executed atomic swap, one request after the
  // other, all to the service: init (the quote's rfq_id and its legs' asset
  // ids and amounts), node info (a null pubkey fails with CoreError::Config
  // "Node pubkey not available"), the taker request only when a node URL is
  // configured, then execute with that pubkey as the taker's. The first
  // error ends it and is returned unchanged; nothing is undone.
  Task<models::ConfirmSwapResponse> complete_swap_from_quote(models::PairQuoteResponse quote);
  // Asks for the swap's status at once and then after every poll interval
  // until it is Succeeded, Expired or Failed, and returns that Swap. After
  // an answer that is not final (no swap included), once `timeout` has
  // passed since the start (equal counts) it fails with CoreError::Timeout
  // carrying `timeout` in seconds. The time-out is only tested between
  // polls: a request under way is not cut short, and the pause always lasts
  // the whole interval. A failed status request ends it with its error. A
  // caller that cancels the task (a deadline raced with `||`, say) aborts
  // the request or the pause under way.
  Task<models::Swap> wait_for_swap_completion(std::string payment_hash, std::chrono::nanoseconds timeout,
                                              std::chrono::nanoseconds poll_interval);

  // The user's RGB Lightning Node. Each operation first passes the node
  // gate: without a node URL it fails at once with
  // CoreError::NodeNotConfigured, sending nothing and waiting for nothing.
  // Otherwise it is the one request of its NodeApi namesake on the node's
  // HTTP client, through the request loop, its arguments sent unchanged and
  // its answer handed on as decoded. No state, no cache, no lock.

  // GET /nodeinfo.
  Task<models::RgbNodeInfo> get_rgb_node_info();
  // GET /listpeers; the peers in the node's order.
  Task<std::vector<models::Peer>> list_peers();
  // POST /connectpeer; the answer is any one JSON value.
  Task<json::JsonValue> connect_peer(models::ConnectPeerRequest request);
  // GET /listchannels.
  Task<std::vector<models::Channel>> list_channels();
  // GET /listpayments.
  Task<std::vector<models::Payment>> list_payments();
  // POST /btcbalance with "{}".
  Task<models::BtcBalance> get_btc_balance();
  // POST /assetbalance.
  Task<models::RgbAssetBalance> get_asset_balance(std::string asset_id);
  // POST /listassets with "{}".
  Task<std::vector<models::RgbAsset>> list_node_assets();
  // POST /address with "{}".
  Task<models::AddressResponse> get_onchain_address();
  // POST /init, /unlock and /lock ("{}"): the node's wallet. The client
  // keeps no view of the wallet's state; every call goes to the node.
  Task<json::JsonValue> init_wallet(std::string password);
  Task<json::JsonValue> unlock_wallet(std::string password);
  Task<json::JsonValue> lock_wallet();
  // POST /decodelninvoice; the answer is any one JSON value.
  Task<json::JsonValue> decode_ln_invoice(std::string invoice);
  // POST /taker on the node, never the service's taker request.
  Task<json::JsonValue> whitelist_trade(std::string swapstring);

 private:
  template <class T>
  struct Cache {
    AsyncRwLock lock;
    std::optional<CacheEntry<T>> entry;
  };

  CoreClient(CoreConfig config, std::chrono::duration<std::uint64_t> cache_ttl,
             std::shared_ptr<http::HttpClient> api_http, std::shared_ptr<http::HttpClient> node_http, Clock clock);

  std::chrono::steady_clock::time_point now() const;

  // The cache rule shared by the two lists: answer from a fresh entry, or
  // fetch with `fetch`, take the `list` member and store a copy.
  template <class T, class Response>
  static Task<std::vector<T>> cached_list(std::shared_ptr<CoreClient> self, Cache<T> CoreClient::*cache,
                                          Task<Response> (api::MarketApi::*fetch)() const,
                                          std::vector<T> Response::*list);

  // The operations' bodies; each frame holds its own reference to the client.
  static Task<std::vector<models::Asset>> list_assets_in(std::shared_ptr<CoreClient> self);
  static Task<std::vector<models::TradingPair>> list_pairs_in(std::shared_ptr<CoreClient> self);
  static Task<models::Asset> find_asset_by_ticker_in(std::shared_ptr<CoreClient> self, std::string ticker);
  static Task<models::TradingPair> find_pair_by_ticker_in(std::shared_ptr<CoreClient> self, std::string ticker);
  static Task<std::vector<models::Asset>> list_active_assets_in(std::shared_ptr<CoreClient> self);
  static Task<std::vector<models::TradingPair>> list_active_pairs_in(std::shared_ptr<CoreClient> self);
  static Task<models::PairQuoteResponse> get_quote_in(std::shared_ptr<CoreClient> self,
                                                      models::PairQuoteRequest request);
  static Task<models::PairQuoteResponse> get_quote_by_pair_in(std::shared_ptr<CoreClient> self, std::string ticker,
                                                              std::optional<std::int64_t> from_amount,
                                                              std::optional<std::int64_t> to_amount,
                                                              models::Layer layer);
  static Task<std::int64_t> estimate_swap_fees_in(std::shared_ptr<CoreClient> self, std::string ticker,
                                                  std::int64_t amount, models::Layer layer);
  static Task<models::PairQuoteResponse> get_best_quote_in(std::shared_ptr<CoreClient> self, std::string ticker,
                                                           std::optional<std::int64_t> from_amount,
                                                           std::optional<std::int64_t> to_amount);
  static Task<models::ConfirmSwapResponse> complete_swap_from_quote_in(std::shared_ptr<CoreClient> self,
                                                                       models::PairQuoteResponse quote);
  static Task<models::Swap> wait_for_swap_completion_in(std::shared_ptr<CoreClient> self, std::string payment_hash,
                                                        std::chrono::nanoseconds timeout,
                                                        std::chrono::nanoseconds poll_interval);
  // The body of every node operation: the node gate, then `operation` of
  // the node's API group with `args`.
  template <class T, class... Params, class... Args>
  static Task<T> node_operation_in(std::shared_ptr<CoreClient> self,
                                   Task<T> (api::NodeApi::*operation)(Params...) const, Args... args);

  CoreConfig config_;
  std::chrono::duration<std::uint64_t> cache_ttl_;
  std::shared_ptr<http::HttpClient> api_http_;
  std::shared_ptr<http::HttpClient> node_http_;
  api::MarketApi market_;
  api::SwapsApi swaps_;
  api::OrdersApi orders_;
  api::LspApi lsp_;
  Clock clock_;
  Cache<models::Asset> assets_cache_;
  Cache<models::TradingPair> pairs_cache_;
};

}  // namespace zephlar::client
