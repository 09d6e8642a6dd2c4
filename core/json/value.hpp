// The untyped JSON value, for bodies and answers that have no record of
// their own. Object keys are kept (and written) in ascending byte order;
// numbers keep the integer or float class they were read with.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "core/json/codec.hpp"

namespace zephlar::json {

class JsonValue {
 public:
  using Array = std::vector<JsonValue>;
  // std::string orders by unsigned bytes, which is the order keys are
  // written in.
  using Object = std::map<std::string, JsonValue, std::less<>>;
  using Storage = std::variant<std::nullptr_t, bool, std::uint64_t, std::int64_t, double, std::string, Array, Object>;

  JsonValue() noexcept : v_(nullptr) {}
  JsonValue(std::nullptr_t) noexcept : v_(nullptr) {}
  JsonValue(bool b) noexcept : v_(b) {}
  JsonValue(std::uint64_t u) noexcept : v_(u) {}
  JsonValue(std::int64_t i) noexcept : v_(i) {}
  JsonValue(double f) noexcept : v_(f) {}
  JsonValue(std::string s) : v_(std::move(s)) {}
  JsonValue(const char* s) : v_(std::string(s)) {}
  JsonValue(Array a) : v_(std::move(a)) {}
  JsonValue(Object o) : v_(std::move(o)) {}

  static JsonValue empty_object() { return JsonValue(Object{}); }

  const Storage& storage() const noexcept { return v_; }
  Storage& storage() noexcept { return v_; }

  template <class T>
  bool is() const noexcept {
    return std::holds_alternative<T>(v_);
  }
  template <class T>
  const T* get_if() const noexcept {
    return std::get_if<T>(&v_);
  }

  bool operator==(const JsonValue&) const = default;

 private:
  Storage v_;
};

template <>
struct Codec<JsonValue> {
  static bool read(Reader& r, JsonValue& out);
  static void write(Writer& w, const JsonValue& v);
};

}  // namespace zephlar::json
