// Value codecs: how each value type is read from and written to JSON.
//
// Codec<T>::read(reader, out) starts at the value (white space allowed
// before it) and returns false with the reader's error on failure;
// Codec<T>::write(writer, value) appends the compact form.
#pragma once

#include <algorithm>
#include <concepts>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/json/reader.hpp"
#include "core/json/unexpected.hpp"
#include "core/json/writer.hpp"

namespace zephlar::json {

template <class T>
struct Codec;

template <class T>
concept Codable = requires(Reader& r, T& v, Writer& w, const T& cv) {
  { Codec<T>::read(r, v) } -> std::same_as<bool>;
  Codec<T>::write(w, cv);
};

inline bool starts_number(int c) noexcept { return c == '-' || (c >= '0' && c <= '9'); }

template <>
struct Codec<std::string> {
  static bool read(Reader& r, std::string& out) {
    r.skip_ws();
    if (r.peek() != '"') return r.invalid_type("a string");
    std::string_view text;
    if (!r.read_string(text)) return false;
    out.assign(text);
    return true;
  }
  static void write(Writer& w, const std::string& v) { w.string(v); }
};

template <>
struct Codec<bool> {
  static bool read(Reader& r, bool& out) {
    r.skip_ws();
    switch (r.peek()) {
      case 't':
        out = true;
        return r.read_literal("true");
      case 'f':
        out = false;
        return r.read_literal("false");
      default:
        return r.invalid_type("a boolean");
    }
  }
  static void write(Writer& w, bool v) { w.boolean(v); }
};

// An integer in [min, max], named `expected` in messages.
template <class Int>
bool read_integer(Reader& r, Int& out, std::string_view expected) {
  constexpr auto lo = static_cast<std::int64_t>(std::numeric_limits<Int>::min());
  constexpr auto hi = static_cast<std::uint64_t>(std::numeric_limits<Int>::max());
  r.skip_ws();
  if (!starts_number(r.peek())) return r.invalid_type(expected);
  Number n;
  if (!r.read_number(n)) return false;
  switch (n.kind) {
    case Number::Kind::unsigned_int:
      if (n.u <= hi) {
        out = static_cast<Int>(n.u);
        return true;
      }
      break;
    case Number::Kind::negative_int:
      if (n.i >= lo) {
        out = static_cast<Int>(n.i);
        return true;
      }
      break;
    case Number::Kind::floating:
      return r.fail_taken("invalid type: " + unexpected_number(n) + ", expected " + std::string(expected));
  }
  return r.fail_taken("invalid value: " + unexpected_number(n) + ", expected " + std::string(expected));
}

template <>
struct Codec<std::int64_t> {
  static bool read(Reader& r, std::int64_t& out) { return read_integer(r, out, "i64"); }
  static void write(Writer& w, std::int64_t v) { w.i64(v); }
};

template <>
struct Codec<std::uint8_t> {
  static bool read(Reader& r, std::uint8_t& out) { return read_integer(r, out, "u8"); }
  static void write(Writer& w, std::uint8_t v) { w.u64(v); }
};

template <>
struct Codec<double> {
  static bool read(Reader& r, double& out) {
    r.skip_ws();
    if (!starts_number(r.peek())) return r.invalid_type("f64");
    Number n;
    if (!r.read_number(n)) return false;
    switch (n.kind) {
      case Number::Kind::unsigned_int:
        out = static_cast<double>(n.u);
        break;
      case Number::Kind::negative_int:
        out = static_cast<double>(n.i);
        break;
      case Number::Kind::floating:
        out = n.f;
        break;
    }
    return true;
  }
  static void write(Writer& w, double v) { w.f64(v); }
};

// A value that may be null: null reads as no value and no value writes null.
template <class T>
struct Codec<std::optional<T>> {
  static bool read(Reader& r, std::optional<T>& out) {
    r.skip_ws();
    if (r.peek() == 'n') {
      out.reset();
      return r.read_literal("null");
    }
    return Codec<T>::read(r, out.emplace());
  }
  static void write(Writer& w, const std::optional<T>& v) {
    if (v) {
      Codec<T>::write(w, *v);
    } else {
      w.null();
    }
  }
};

template <class T>
struct Codec<std::vector<T>> {
  static bool read(Reader& r, std::vector<T>& out) {
    r.skip_ws();
    if (r.peek() != '[') return r.invalid_type("a sequence");
    if (!r.enter()) return false;
    r.bump();
    out.clear();
    const std::size_t start = r.offset();
    bool more;
    if (!r.array_first(more)) return false;
    while (more) {
      if (out.size() == out.capacity() && out.size() >= 8) grow(r, out, start);
      if (!Codec<T>::read(r, out.emplace_back())) return false;
      if (!r.array_next(more)) return false;
    }
    r.leave();
    return true;
  }
  // A full vector of a long array would be moved each time it doubles, so
  // it is given the room that the rest of the input suggests instead: the
  // elements read so far give the bytes per element, and the bytes left
  // give how many more may come (with an eighth to spare, since elements
  // differ in size). The room never takes more bytes than the input has left,
  // and it is taken only when it beats doubling.
  static void grow(const Reader& r, std::vector<T>& out, std::size_t start) {
    const std::size_t n = out.size();
    const std::size_t per_element = (r.offset() - start) / n + 1;
    std::size_t room = n + r.remaining() / per_element;
    room += room / 8;
    room = std::min(room, n + r.remaining() / sizeof(T));
    if (room > 2 * n) out.reserve(room);
  }

  static void write(Writer& w, const std::vector<T>& v) {
    w.raw('[');
    bool first = true;
    for (const T& e : v) {
      if (!first) w.raw(',');
      first = false;
      Codec<T>::write(w, e);
    }
    w.raw(']');
  }
};

// Reads the members of an object whose opening brace is next, calling
// on_member(key) after each key's colon; on_member reads the value.
template <class OnMember>
bool read_object(Reader& r, OnMember&& on_member) {
  if (!r.enter()) return false;
  r.bump();
  bool more;
  if (!r.object_first(more)) return false;
  while (more) {
    std::string_view key;
    if (!r.read_string(key)) return false;
    std::string owned(key);  // the value may reuse the reader's buffer
    if (!r.object_colon() || !on_member(std::move(owned))) return false;
    if (!r.object_next(more)) return false;
  }
  r.leave();
  return true;
}

template <class T>
struct Codec<std::map<std::string, T>> {
  static bool read(Reader& r, std::map<std::string, T>& out) {
    r.skip_ws();
    if (r.peek() != '{') return r.invalid_type("a map");
    out.clear();
    return read_object(r, [&](std::string key) {
      T value{};
      if (!Codec<T>::read(r, value)) return false;
      out.insert_or_assign(std::move(key), std::move(value));
      return true;
    });
  }
  static void write(Writer& w, const std::map<std::string, T>& v) {
    w.raw('{');
    bool first = true;
    for (const auto& [key, value] : v) {
      w.key(key, first);
      first = false;
      Codec<T>::write(w, value);
    }
    w.raw('}');
  }
};

}  // namespace zephlar::json
