#include "core/api/market/market_api.hpp"

#include <string>
#include <utility>

namespace zephlar::api {

namespace {

// Each request runs in a frame of its own that keeps the HTTP client alive,
// so the task stays valid whatever becomes of the group that made it.
template <class T>
Task<T> get(std::shared_ptr<http::HttpClient> http, std::string path) {
  co_return co_await http->get<T>(std::move(path));
}

template <class T, class Body>
Task<T> post(std::shared_ptr<http::HttpClient> http, std::string path, Body body) {
  co_return co_await http->post<T>(std::move(path), std::move(body));
}

}  // namespace

Task<models::AssetsResponse> MarketApi::list_assets() const { return get<models::AssetsResponse>(http_, assets_path); }

Task<models::TradingPairsResponse> MarketApi::list_pairs() const {
  return get<models::TradingPairsResponse>(http_, pairs_path);
}

Task<models::PairQuoteResponse> MarketApi::get_quote(models::PairQuoteRequest request) const {
  return post<models::PairQuoteResponse>(http_, quote_path, std::move(request));
}

}  // namespace zephlar::api
