// Ticker look-ups and active lists over the cached asset and pair lists.
#include <utility>

#include "core/client/core_client.hpp"
#include "core/client/ticker.hpp"

namespace zephlar::client {

Task<models::Asset> CoreClient::find_asset_by_ticker(std::string ticker) {
  return find_asset_by_ticker_in(shared_from_this(), std::move(ticker));
}

Task<models::TradingPair> CoreClient::find_pair_by_ticker(std::string ticker) {
  return find_pair_by_ticker_in(shared_from_this(), std::move(ticker));
}

Task<std::vector<models::Asset>> CoreClient::list_active_assets() { return list_active_assets_in(shared_from_this()); }

Task<std::vector<models::TradingPair>> CoreClient::list_active_pairs() {
  return list_active_pairs_in(shared_from_this());
}

Task<models::Asset> CoreClient::find_asset_by_ticker_in(std::shared_ptr<CoreClient> self, std::string ticker) {
  auto assets = co_await self->list_assets();
  if (!assets) co_return Err(std::move(assets).error());
  auto found = find_asset_in_list(std::move(assets).value(), to_upper_full(ticker));
  if (!found) co_return Err(CoreError::not_found("Asset", ticker));
  co_return std::move(*found);
}

Task<models::TradingPair> CoreClient::find_pair_by_ticker_in(std::shared_ptr<CoreClient> self, std::string ticker) {
  auto pairs = co_await self->list_pairs();
  if (!pairs) co_return Err(std::move(pairs).error());
  auto found = find_pair_in_list(std::move(pairs).value(), to_upper_full(ticker));
  if (!found) co_return Err(CoreError::not_found("TradingPair", ticker));
  co_return std::move(*found);
}

Task<std::vector<models::Asset>> CoreClient::list_active_assets_in(std::shared_ptr<CoreClient> self) {
  auto assets = co_await self->list_assets();
  if (!assets) co_return Err(std::move(assets).error());
  co_return retain_active_assets(std::move(assets).value());
}

Task<std::vector<models::TradingPair>> CoreClient::list_active_pairs_in(std::shared_ptr<CoreClient> self) {
  auto pairs = co_await self->list_pairs();
  if (!pairs) co_return Err(std::move(pairs).error());
  co_return retain_active_pairs(std::move(pairs).value());
}

}  // namespace zephlar::client
