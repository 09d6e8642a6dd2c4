// Records: each record type is described once (name in messages, members
// with their JSON names and kinds) and read and written by the generic code
// below, in object form or array form.
//
//   ZEPH_RECORD(Fee, "Fee",
//               ZEPH_FIELD(base_fee, required),
//               ZEPH_FIELD(fee_rate, required), ...)
//
// The description must sit in the record's own namespace (it is found by
// argument-dependent lookup).
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>

#include "core/json/codec.hpp"

namespace zephlar::json {

// A member that tells "key absent" from "null" from a value, and writes each
// back as it was read.
template <class T>
class TriState {
 public:
  TriState() noexcept = default;
  TriState(std::nullptr_t) noexcept : v_(nullptr) {}
  TriState(T value) : v_(std::move(value)) {}
  static TriState absent() noexcept { return {}; }

  bool is_absent() const noexcept { return v_.index() == 0; }
  bool is_null() const noexcept { return v_.index() == 1; }
  bool has_value() const noexcept { return v_.index() == 2; }
  const T& value() const { return std::get<2>(v_); }
  T& value() { return std::get<2>(v_); }
  const T* get() const noexcept { return std::get_if<2>(&v_); }

  void set_absent() noexcept { v_.template emplace<0>(); }
  void set_null() noexcept { v_.template emplace<1>(nullptr); }
  T& emplace() { return v_.template emplace<2>(); }

  bool operator==(const TriState&) const = default;

 private:
  struct Absent {
    bool operator==(const Absent&) const = default;
  };
  std::variant<Absent, std::nullptr_t, T> v_;
};

template <class T>
struct Codec<TriState<T>> {
  static bool read(Reader& r, TriState<T>& out) {
    r.skip_ws();
    if (r.peek() == 'n') {
      out.set_null();
      return r.read_literal("null");
    }
    return Codec<T>::read(r, out.emplace());
  }
  // Only reached for a present member: absent ones are left out before.
  static void write(Writer& w, const TriState<T>& v) {
    if (const T* value = v.get()) {
      Codec<T>::write(w, *value);
    } else {
      w.null();
    }
  }
};

// How a member behaves when its key is absent, when it is null, when an
// array form has no element left for it, and when it is written.
enum class Kind : std::uint8_t {
  required,             // must appear, never null; always written
  required_nullable,    // must appear, may be null; null written as null
  optional,             // may be absent or null; left out without value
  three_state,          // absent, null or value, each written back as read
  defaulted,            // absent means empty; always written (no value as null)
  defaulted_omit_none,  // as defaulted, but left out without value
};

template <class T>
struct is_optional : std::false_type {};
template <class T>
struct is_optional<std::optional<T>> : std::true_type {};
template <class T>
struct is_tri_state : std::false_type {};
template <class T>
struct is_tri_state<TriState<T>> : std::true_type {};

template <auto Ptr>
struct member_pointer_traits;
template <class Record, class Value, Value Record::*Ptr>
struct member_pointer_traits<Ptr> {
  using record = Record;
  using value = Value;
};

template <auto Ptr, Kind K>
struct Member {
  using record = typename member_pointer_traits<Ptr>::record;
  using value = typename member_pointer_traits<Ptr>::value;
  static constexpr Kind kind = K;
  std::string_view name;

  static_assert(Codable<value>, "member of a type without a codec");
  static_assert((K == Kind::required) == (!is_optional<value>::value && !is_tri_state<value>::value) ||
                    K == Kind::defaulted,
                "a required member holds a plain value");
  static_assert(K != Kind::required_nullable || is_optional<value>::value, "a nullable member holds a std::optional");
  static_assert(K != Kind::optional || is_optional<value>::value, "an optional member holds a std::optional");
  static_assert((K == Kind::three_state) == is_tri_state<value>::value, "three-state members hold a TriState");
  static_assert(K != Kind::defaulted_omit_none || is_optional<value>::value,
                "only a member with a no-value state can be left out");

  // Whether the array form must hold an element for this member.
  static constexpr bool needs_element = K == Kind::required || K == Kind::required_nullable || K == Kind::optional;
  // Whether the object form must name this member.
  static constexpr bool needs_key = K == Kind::required || K == Kind::required_nullable;

