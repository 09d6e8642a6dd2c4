#include "core/client/core_client.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

#include "core/seconds.hpp"

namespace zephlar::client {

namespace {

// The retry settings every HTTP client of the core is built with.
http::RetryConfig retry_config(std::uint32_t max_retries) {
  http::RetryConfig retry;
  retry.initial_delay = std::chrono::milliseconds(100);
  retry.max_delay = std::chrono::milliseconds(10'000);
  retry.multiplier = 2.0;
  retry.max_retries = max_retries;
  retry.jitter = true;
  return retry;
}

std::string describe_seconds(double seconds) {
  if (std::isnan(seconds)) return "NaN";
  if (std::isinf(seconds)) return seconds > 0 ? "inf" : "-inf";
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, seconds);
  if (ec != std::errc()) return "?";
  return std::string(buffer, end);
}

}  // namespace

CoreResult<std::chrono::nanoseconds> timeout_from_seconds(double seconds) {
  if (!(seconds >= 0.0) || !(seconds < two_to_64_seconds)) {
    return Err(CoreError(CoreError::Config{"timeout must be a finite number of seconds from 0 up to 2^64, got " +
                                           describe_seconds(seconds)}));
  }
  const auto nanos = nanoseconds_in_seconds(seconds);
  constexpr auto max_nanos = static_cast<unsigned __int128>(std::numeric_limits<std::chrono::nanoseconds::rep>::max());
  if (nanos > max_nanos) return std::chrono::nanoseconds::max();
  return std::chrono::nanoseconds(static_cast<std::chrono::nanoseconds::rep>(nanos));
}

CoreClient::CoreClient(CoreConfig config, std::chrono::duration<std::uint64_t> cache_ttl,
                       std::shared_ptr<http::HttpClient> api_http, std::shared_ptr<http::HttpClient> node_http,
                       Clock clock)
    : config_(std::move(config)),
      cache_ttl_(cache_ttl),
      api_http_(std::move(api_http)),
      node_http_(std::move(node_http)),
      market_(api_http_),
      swaps_(api_http_),
      orders_(api_http_),
      lsp_(api_http_),
      clock_(std::move(clock)) {}

CoreResult<std::shared_ptr<CoreClient>> CoreClient::create(CoreConfig config) {
  return create(std::move(config), Clock{});
}

CoreResult<std::shared_ptr<CoreClient>> CoreClient::create(CoreConfig config, Clock clock) {
  const http::RetryConfig retry = retry_config(config.max_retries);
  auto timeout = timeout_from_seconds(config.timeout);
  if (!timeout) return Err(std::move(timeout).error());

  auto api_http = http::HttpClient::create(config.base_url, *timeout, retry);
  if (!api_http) return Err(std::move(api_http).error());

  std::shared_ptr<http::HttpClient> node_http;
  if (config.node_url) {
    auto built = http::HttpClient::create(*config.node_url, *timeout, retry);
    if (!built) return Err(std::move(built).error());
    node_http = std::move(built).value();
  }

  const std::chrono::duration<std::uint64_t> cache_ttl(config.cache_ttl);
  return std::shared_ptr<CoreClient>(new CoreClient(std::move(config), cache_ttl, std::move(api_http).value(),
                                                    std::move(node_http), std::move(clock)));
}

CoreResult<std::shared_ptr<http::HttpClient>> CoreClient::node_client() const {
  if (!node_http_) return Err(CoreError(CoreError::NodeNotConfigured{}));
  return node_http_;
}

std::chrono::steady_clock::time_point CoreClient::now() const {
  return clock_ ? clock_() : std::chrono::steady_clock::now();
}

bool CoreClient::is_cache_fresh(std::chrono::steady_clock::time_point cached_at) const {
  const auto current = now();
  if (current <= cached_at) return cache_ttl_.count() > 0;
  const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(current - cached_at).count();
  // elapsed < ttl * 10^9 ns exactly when the whole seconds elapsed are below
  // ttl, since ttl * 10^9 is a whole number of seconds; this way a lifetime
  // of up to 2^64 - 1 seconds cannot overflow.
  return static_cast<std::uint64_t>(elapsed / 1'000'000'000) < cache_ttl_.count();
}

template <class T, class Response>
Task<std::vector<T>> CoreClient::cached_list(std::shared_ptr<CoreClient> self, Cache<T> CoreClient::*cache_member,
                                             Task<Response> (api::MarketApi::*fetch)() const,
                                             std::vector<T> Response::*list) {
  Cache<T>& cache = (*self).*cache_member;
  {
    auto guard = co_await cache.lock.read();
    if (cache.entry && self->is_cache_fresh(cache.entry->cached_at)) {
      std::vector<T> copy = cache.entry->data;
      guard.release();
      co_return copy;
    }
  }

  // No lock is held while the list is fetched.
  auto response = co_await (self->market_.*fetch)();
  if (!response) co_return Err(std::move(response).error());
  std::vector<T> fetched = std::move(response.value().*list);
  // With no lifetime no entry is ever fresh: storing one would only cost a
  // copy of the list.
  if (self->cache_ttl_.count() == 0) co_return fetched;

  // The copy is made, and the entry it replaces destroyed, outside the lock:
  // concurrent callers wait on each other only for the swap.
  std::optional<CacheEntry<T>> replaced;
  std::vector<T> stored = fetched;
  {
    auto guard = co_await cache.lock.write();
    // Stamped once the lock is ours; whatever was there is replaced, even an
    // entry another caller stored meanwhile.
    replaced = std::exchange(cache.entry, CacheEntry<T>{std::move(stored), self->now()});
  }
  co_return fetched;
}

Task<std::vector<models::Asset>> CoreClient::list_assets() { return list_assets_in(shared_from_this()); }

Task<std::vector<models::TradingPair>> CoreClient::list_pairs() { return list_pairs_in(shared_from_this()); }

Task<std::vector<models::Asset>> CoreClient::list_assets_in(std::shared_ptr<CoreClient> self) {
  return cached_list(std::move(self), &CoreClient::assets_cache_, &api::MarketApi::list_assets,
                     &models::AssetsResponse::assets);
}

Task<std::vector<models::TradingPair>> CoreClient::list_pairs_in(std::shared_ptr<CoreClient> self) {
  return cached_list(std::move(self), &CoreClient::pairs_cache_, &api::MarketApi::list_pairs,
                     &models::TradingPairsResponse::pairs);
}

}  // namespace zephlar::client
