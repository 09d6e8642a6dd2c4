// Readable records of the market, quotes, swap orders and order history.
#include "core/models/asset.hpp"
#include "core/models/order_history.hpp"
#include "core/models/quote.hpp"
#include "core/models/swap_order.hpp"
#include "core/models/trading_pair.hpp"
#include "tests/support/registry_entry.hpp"

namespace zephlar::testing {

std::vector<RegistryEntry> market_entries() {
  using namespace models;
  return {
      entry<Media>("Media"),
      entry<TradingLimits>("TradingLimits"),
      entry<Asset>("Asset"),
      entry<TradableAsset>("TradableAsset"),
      entry<AssetsResponse>("AssetsResponse"),
      entry<SwapRoute>("SwapRoute"),
      entry<TradingPair>("TradingPair"),
      entry<TradingPairsResponse>("TradingPairsResponse"),
      entry<SwapLeg>("SwapLeg"),
      entry<Fee>("Fee"),
      entry<PairQuoteResponse>("PairQuoteResponse"),
      entry<ReceiverAddress>("ReceiverAddress"),
      entry<SwapOrder>("SwapOrder"),
      entry<CreateSwapOrderRequest>("CreateSwapOrderRequest"),
      entry<CreateSwapOrderResponse>("CreateSwapOrderResponse"),
      entry<SwapOrderStatusResponse>("SwapOrderStatusResponse"),
      entry<SwapOrderRateDecisionResponse>("SwapOrderRateDecisionResponse"),
      entry<OrderHistorySummary>("OrderHistorySummary"),
      entry<PaginationMeta>("PaginationMeta"),
      entry<OrderHistoryResponse>("OrderHistoryResponse"),
      entry<OrderStatsResponse>("OrderStatsResponse"),
  };
}

}  // namespace zephlar::testing