  static bool read(Reader& r, record& obj) { return Codec<value>::read(r, obj.*Ptr); }

  // The member takes its state for "not given".
  static void set_missing(record& obj) {
    if constexpr (K == Kind::three_state) {
      (obj.*Ptr).set_absent();
    } else if constexpr (K != Kind::required && K != Kind::required_nullable) {
      obj.*Ptr = value{};
    }
  }

  bool write(Writer& w, const record& obj, bool first) const {
    const value& v = obj.*Ptr;
    if constexpr (K == Kind::optional || K == Kind::defaulted_omit_none) {
      if (!v) return false;
    } else if constexpr (K == Kind::three_state) {
      if (v.is_absent()) return false;
    }
    w.key(name, first);
    Codec<value>::write(w, v);
    return true;
  }
};

template <auto Ptr, Kind K>
constexpr Member<Ptr, K> field(std::string_view json_name) {
  return Member<Ptr, K>{json_name};
}

template <class T, class... Members>
struct RecordDescription {
  std::string_view name;  // "struct {name}" in messages
  std::tuple<Members...> members;
};

template <class T, class... Members>
constexpr RecordDescription<T, Members...> describe_record(std::string_view name, Members... members) {
  return {name, std::tuple<Members...>(members...)};
}

template <class T>
concept Record = requires {
  zeph_describe(std::type_identity<T>{}).members;
};

template <Record T>
struct RecordInfo {
  static constexpr auto description = zeph_describe(std::type_identity<T>{});
  static constexpr std::size_t size = std::tuple_size_v<decltype(description.members)>;
  static_assert(size > 0 && size <= 64, "records have 1 to 64 members");

  static constexpr std::array<std::string_view, size> names =
      std::apply([](const auto&... m) { return std::array<std::string_view, size>{m.name...}; }, description.members);

  using Reader_fn = bool (*)(Reader&, T&);
  using Missing_fn = void (*)(T&);
  static constexpr std::array<Reader_fn, size> readers =
      std::apply([](const auto&... m) { return std::array<Reader_fn, size>{&std::decay_t<decltype(m)>::read...}; },
                 description.members);
  static constexpr std::array<Missing_fn, size> set_missing = std::apply(
      [](const auto&... m) { return std::array<Missing_fn, size>{&std::decay_t<decltype(m)>::set_missing...}; },
      description.members);
  static constexpr std::array<bool, size> needs_key =
      std::apply([](const auto&... m) { return std::array<bool, size>{std::decay_t<decltype(m)>::needs_key...}; },
                 description.members);
  static constexpr std::array<bool, size> needs_element =
      std::apply([](const auto&... m) { return std::array<bool, size>{std::decay_t<decltype(m)>::needs_element...}; },
                 description.members);

  // Whether the name can be matched against the input's bytes as they are
  // (see Reader::take_plain_key).
  static constexpr bool plain_name(std::string_view name) {
    for (const char c : name)
      if (c < 0x20 || c > 0x7E || c == '"' || c == '\\') return false;
    return true;
  }
  static constexpr std::array<bool, size> plain_names = [] {
    std::array<bool, size> plain{};
    for (std::size_t k = 0; k < size; ++k) plain[k] = plain_name(names[k]);
    return plain;
  }();

  static std::size_t find(std::string_view key) noexcept {
    for (std::size_t k = 0; k < size; ++k)
      if (names[k].size() == key.size() && std::memcmp(names[k].data(), key.data(), key.size()) == 0) return k;
    return size;
  }

  static std::string struct_text() { return "struct " + std::string(description.name); }
  static std::string length_text() {
    return struct_text() + " with " + std::to_string(size) + (size == 1 ? " element" : " elements");
  }
};

template <Record T>
struct Codec<T> {
  using Info = RecordInfo<T>;

  static bool read(Reader& r, T& out) {
    r.skip_ws();
    const int c = r.peek();
    if (c != '{' && c != '[') return r.invalid_type(Info::struct_text());
    if (!r.enter()) return false;
    r.bump();
    if (!(c == '{' ? read_object_form(r, out) : read_array_form(r, out))) return false;
    r.leave();
    return true;
  }

