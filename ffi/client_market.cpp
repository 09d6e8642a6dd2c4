// The market methods of ZephClient.
#include <cstdint>
#include <optional>
#include <string>

#include "core/client/ticker.hpp"
#include "core/models/enums.hpp"
#include "ffi/client_internal.hpp"

namespace zephlar::ffi {

namespace {

std::optional<std::int64_t> as_core_amount(std::optional<std::uint64_t> amount) {
  if (!amount) return std::nullopt;
  return static_cast<std::int64_t>(*amount);
}

}  // namespace

ZephResult<std::string> ZephClient::list_assets() const { return run_json(core_->list_assets()); }

ZephResult<std::string> ZephClient::list_pairs() const { return run_json(core_->list_pairs()); }

ZephResult<std::string> ZephClient::list_active_assets() const { return run_json(core_->list_active_assets()); }

ZephResult<std::string> ZephClient::list_active_pairs() const { return run_json(core_->list_active_pairs()); }

ZephResult<std::string> ZephClient::get_asset_by_ticker(std::string_view ticker) const {
  auto assets = run(core_->list_assets());
  if (!assets) return Err(std::move(assets).error());
  const std::string wanted = client::to_upper_full(ticker);
  for (const auto& asset : assets.value()) {
    if (client::to_upper_full(asset.ticker) == wanted) return json::to_json(asset);
  }
  return Err(ZephError::not_found("Asset not found: " + std::string(ticker)));
}

ZephResult<std::string> ZephClient::get_pair_by_ticker(std::string_view ticker) const {
  auto pairs = run(core_->list_pairs());
  if (!pairs) return Err(std::move(pairs).error());
  const std::string wanted = client::to_upper_full(ticker);
  for (const auto& pair : pairs.value()) {
    if (client::to_upper_full(client::pair_ticker(pair)) == wanted) return json::to_json(pair);
  }
  return Err(ZephError::not_found("Trading pair not found: " + std::string(ticker)));
}

ZephResult<std::string> ZephClient::find_asset_by_ticker(std::string_view ticker) const {
  return run_json(core_->find_asset_by_ticker(std::string(ticker)));
}

ZephResult<std::string> ZephClient::find_pair_by_ticker(std::string_view ticker) const {
  return run_json(core_->find_pair_by_ticker(std::string(ticker)));
}

ZephResult<std::string> ZephClient::get_quote_by_pair(std::string_view ticker,
                                                      std::optional<std::uint64_t> from_amount,
                                                      std::optional<std::uint64_t> to_amount) const {
  return run_json(core_->get_quote_by_pair(std::string(ticker), as_core_amount(from_amount),
                                           as_core_amount(to_amount), models::Layer::BTC_LN));
}

ZephResult<std::string> ZephClient::get_quote_by_assets(std::string_view from_ticker, std::string_view to_ticker,
                                                        std::optional<std::uint64_t> from_amount,
                                                        std::optional<std::uint64_t> to_amount) const {
  std::string ticker;
  ticker.reserve(from_ticker.size() + 1 + to_ticker.size());
  ticker.append(from_ticker).append("/").append(to_ticker);
  return get_quote_by_pair(ticker, from_amount, to_amount);
}

ZephResult<std::string> ZephClient::get_best_quote(std::string_view ticker, std::optional<std::uint64_t> from_amount,
                                                   std::optional<std::uint64_t> to_amount) const {
  return run_json(core_->get_best_quote(std::string(ticker), as_core_amount(from_amount), as_core_amount(to_amount)));
}

ZephResult<std::uint64_t> ZephClient::estimate_swap_fees(std::string_view ticker, std::uint64_t amount) const {
  auto fee = run(core_->estimate_swap_fees(std::string(ticker), static_cast<std::int64_t>(amount), models::Layer::BTC_LN));
  if (!fee) return Err(std::move(fee).error());
  return static_cast<std::uint64_t>(fee.value());
}

}  // namespace zephlar::ffi
