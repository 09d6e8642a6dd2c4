// Order history and statistics records: OrderHistoryResponse with its
// OrderHistorySummary and PaginationMeta, and OrderStatsResponse.
#include <gtest/gtest.h>

#include <string>

#include "tests/models/probe_table.hpp"

namespace zephlar::testing {
namespace {

const std::string kPagination =
    R"({"total":42,"limit":2,"skip":10,"current_page":6,"total_pages":21,"has_next":true,"has_previous":true})";
const std::string kFilled =
    R"({"id":"ord_71f3","status":"FILLED","from_asset":"BTC","from_amount":100000,"to_asset":"USDT",)"
    R"("to_amount":64250125,"created_at":1718000000,"filled_at":1718000120})";
const std::string kOpen =
    R"({"id":"ord_8c20","status":"PENDING_RATE_DECISION","from_asset":"rgb:2dkSTbr","from_amount":-1,)"
    R"("to_asset":"BTC","to_amount":0,"created_at":1718000500})";

TEST(OrderHistoryRecords, ReadAndWriteBack) {
  run_probe_table({
      same("history page", "OrderHistoryResponse",
           R"({"data":[)" + kFilled + "," + kOpen + R"(],"pagination":)" + kPagination + "}"),
      same("summary with filled_at", "OrderHistorySummary", kFilled),
      same("summary without filled_at", "OrderHistorySummary", kOpen),
      same("summary with filled_at null", "OrderHistorySummary",
           R"({"id":"o","status":"CANCELLED","from_asset":"a","from_amount":1,"to_asset":"b","to_amount":2,)"
           R"("created_at":3,"filled_at":null})"),
      same("pagination", "PaginationMeta",
           R"({"total":0,"limit":20,"skip":0,"current_page":1,"total_pages":0,"has_next":false,"has_previous":false})"),
      same("empty page", "OrderHistoryResponse", R"({"data":[],"pagination":)" + kPagination + "}"),
      same("stats", "OrderStatsResponse",
           R"({"status_counts":{"CANCELLED":3,"FILLED":120,"OPEN":0,"refunded-by-hand":-1},)"
           R"("filled_orders_volume":9223372036854775807,"filled_orders_count":120})"),
      same("stats with no counts", "OrderStatsResponse",
           R"({"status_counts":{},"filled_orders_volume":0,"filled_orders_count":0})"),
      reads("a repeated status key keeps the later count", "OrderStatsResponse",
            R"({"filled_orders_count":1,"status_counts":{"OPEN":1,"FILLED":2,"OPEN":5},"filled_orders_volume":7})",
            R"({"status_counts":{"FILLED":2,"OPEN":5},"filled_orders_volume":7,"filled_orders_count":1})"),
      reads(
          "summary as 7 elements", "OrderHistorySummary", R"(["o","OPEN","a",1,"b",2,3])",
          R"({"id":"o","status":"OPEN","from_asset":"a","from_amount":1,"to_asset":"b","to_amount":2,"created_at":3})"),
      reads("summary as 8 elements with null", "OrderHistorySummary", R"(["o","OPEN","a",1,"b",2,3,null])",
            R"({"id":"o","status":"OPEN","from_asset":"a","from_amount":1,"to_asset":"b","to_amount":2,"created_at":3,)"
            R"("filled_at":null})"),
      reads("page in array forms", "OrderHistoryResponse",
            R"([[["o","PAID","a",1,"b",2,3,4]],[1,1,0,1,1,false,false]])",
            R"({"data":[{"id":"o","status":"PAID","from_asset":"a","from_amount":1,"to_asset":"b","to_amount":2,)"
            R"("created_at":3,"filled_at":4}],"pagination":{"total":1,"limit":1,"skip":0,"current_page":1,)"
            R"("total_pages":1,"has_next":false,"has_previous":false}})"),
  });
}

TEST(OrderHistoryRecords, Errors) {
  run_probe_table({
      fails("page without pagination", "OrderHistoryResponse", R"({"data":[)" + kFilled + "]}",
            "missing field `pagination` at line 1 column 172"),
      fails("data as an object", "OrderHistoryResponse", R"({"data":{}})",
            "invalid type: map, expected a sequence at line 1 column 8"),
      fails("status outside the enumeration fails the page", "OrderHistoryResponse", R"({"data":[{"status":"DONE"}]})",
            "unknown variant `DONE`, expected one of `OPEN`, `PENDING_PAYMENT`, `PAID`, `EXECUTING`, `FILLED`, "
            "`CANCELLED`, `EXPIRED`, `FAILED`, `PENDING_RATE_DECISION` at line 1 column 25"),
      fails("duplicate filled_at after null", "OrderHistorySummary", R"({"filled_at":null,"filled_at":1})",
            "duplicate field `filled_at` at line 1 column 29"),
      fails("summary without created_at", "OrderHistorySummary",
            R"({"id":"o","status":"OPEN","from_asset":"a","from_amount":1,"to_asset":"b","to_amount":2})",
            "missing field `created_at` at line 1 column 88"),
      fails("skip and current_page missing names skip", "PaginationMeta",
            R"({"total":1,"limit":1,"total_pages":1,"has_next":true,"has_previous":false})",
            "missing field `skip` at line 1 column 74"),
      fails("has_next as 1", "PaginationMeta", R"({"has_next":1})",
            "invalid type: integer `1`, expected a boolean at line 1 column 13"),
      fails("has_next as a string", "PaginationMeta", R"({"has_next":"true"})",
            R"(invalid type: string "true", expected a boolean at line 1 column 18)"),
      fails("count as a float", "OrderStatsResponse", R"({"status_counts":{"OPEN":2.5}})",
            "invalid type: floating point `2.5`, expected i64 at line 1 column 28"),
      fails("counts null", "OrderStatsResponse", R"({"status_counts":null})",
            "invalid type: null, expected a map at line 1 column 21"),
      fails("stats without volume", "OrderStatsResponse", R"({"status_counts":{},"filled_orders_count":0})",
            "missing field `filled_orders_volume` at line 1 column 44"),

      fails("summary as 6 elements", "OrderHistorySummary", R"(["o","OPEN","a",1,"b",2])",
            "invalid length 6, expected struct OrderHistorySummary with 8 elements at line 1 column 24"),
      fails("summary as 9 elements", "OrderHistorySummary", R"(["o","OPEN","a",1,"b",2,3,4,5])",
            "trailing characters at line 1 column 29"),
      fails("page as 1 element", "OrderHistoryResponse", "[[]]",
            "invalid length 1, expected struct OrderHistoryResponse with 2 elements at line 1 column 4"),
      fails("pagination as 6 elements", "PaginationMeta", "[1,1,0,1,1,false]",
            "invalid length 6, expected struct PaginationMeta with 7 elements at line 1 column 17"),
      fails("stats as 2 elements", "OrderStatsResponse", "[{},0]",
            "invalid length 2, expected struct OrderStatsResponse with 3 elements at line 1 column 6"),
  });
}

}  // namespace
}  // namespace zephlar::testing
