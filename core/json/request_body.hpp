// Request bodies: compact JSON sent as "application/json". Built anew for
// every try of a request; requests without payload carry no body at all.
#pragma once

#include <string>
#include <string_view>

#include "core/json/json.hpp"

namespace zephlar::json {

inline constexpr std::string_view json_content_type = "application/json";

struct RequestBody {
  std::string content_type;
  std::string bytes;

  bool operator==(const RequestBody&) const = default;
};

template <Codable T>
RequestBody json_body(const T& value) {
  RequestBody body{std::string(json_content_type), {}};
  body.bytes.reserve(128);
  append_json(body.bytes, value);
  return body;
}

// The node's parameterless POSTs send the empty object.
inline RequestBody json_body_json_value(const JsonValue& value) { return json_body(value); }

}  // namespace zephlar::json
