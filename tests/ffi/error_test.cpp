// ZephError: conversion from every CoreError variant, display and debug
// texts, and the quoting of messages in the debug text.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/error.hpp"
#include "core/http/http_error.hpp"
#include "core/json/read_error.hpp"
#include "ffi/zeph_error.hpp"

namespace zephlar::ffi {
namespace {

using Kind = ZephError::Kind;

struct ConversionCase {
  const char* name;
  CoreError core;
  Kind kind;
  std::string message;
  std::string display;
  std::string debug;
};

TEST(ZephErrorTest, ConvertsEveryCoreVariant) {
  json::ReadError read_error{"expected value", 1, 2};
  const std::vector<ConversionCase> cases = {
      {"network", CoreError::network("Connection failed", http::HttpError{}), Kind::NetworkError,
       "Connection failed", "Network error: Connection failed", R"(NetworkError { message: "Connection failed" })"},
      {"api drops status and body", CoreError::Api{"Forbidden", std::string("{\"detail\":\"no\"}"), 403},
       Kind::ApiError, "Forbidden", "API error: Forbidden", R"(ApiError { message: "Forbidden" })"},
      {"validation", CoreError::Validation{"Must specify either from_amount or to_amount"}, Kind::ValidationError,
       "Must specify either from_amount or to_amount",
       "Validation error: Must specify either from_amount or to_amount",
       R"(ValidationError { message: "Must specify either from_amount or to_amount" })"},
      {"timeout drops seconds", CoreError::Timeout{2.5}, Kind::TimeoutError, "", "Timeout error", "TimeoutError"},
      {"websocket", CoreError::WebSocket{"closed"}, Kind::WebSocketError, "closed", "WebSocket error: closed",
       R"(WebSocketError { message: "closed" })"},
      {"not implemented", CoreError::NotImplemented{}, Kind::InternalError, "Not implemented",
       "Internal error: Not implemented", R"(InternalError { message: "Not implemented" })"},
      {"json", CoreError::Json{read_error}, Kind::InternalError, "JSON error: expected value at line 1 column 2",
       "Internal error: JSON error: expected value at line 1 column 2",
       R"(InternalError { message: "JSON error: expected value at line 1 column 2" })"},
      {"invalid url", CoreError::InvalidUrl{"x"}, Kind::InternalError, "Invalid URL: x", "Internal error: Invalid URL: x",
       R"(InternalError { message: "Invalid URL: x" })"},
      {"config", CoreError::Config{"Failed to create HTTP client: bad"}, Kind::InternalError,
       "Configuration error: Failed to create HTTP client: bad",
       "Internal error: Configuration error: Failed to create HTTP client: bad",
       R"(InternalError { message: "Configuration error: Failed to create HTTP client: bad" })"},
      {"not found", CoreError::not_found("TradingPair", "BTC/EUR"), Kind::NotFoundError,
       "TradingPair not found: BTC/EUR", "Not found: TradingPair not found: BTC/EUR",
       R"(NotFoundError { message: "TradingPair not found: BTC/EUR" })"},
      {"swap", CoreError::Swap{"failed"}, Kind::InternalError, "Swap error: failed", "Internal error: Swap error: failed",
       R"(InternalError { message: "Swap error: failed" })"},
      {"node not configured drops its text", CoreError::NodeNotConfigured{}, Kind::NodeNotConfigured, "",
       "Node not configured", "NodeNotConfigured"},
      {"internal", CoreError::Internal{"oops"}, Kind::InternalError, "Internal error: oops",
       "Internal error: Internal error: oops", R"(InternalError { message: "Internal error: oops" })"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ZephError error = ZephError::from_core_error(c.core);
    EXPECT_EQ(error.kind(), c.kind);
    EXPECT_EQ(error.message(), c.message);
    EXPECT_EQ(error.display(), c.display);
    EXPECT_EQ(error.debug(), c.debug);
  }
}

TEST(ZephErrorTest, NumbersAndNamesFollowTheDeclarationOrder) {
  const std::vector<std::pair<ZephError, std::string>> cases = {
      {ZephError::network("m"), "NetworkError"},     {ZephError::api("m"), "ApiError"},
      {ZephError::validation("m"), "ValidationError"}, {ZephError::timeout(), "TimeoutError"},
      {ZephError::websocket("m"), "WebSocketError"}, {ZephError::not_found("m"), "NotFoundError"},
      {ZephError::node_not_configured(), "NodeNotConfigured"}, {ZephError::internal("m"), "InternalError"},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(cases[i].first.number(), static_cast<std::int32_t>(i + 1)) << cases[i].second;
    EXPECT_EQ(kind_name(cases[i].first.kind()), cases[i].second);
    EXPECT_EQ(cases[i].first.has_message(), i != 3 && i != 6) << cases[i].second;
  }
}

TEST(ZephErrorTest, DebugTextQuotesTheMessage) {
  struct Case {
    const char* name;
    std::string message;
    std::string quoted;
  };
  const std::vector<Case> cases = {
      {"plain", "Forbidden", R"("Forbidden")"},
      {"double quote and backslash", R"(say "hi" \ bye)", R"("say \"hi\" \\ bye")"},
      {"newline, return, tab", "a\nb\rc\td", R"("a\nb\rc\td")"},
      {"nul", std::string("a\0b", 3), R"("a\0b")"},
      {"other controls", "\x01\x1f\x7f", R"("\u{1}\u{1f}\u{7f}")"},
      {"single quote unchanged", "it's", R"("it's")"},
      {"printable non-ASCII unchanged", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
      {"combining mark escaped", "e\xCC\x81", R"("e\u{301}")"},
      {"zero width joiner escaped", "a\xE2\x80\x8D" "b", R"("a\u{200d}b")"},
      {"no-break space escaped", "a\xC2\xA0" "b", R"("a\u{a0}b")"},
      {"line separator escaped", "\xE2\x80\xA8", R"("\u{2028}")"},
      {"private use escaped", "\xEE\x80\x80", R"("\u{e000}")"},
      {"unassigned escaped", "\xF4\x8F\xBF\xBF", R"("\u{10ffff}")"},
      {"ill-formed byte reads as U+FFFD", "a\xFF" "b", "\"a\xEF\xBF\xBD" "b\""},
      {"empty", "", R"("")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(quote_debug(c.message), c.quoted);
    const ZephError error = ZephError::api(c.message);
    EXPECT_EQ(error.debug(), "ApiError { message: " + c.quoted + " }");
    EXPECT_EQ(error.display(), "API error: " + c.message);
  }
}

}  // namespace
}  // namespace zephlar::ffi
