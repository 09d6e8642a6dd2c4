// Order history and statistics records: one page of the user's past orders,
// and the service's order counts and volume.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/json/record.hpp"
#include "core/models/enums.hpp"

namespace zephlar::models {

// One order of the history. The assets are plain texts here (tickers or
// ids), not legs.
struct OrderHistorySummary {
  std::string id;
  SwapOrderStatus status{};
  std::string from_asset;
  std::int64_t from_amount = 0;
  std::string to_asset;
  std::int64_t to_amount = 0;
  std::int64_t created_at = 0;
  json::TriState<std::int64_t> filled_at;

  bool operator==(const OrderHistorySummary&) const = default;
};
ZEPH_RECORD(OrderHistorySummary, "OrderHistorySummary",
            ZEPH_FIELD(id, required),
            ZEPH_FIELD(status, required),
            ZEPH_FIELD(from_asset, required),
            ZEPH_FIELD(from_amount, required),
            ZEPH_FIELD(to_asset, required),
            ZEPH_FIELD(to_amount, required),
            ZEPH_FIELD(created_at, required),
            ZEPH_FIELD(filled_at, three_state))

// Where a page sits in the whole history.
struct PaginationMeta {
  std::int64_t total = 0;
  std::int64_t limit = 0;
  std::int64_t skip = 0;
  std::int64_t current_page = 0;
  std::int64_t total_pages = 0;
  bool has_next = false;
  bool has_previous = false;

  bool operator==(const PaginationMeta&) const = default;
};
ZEPH_RECORD(PaginationMeta, "PaginationMeta",
            ZEPH_FIELD(total, required),
            ZEPH_FIELD(limit, required),
            ZEPH_FIELD(skip, required),
            ZEPH_FIELD(current_page, required),
            ZEPH_FIELD(total_pages, required),
            ZEPH_FIELD(has_next, required),
            ZEPH_FIELD(has_previous, required))

struct OrderHistoryResponse {
  std::vector<OrderHistorySummary> data;
  PaginationMeta pagination;

  bool operator==(const OrderHistoryResponse&) const = default;
};
ZEPH_RECORD(OrderHistoryResponse, "OrderHistoryResponse",
            ZEPH_FIELD(data, required),
            ZEPH_FIELD(pagination, required))

// Order counts per status word (any text, not only SwapOrderStatus names)
// and the volume of the filled orders.
struct OrderStatsResponse {
  std::map<std::string, std::int64_t> status_counts;
  std::int64_t filled_orders_volume = 0;
  std::int64_t filled_orders_count = 0;

  bool operator==(const OrderStatsResponse&) const = default;
};
ZEPH_RECORD(OrderStatsResponse, "OrderStatsResponse",
            ZEPH_FIELD(status_counts, required),
            ZEPH_FIELD(filled_orders_volume, required),
            ZEPH_FIELD(filled_orders_count, required))

}  // namespace zephlar::models
