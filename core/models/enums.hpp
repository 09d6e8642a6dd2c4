// The closed enumerations of the service's and the node's APIs. Each value
// travels as its wire name, which is also the enumerator's name.
#pragma once

#include <optional>
#include <string_view>

#include "core/json/enumeration.hpp"

namespace zephlar::models {

ZEPH_ENUM(Layer, BTC_L1, BTC_LN, BTC_SPARK, BTC_ARKADE, BTC_LIQUID, BTC_CASHU, RGB_L1, RGB_LN, TAPASS_L1, TAPASS_LN,
          LIQUID_LIQUID, ARKADE_ARKADE, SPARK_SPARK)

ZEPH_ENUM(SwapOrderStatus, OPEN, PENDING_PAYMENT, PAID, EXECUTING, FILLED, CANCELLED, EXPIRED, FAILED,
          PENDING_RATE_DECISION)

ZEPH_ENUM(PaymentStatus, NOT_PAID, UNDERPAID, PAID, OVERPAID)

ZEPH_ENUM(SwapStatus, Waiting, Pending, Succeeded, Expired, Failed)

ZEPH_ENUM(OrderState, CREATED, CHANNEL_OPENING, COMPLETED, FAILED, PENDING_RATE_DECISION)

ZEPH_ENUM(Network, Mainnet, Testnet, Signet, Regtest)

ZEPH_ENUM(AssetDeliveryStatus, NOT_REQUIRED, PENDING, IN_PROGRESS, COMPLETED, FAILED, RATE_CHANGED)

ZEPH_ENUM(LspPaymentState, EXPECT_PAYMENT, HOLD, PAID, REFUNDED, TO_REFUND)

ZEPH_ENUM(AddressFormat, BTC_ADDRESS, BOLT11, BOLT12, LN_ADDRESS, RGB_INVOICE, LIQUID_ADDRESS, LIQUID_INVOICE,
          SPARK_ADDRESS, SPARK_INVOICE, ARKADE_ADDRESS, ARKADE_INVOICE, CASHU_TOKEN)

// The layer a plain name (an asset's supported-layer entry) stands for. Only
// the layers that quotes can be asked for are known: the TAPASS names, though
// valid wire names, give no layer.
std::optional<Layer> layer_from_name(std::string_view name) noexcept;

}  // namespace zephlar::models
