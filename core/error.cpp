#include "core/error.hpp"

#include <charconv>
#include <cmath>

namespace zephlar {

CoreError CoreError::network(std::string_view message, http::HttpError cause) {
  return Network{std::string(message), std::move(cause)};
}

CoreError CoreError::not_found(std::string_view resource, std::string_view id) {
  return NotFound{std::string(resource), std::string(id)};
}

CoreError CoreError::from_http_error(http::HttpError error, double timeout_seconds) {
  switch (error.kind) {
    case http::HttpError::Kind::timeout:
      return Timeout{timeout_seconds};
    case http::HttpError::Kind::connect:
      return network("Connection failed", std::move(error));
    case http::HttpError::Kind::other:
      break;
  }
  return network("HTTP request failed", std::move(error));
}

std::string format_seconds(double seconds) {
  if (!std::isfinite(seconds)) return std::isnan(seconds) ? "NaN" : (seconds < 0 ? "-inf" : "inf");
  char buf[512];  // the fixed form of the largest double has 309 digits
  const auto r = std::to_chars(buf, buf + sizeof buf, seconds, std::chars_format::fixed);
  return std::string(buf, r.ptr);
}

std::string CoreError::to_string() const {
  struct Text {
    std::string operator()(const Network& e) const { return "Network error: " + e.message; }
    std::string operator()(const Api& e) const {
      return "API error (" + std::to_string(e.status) + "): " + e.message;
    }
    std::string operator()(const Validation& e) const { return "Validation error: " + e.message; }
    std::string operator()(const Timeout& e) const { return "Request timed out after " + format_seconds(e.seconds) + "s"; }
    std::string operator()(const WebSocket& e) const { return "WebSocket error: " + e.message; }
    std::string operator()(const NotImplemented&) const { return "Not implemented"; }
    std::string operator()(const Json& e) const { return "JSON error: " + e.error.text(); }
    std::string operator()(const InvalidUrl& e) const { return "Invalid URL: " + e.message; }
    std::string operator()(const Config& e) const { return "Configuration error: " + e.message; }
    std::string operator()(const NotFound& e) const { return e.resource + " not found: " + e.id; }
    std::string operator()(const Swap& e) const { return "Swap error: " + e.message; }
    std::string operator()(const NodeNotConfigured&) const {
      return "Node URL not configured. This operation requires a connected RGB Lightning Node.";
    }
    std::string operator()(const Internal& e) const { return "Internal error: " + e.message; }
  };
  return std::visit(Text{}, v_);
}

bool CoreError::is_retryable() const noexcept {
  if (const auto* api = get_if<Api>()) return api->status >= 500 || api->status == 429;
  return is<Network>() || is<Timeout>() || is<WebSocket>();
}

}  // namespace zephlar
