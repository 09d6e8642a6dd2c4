// Quote records: a priced swap between two legs and its charges.
#pragma once

#include <cstdint>
#include <string>

#include "core/json/record.hpp"
#include "core/models/enums.hpp"

namespace zephlar::models {

// One priced leg of a quote or of a swap order.
struct SwapLeg {
  std::string asset_id;
  std::string name;
  std::string ticker;
  Layer layer{};
  std::int64_t amount = 0;
  std::int64_t precision = 0;

  bool operator==(const SwapLeg&) const = default;
};
ZEPH_RECORD(SwapLeg, "SwapLeg",
            ZEPH_FIELD(asset_id, required),
            ZEPH_FIELD(name, required),
            ZEPH_FIELD(ticker, required),
            ZEPH_FIELD(layer, required),
            ZEPH_FIELD(amount, required),
            ZEPH_FIELD(precision, required))

// The charges of a quote or of a swap order.
struct Fee {
  std::int64_t base_fee = 0;
  std::int64_t variable_fee = 0;
  double fee_rate = 0.0;
  std::int64_t final_fee = 0;
  std::string fee_asset;
  std::int64_t fee_asset_precision = 0;

  bool operator==(const Fee&) const = default;
};
ZEPH_RECORD(Fee, "Fee",
            ZEPH_FIELD(base_fee, required),
            ZEPH_FIELD(variable_fee, required),
            ZEPH_FIELD(fee_rate, required),
            ZEPH_FIELD(final_fee, required),
            ZEPH_FIELD(fee_asset, required),
            ZEPH_FIELD(fee_asset_precision, required))

}  // namespace zephlar::models
