// ZephError: the one error that leaves the wrapper client. Every CoreError a
// core operation returns is converted into it once, by from_core_error; the
// wrapper's own failures are made with the named constructors.
//
// Eight kinds, numbered from 1 in this order (the number travels across the
// C-callable interface). Six carry a message; TimeoutError and
// NodeNotConfigured carry nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/error.hpp"
#include "core/result.hpp"

namespace zephlar::ffi {

class ZephError {
 public:
  enum class Kind : std::int32_t {
    NetworkError = 1,
    ApiError = 2,
    ValidationError = 3,
    TimeoutError = 4,
    WebSocketError = 5,
    NotFoundError = 6,
    NodeNotConfigured = 7,
    InternalError = 8,
  };

  static ZephError network(std::string message) { return {Kind::NetworkError, std::move(message)}; }
  static ZephError api(std::string message) { return {Kind::ApiError, std::move(message)}; }
  static ZephError validation(std::string message) { return {Kind::ValidationError, std::move(message)}; }
  static ZephError timeout() { return {Kind::TimeoutError, {}}; }
  static ZephError websocket(std::string message) { return {Kind::WebSocketError, std::move(message)}; }
  static ZephError not_found(std::string message) { return {Kind::NotFoundError, std::move(message)}; }
  static ZephError node_not_configured() { return {Kind::NodeNotConfigured, {}}; }
  static ZephError internal(std::string message) { return {Kind::InternalError, std::move(message)}; }

  // The kind is chosen by the core variant alone: Network, Api, Validation,
  // WebSocket keep their message; NotFound becomes "{resource} not found:
  // {id}"; Timeout and NodeNotConfigured carry nothing; every other variant
  // becomes InternalError with the core error's whole display text.
  static ZephError from_core_error(CoreError error);

  Kind kind() const noexcept { return kind_; }
  // 1 to 8, the kind's place in the declaration order.
  std::int32_t number() const noexcept { return static_cast<std::int32_t>(kind_); }
  // Whether the kind carries a message.
  bool has_message() const noexcept { return kind_ != Kind::TimeoutError && kind_ != Kind::NodeNotConfigured; }
  // The message; empty for the two kinds without one.
  const std::string& message() const noexcept { return message_; }

  // "Network error: {message}", "Timeout error", "Node not configured", ...
  std::string display() const;
  // NetworkError { message: "Connection failed" }, or the bare kind name;
  // the message quoted and escaped (see quote_debug).
  std::string debug() const;

  bool operator==(const ZephError&) const = default;

 private:
  ZephError(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

  Kind kind_;
  std::string message_;
};

// The name of a kind as written in the debug text: "NetworkError", ...
std::string_view kind_name(ZephError::Kind kind) noexcept;

// A text between double quotes with escapes: \" and \\; \n, \r, \t and \0;
// every other character that is not printable, and every character that
// extends a grapheme (combining marks and the like), as \u{hex} in lower
// case without leading zeros. The single quote and printable non-ASCII
// characters stay as they are; an ill-formed UTF-8 sequence reads as U+FFFD.
std::string quote_debug(std::string_view text);

template <class T>
using ZephResult = Result<T, ZephError>;

}  // namespace zephlar::ffi
