// The one error type of the core. Every core operation yields its value or a
// CoreError; nothing is thrown.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "core/http/http_error.hpp"
#include "core/json/read_error.hpp"
#include "core/result.hpp"

namespace zephlar {

class CoreError {
 public:
  // The variants, in their fixed order.
  struct Network {
    std::string message;
    std::optional<http::HttpError> source;  // held, never printed
  };
  struct Api {
    std::string message;
    std::optional<std::string> details;  // the answer body; held, never printed
    std::uint16_t status = 0;
  };
  struct Validation {
    std::string message;
  };
  struct Timeout {
    double seconds = 0;
  };
  struct WebSocket {
    std::string message;
  };
  struct NotImplemented {};
  struct Json {
    json::ReadError error;
  };
  struct InvalidUrl {
    std::string message;
  };
  struct Config {
    std::string message;
  };
  struct NotFound {
    std::string resource;
    std::string id;
  };
  struct Swap {
    std::string message;
  };
  struct NodeNotConfigured {};
  struct Internal {
    std::string message;
  };

  using Variant = std::variant<Network, Api, Validation, Timeout, WebSocket, NotImplemented, Json, InvalidUrl, Config,
                               NotFound, Swap, NodeNotConfigured, Internal>;

  template <class V>
    requires std::is_constructible_v<Variant, V&&>
  CoreError(V&& v) : v_(std::forward<V>(v)) {}

  static CoreError network(std::string_view message, http::HttpError cause);
  static CoreError not_found(std::string_view resource, std::string_view id);
  // Classifies a failure of the HTTP client: a time-out first (carrying the
  // client's configured time-out), then "Connection failed", then
  // "HTTP request failed".
  static CoreError from_http_error(http::HttpError error, double timeout_seconds);

  std::string to_string() const;
  // Worth another try: network errors, time-outs, WebSocket errors, and API
  // answers with status 429 or 500 and above.
  bool is_retryable() const noexcept;

  // The variant's number, counted from 0 in declaration order.
  std::size_t index() const noexcept { return v_.index(); }
  template <class V>
  const V* get_if() const noexcept {
    return std::get_if<V>(&v_);
  }
  template <class V>
  bool is() const noexcept {
    return std::holds_alternative<V>(v_);
  }
  const Variant& variant() const noexcept { return v_; }

 private:
  Variant v_;
};

// Seconds in the shortest decimal form that reads back as the same number,
// never in exponent notation, without ".0" when whole: "30", "0.5", "0.1".
std::string format_seconds(double seconds);

template <class T>
using CoreResult = Result<T, CoreError>;

}  // namespace zephlar
