// The market group of the service's API: asset and pair lists and quotes,
// under "/api/v1/market/". Plain requests; caching and argument checks are
// the core client's.
#pragma once

#include <memory>
#include <utility>

#include "core/async.hpp"
#include "core/http/http_client.hpp"
#include "core/models/asset.hpp"
#include "core/models/quote.hpp"
#include "core/models/trading_pair.hpp"

namespace zephlar::api {

class MarketApi {
 public:
  static constexpr const char* assets_path = "/api/v1/market/assets";
  static constexpr const char* pairs_path = "/api/v1/market/pairs";
  static constexpr const char* quote_path = "/api/v1/market/quote";

  explicit MarketApi(std::shared_ptr<http::HttpClient> http) noexcept : http_(std::move(http)) {}

  // GET /api/v1/market/assets.
  Task<models::AssetsResponse> list_assets() const;
  // GET /api/v1/market/pairs.
  Task<models::TradingPairsResponse> list_pairs() const;
  // POST /api/v1/market/quote with the request as body, sent as it is.
  Task<models::PairQuoteResponse> get_quote(models::PairQuoteRequest request) const;

  const std::shared_ptr<http::HttpClient>& http() const noexcept { return http_; }

 private:
  std::shared_ptr<http::HttpClient> http_;
};

}  // namespace zephlar::api
