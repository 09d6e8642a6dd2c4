// Enumerations travel as their wire names only. An enumeration is declared
// once, with enumerators spelled as their wire names:
//
//   ZEPH_ENUM(SwapStatus, Waiting, Pending, Succeeded, Expired, Failed)
//
// which declares the enum class and its description (found by
// argument-dependent lookup, so it must sit in the enum's namespace).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "core/json/codec.hpp"

namespace zephlar::json {

template <class E, std::size_t N>
struct EnumDescription {
  std::array<std::string_view, N> names;
};

constexpr std::size_t count_enum_names(std::string_view list) {
  std::size_t n = 1;
  for (char c : list)
    if (c == ',') ++n;
  return n;
}

// Splits the enumerator list as the preprocessor spelled it ("A, B, C").
template <class E, std::size_t N>
constexpr EnumDescription<E, N> describe_enum(std::string_view list) {
  EnumDescription<E, N> d{};
  std::size_t k = 0;
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    std::string_view name = list.substr(0, comma);
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    d.names[k++] = name;
    list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
  }
  return d;
}

template <class E>
concept Enumeration = std::is_enum_v<E> && requires { zeph_describe(std::type_identity<E>{}).names; };

template <Enumeration E>
struct EnumInfo {
  static constexpr auto description = zeph_describe(std::type_identity<E>{});
  static constexpr auto& names = description.names;

  static constexpr std::string_view wire_name(E e) noexcept { return names[static_cast<std::size_t>(e)]; }

  // Exact, byte-for-byte comparison with each wire name.
  static constexpr std::optional<E> match(std::string_view text) noexcept {
    for (std::size_t k = 0; k < names.size(); ++k)
      if (names[k] == text) return static_cast<E>(k);
    return std::nullopt;
  }

  // "one of `A`, `B`, `C`"
  static std::string expected_list() {
    std::string s = "one of ";
    for (std::size_t k = 0; k < names.size(); ++k) {
      if (k) s += ", ";
      s += '`';
      s += names[k];
      s += '`';
    }
    return s;
  }
};

template <Enumeration E>
struct Codec<E> {
  using Info = EnumInfo<E>;

  static bool read(Reader& r, E& out) {
    r.skip_ws();
    switch (r.peek()) {
      case -1:
        return r.fail_eof_value();
      case '"':
        return read_name(r, out);
      case '{':
        return read_object_form(r, out);
      default:
        // A number is never an ordinal, and null is no variant.
        return r.fail_peeked("expected value");
    }
  }

  static void write(Writer& w, E e) {
    w.raw('"');
    w.raw(Info::wire_name(e));
    w.raw('"');
  }

 private:
  static bool read_name(Reader& r, E& out) {
    std::string_view text;
    if (!r.read_string(text)) return false;
    if (const auto e = Info::match(text)) {
      out = *e;
      return true;
    }
    return r.fail_taken("unknown variant `" + std::string(text) + "`, expected " + Info::expected_list());
  }

  // {"NAME":null} reads as "NAME".
  static bool read_object_form(Reader& r, E& out) {
    if (!r.enter()) return false;
    r.bump();
    r.skip_ws();
    if (r.peek() == '}') return r.fail_peeked("expected value");
    if (r.peek() != '"') return r.invalid_type("variant identifier");
    if (!read_name(r, out) || !r.object_colon()) return false;
    r.skip_ws();
    if (r.peek() != 'n') return r.invalid_type("unit");
    if (!r.read_literal("null")) return false;
    r.skip_ws();
    if (r.peek() != '}') return r.fail_peeked(r.peek() == -1 ? "EOF while parsing an object" : "expected value");
    r.bump();
    r.leave();
    return true;
  }
};

}  // namespace zephlar::json

#define ZEPH_ENUM(Name, ...)                                                                          \
  enum class Name : std::uint8_t { __VA_ARGS__ };                                                     \
  constexpr auto zeph_describe(std::type_identity<Name>) {                                            \
    return ::zephlar::json::describe_enum<Name, ::zephlar::json::count_enum_names(#__VA_ARGS__)>( \
        #__VA_ARGS__);                                                                                \
  }
