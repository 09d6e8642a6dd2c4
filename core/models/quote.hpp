// Quote records: a priced swap between two legs and its charges.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/json/record.hpp"
#include "core/json/request_body.hpp"
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

// A quote: the two priced legs and the charges, valid until expires_at.
struct PairQuoteResponse {
  std::string rfq_id;
  SwapLeg from_asset;
  SwapLeg to_asset;
  std::int64_t price = 0;
  Fee fee;
  std::int64_t timestamp = 0;
  std::int64_t expires_at = 0;

  bool operator==(const PairQuoteResponse&) const = default;
};
ZEPH_RECORD(PairQuoteResponse, "PairQuoteResponse",
            ZEPH_FIELD(rfq_id, required),
            ZEPH_FIELD(from_asset, required),
            ZEPH_FIELD(to_asset, required),
            ZEPH_FIELD(price, required),
            ZEPH_FIELD(fee, required),
            ZEPH_FIELD(timestamp, required),
            ZEPH_FIELD(expires_at, required))

// Request records: written as the quote request's body, never read (so not
// named in any message).

// One leg of a quote request. The amount is given on exactly one leg, the
// one the user fixed; the other leg leaves the key out.
struct SwapLegRequest {
  std::string asset_id;
  Layer layer{};
  std::optional<std::int64_t> amount;

  bool operator==(const SwapLegRequest&) const = default;
};
ZEPH_RECORD(SwapLegRequest, "SwapLegRequest",
            ZEPH_FIELD(asset_id, required),
            ZEPH_FIELD(layer, required),
            ZEPH_FIELD(amount, optional))

struct PairQuoteRequest {
  SwapLegRequest from_asset;
  SwapLegRequest to_asset;

  bool operator==(const PairQuoteRequest&) const = default;
};
ZEPH_RECORD(PairQuoteRequest, "PairQuoteRequest",
            ZEPH_FIELD(from_asset, required),
            ZEPH_FIELD(to_asset, required))

// Body of POST /api/v1/market/quote.
inline json::RequestBody json_body_pair_quote_request(const PairQuoteRequest& request) {
  return json::json_body(request);
}

}  // namespace zephlar::models