  static void write(Writer& w, const T& v) {
    w.raw('{');
    bool first = true;
    std::apply([&](const auto&... m) { ((first = !m.write(w, v, first) && first), ...); }, Info::description.members);
    w.raw('}');
  }

 private:
  static bool read_object_form(Reader& r, T& out) {
    std::uint64_t seen = 0;
    std::size_t expected = 0;  // members mostly come in declaration order
    bool more;
    if (!r.object_first(more)) return false;
    while (more) {
      std::size_t k;
      if (take_expected_key(r, expected, std::make_index_sequence<Info::size>{})) {
        k = expected;
      } else {
        std::string_view key;
        if (!r.read_string(key)) return false;
        k = expected < Info::size && Info::names[expected] == key ? expected : Info::find(key);
      }
      expected = k + 1;
      r.skip_ws();
      if (k < Info::size) {
        const std::uint64_t bit = std::uint64_t{1} << k;
        if (seen & bit) return r.fail_taken("duplicate field `" + std::string(Info::names[k]) + "`");
        seen |= bit;
        if (!r.object_colon() || !Info::readers[k](r, out)) return false;
      } else {
        if (!r.object_colon() || !r.skip_value()) return false;
      }
      if (!r.object_next(more)) return false;
    }
    // The closing brace is taken: missing members are reported there.
    for (std::size_t k = 0; k < Info::size; ++k) {
      if (seen & (std::uint64_t{1} << k)) continue;
      if (Info::needs_key[k]) return r.fail_taken("missing field `" + std::string(Info::names[k]) + "`");
      Info::set_missing[k](out);
    }
    return true;
  }

  // Takes the key when it is the plainly written name of member `k`, each
  // name compared as a constant.
  template <std::size_t... K>
  static bool take_expected_key(Reader& r, std::size_t k, std::index_sequence<K...>) {
    bool taken = false;
    (void)((k == K && (taken = take_key<K>(r), true)) || ...);
    return taken;
  }
  template <std::size_t K>
  static bool take_key(Reader& r) {
    if constexpr (Info::plain_names[K]) {
      return r.take_plain_key(Info::names[K]);
    } else {
      return false;
    }
  }

  static bool read_array_form(Reader& r, T& out) {
    bool ended = false;  // the closing bracket is next
    for (std::size_t k = 0; k < Info::size; ++k) {
      if (!ended) {
        bool more;
        if (!element_ahead(r, k == 0, more)) return false;
        if (more) {
          if (!Info::readers[k](r, out)) return false;
          continue;
        }
        ended = true;
      }
      if (Info::needs_element[k]) {
        r.bump();  // the closing bracket, where the error points
        return r.fail_taken("invalid length " + std::to_string(k) + ", expected " + Info::length_text());
      }
      Info::set_missing[k](out);
    }
    if (ended) {
      r.bump();
      return true;
    }
    // Every member has its element: the array must close here.
    r.skip_ws();
    switch (r.peek()) {
      case ']':
        r.bump();
        return true;
      case ',':
        r.bump();
        r.skip_ws();
        return r.fail_peeked(r.peek() == ']' ? "trailing comma" : "trailing characters");
      case -1:
        return r.fail_peeked("EOF while parsing a list");
      default:
        return r.fail_peeked("trailing characters");
    }
  }

  // Whether another element starts; a closing bracket is left in place so
  // that a short array's error can point at it.
  static bool element_ahead(Reader& r, bool first, bool& more) {
    r.skip_ws();
    if (r.peek() == ']') {
      more = false;
      return true;
    }
    if (!first) return r.array_next(more);
    if (r.peek() == -1) return r.fail_peeked("EOF while parsing a list");
    more = true;
    return true;
  }
};

}  // namespace zephlar::json

#define ZEPH_FIELD(member, kind) ::zephlar::json::field<&Self::member, ::zephlar::json::Kind::kind>(#member)
#define ZEPH_FIELD_AS(member, json_name, kind) \
  ::zephlar::json::field<&Self::member, ::zephlar::json::Kind::kind>(json_name)
#define ZEPH_RECORD(Type, message_name, ...)                                  \
  constexpr auto zeph_describe(std::type_identity<Type>) {                    \
    using Self = Type;                                                        \
    return ::zephlar::json::describe_record<Type>(message_name, __VA_ARGS__); \
  }
