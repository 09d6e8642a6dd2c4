// Quotes: a single quote, a quote by pair ticker, the swap-fee estimate and
// the best quote across the layers of a pair.
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "core/client/core_client.hpp"

namespace zephlar::client {

namespace {

// "BASE/QUOTE" split at its one '/', or nothing when the ticker holds no
// slash or more than one. Empty pieces count: "BTC/" gives "BTC" and "".
std::optional<std::pair<std::string, std::string>> split_pair_ticker(std::string_view ticker) {
  const auto slash = ticker.find('/');
  if (slash == std::string_view::npos || ticker.find('/', slash + 1) != std::string_view::npos) return std::nullopt;
  return std::pair{std::string(ticker.substr(0, slash)), std::string(ticker.substr(slash + 1))};
}

using Amount = decltype(models::SwapLegRequest::amount);

// A leg's amount from an optional one: absent when not given.
Amount leg_amount(std::optional<std::int64_t> amount) {
  Amount leg{};
  if (amount) leg = *amount;
  return leg;
}

models::PairQuoteRequest quote_request(std::string from_asset, models::Layer from_layer,
                                       std::optional<std::int64_t> from_amount, std::string to_asset,
                                       models::Layer to_layer, std::optional<std::int64_t> to_amount) {
  models::PairQuoteRequest request;
  request.from_asset.asset_id = std::move(from_asset);
  request.from_asset.layer = from_layer;
  request.from_asset.amount = leg_amount(from_amount);
  request.to_asset.asset_id = std::move(to_asset);
  request.to_asset.layer = to_layer;
  request.to_asset.amount = leg_amount(to_amount);
  return request;
}

// The layers an asset's supported_layers name, in their order and with
// repeats; unknown names are dropped. No name known: BTC_LN, then RGB_LN.
std::vector<models::Layer> quote_layers(const models::Asset& asset) {
  std::vector<models::Layer> layers;
  if (const auto* names = asset.supported_layers.get()) {
    for (const std::string& name : *names) {
      if (auto layer = models::layer_from_name(name)) layers.push_back(*layer);
    }
  }
  if (layers.empty()) layers = {models::Layer::BTC_LN, models::Layer::RGB_LN};
  return layers;
}

CoreError validation(std::string message) { return CoreError(CoreError::Validation{std::move(message)}); }

constexpr const char* both_amounts = "Cannot specify both from_amount and to_amount";
constexpr const char* no_amount = "Must specify either from_amount or to_amount";

}  // namespace

Task<models::PairQuoteResponse> CoreClient::get_quote(models::PairQuoteRequest request) {
  return get_quote_in(shared_from_this(), std::move(request));
}

Task<models::PairQuoteResponse> CoreClient::get_quote_by_pair(std::string ticker,
                                                              std::optional<std::int64_t> from_amount,
                                                              std::optional<std::int64_t> to_amount,
                                                              models::Layer layer) {
  return get_quote_by_pair_in(shared_from_this(), std::move(ticker), from_amount, to_amount, layer);
}

Task<std::int64_t> CoreClient::estimate_swap_fees(std::string ticker, std::int64_t amount, models::Layer layer) {
  return estimate_swap_fees_in(shared_from_this(), std::move(ticker), amount, layer);
}

Task<models::PairQuoteResponse> CoreClient::get_best_quote(std::string ticker, std::optional<std::int64_t> from_amount,
                                                           std::optional<std::int64_t> to_amount) {
  return get_best_quote_in(shared_from_this(), std::move(ticker), from_amount, to_amount);
}

Task<models::PairQuoteResponse> CoreClient::get_quote_in(std::shared_ptr<CoreClient> self,
                                                         models::PairQuoteRequest request) {
  // A null amount is no amount; zero and negative amounts are amounts.
  const bool from_given = request.from_asset.amount.has_value();
  const bool to_given = request.to_asset.amount.has_value();
  if (from_given && to_given) co_return Err(validation(both_amounts));
  if (!from_given && !to_given) co_return Err(validation(no_amount));
  co_return co_await self->market_.get_quote(std::move(request));
}

Task<models::PairQuoteResponse> CoreClient::get_quote_by_pair_in(std::shared_ptr<CoreClient> self, std::string ticker,
                                                                 std::optional<std::int64_t> from_amount,
                                                                 std::optional<std::int64_t> to_amount,
                                                                 models::Layer layer) {
  auto pieces = split_pair_ticker(ticker);
  if (!pieces) {
    co_return Err(validation("Invalid ticker format: '" + ticker + "'. Expected format: 'BASE/QUOTE'"));
  }
  if (!from_amount && !to_amount) co_return Err(validation(no_amount));
  // Both amounts given fails in get_quote, before anything is sent.
  co_return co_await self->get_quote(
      quote_request(std::move(pieces->first), layer, from_amount, std::move(pieces->second), layer, to_amount));
}

Task<std::int64_t> CoreClient::estimate_swap_fees_in(std::shared_ptr<CoreClient> self, std::string ticker,
                                                     std::int64_t amount, models::Layer layer) {
  auto quote = co_await self->get_quote_by_pair(std::move(ticker), amount, std::nullopt, layer);
  if (!quote) co_return Err(std::move(quote).error());
  co_return Err(CoreError(CoreError::NotImplemented{}));
}

Task<models::PairQuoteResponse> CoreClient::get_best_quote_in(std::shared_ptr<CoreClient> self, std::string ticker,
                                                              std::optional<std::int64_t> from_amount,
                                                              std::optional<std::int64_t> to_amount) {
  auto pieces = split_pair_ticker(ticker);
  if (!pieces) co_return Err(validation("Ticker must be in format ASSET/ASSET"));
  const std::string& base = pieces->first;
  const std::string& quote = pieces->second;

  auto base_asset = co_await self->find_asset_by_ticker(base);
  if (!base_asset) co_return Err(std::move(base_asset).error());
  auto quote_asset = co_await self->find_asset_by_ticker(quote);
  if (!quote_asset) co_return Err(std::move(quote_asset).error());

  const std::vector<models::Layer> from_layers = quote_layers(*base_asset);
  const std::vector<models::Layer> to_layers = quote_layers(*quote_asset);

  // One combination at a time; a failed one is skipped whatever its error.
  std::optional<models::PairQuoteResponse> best;
  for (const models::Layer from_layer : from_layers) {
    for (const models::Layer to_layer : to_layers) {
      auto candidate =
          co_await self->get_quote(quote_request(base, from_layer, from_amount, quote, to_layer, to_amount));
      if (!candidate) continue;
      if (!best || candidate->to_asset.amount > best->to_asset.amount) best = std::move(candidate).value();
    }
  }
  if (!best) co_return Err(CoreError::not_found("Quote", ticker));
  co_return std::move(*best);
}

}  // namespace zephlar::client
