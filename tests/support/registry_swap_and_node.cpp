// Readable records of atomic swaps, LSPS1 and the node.
#include "core/models/atomic_swap.hpp"
#include "core/models/lsps1_order.hpp"
#include "core/models/lsps1_service.hpp"
#include "core/models/node_requests.hpp"
#include "core/models/node_responses.hpp"
#include "tests/support/registry_entry.hpp"

namespace zephlar::testing {

std::vector<RegistryEntry> swap_and_node_entries() {
  using namespace models;
  return {
      // Atomic swaps.
      entry<Swap>("Swap"),
      entry<SwapStatusResponse>("SwapStatusResponse"),
      entry<SwapRequest>("SwapRequest"),
      entry<SwapResponse>("SwapResponse"),
      entry<ConfirmSwapRequest>("ConfirmSwapRequest"),
      entry<ConfirmSwapResponse>("ConfirmSwapResponse"),
      entry<SwapNodeInfoResponse>("SwapNodeInfoResponse"),
      // LSPS1 service.
      entry<GetInfoResponseModel>("GetInfoResponseModel"),
      entry<OrderOptions>("OrderOptions"),
      entry<AssetsOptions>("AssetsOptions"),
      entry<NetworkInfoResponse>("NetworkInfoResponse"),
      entry<ChannelFees>("ChannelFees"),
      // LSPS1 channel orders.
      entry<CreateOrderRequest>("CreateOrderRequest"),
      entry<ChannelOrderResponse>("ChannelOrderResponse"),
      entry<PaymentDetails>("PaymentDetails"),
      entry<PaymentBolt11>("PaymentBolt11"),
      entry<PaymentOnchain>("PaymentOnchain"),
      entry<ChannelDetails>("ChannelDetails"),
      // Node answers.
      entry<RgbNodeInfo>("RgbNodeInfo"),
      entry<BtcBalance>("BtcBalance"),
      entry<RgbAssetBalance>("RgbAssetBalance"),
      entry<RgbAsset>("RgbAsset"),
      entry<Channel>("Channel"),
      entry<Peer>("Peer"),
      entry<Payment>("Payment"),
      entry<AddressResponse>("AddressResponse"),
      entry<ListAssetsResponse>("ListAssetsResponse"),
      entry<ListChannelsResponse>("ListChannelsResponse"),
      entry<ListPeersResponse>("ListPeersResponse"),
      entry<ListPaymentsResponse>("ListPaymentsResponse"),
      // Node requests.
      entry<ConnectPeerRequest>("ConnectPeerRequest"),
  };
}

}  // namespace zephlar::testing
