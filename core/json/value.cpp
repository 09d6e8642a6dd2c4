#include "core/json/value.hpp"

namespace zephlar::json {

bool Codec<JsonValue>::read(Reader& r, JsonValue& out) {
  r.skip_ws();
  auto& v = out.storage();
  switch (r.peek()) {
    case -1:
      return r.fail_eof_value();
    case 'n':
      v = nullptr;
      return r.read_literal("null");
    case 't':
      v = true;
      return r.read_literal("true");
    case 'f':
      v = false;
      return r.read_literal("false");
    case '"': {
      std::string_view text;
      if (!r.read_string(text)) return false;
      v = std::string(text);
      return true;
    }
    case '[': {
      JsonValue::Array items;
      if (!r.enter()) return false;
      r.bump();
      bool more;
      if (!r.array_first(more)) return false;
      while (more) {
        if (!read(r, items.emplace_back())) return false;
        if (!r.array_next(more)) return false;
      }
      r.leave();
      v = std::move(items);
      return true;
    }
    case '{': {
      JsonValue::Object members;
      const bool ok = read_object(r, [&](std::string key) {
        JsonValue value;
        if (!read(r, value)) return false;
        members.insert_or_assign(std::move(key), std::move(value));
        return true;
      });
      if (ok) v = std::move(members);
      return ok;
    }
    default:
      break;
  }
  if (!starts_number(r.peek())) return r.fail_peeked("expected value");
  Number n;
  if (!r.read_number(n)) return false;
  switch (n.kind) {
    case Number::Kind::unsigned_int: v = n.u; break;
    case Number::Kind::negative_int: v = n.i; break;
    case Number::Kind::floating: v = n.f; break;
  }
  return true;
}

void Codec<JsonValue>::write(Writer& w, const JsonValue& value) {
  std::visit(
      [&](const auto& x) {
        using X = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<X, std::nullptr_t>) {
          w.null();
        } else if constexpr (std::is_same_v<X, bool>) {
          w.boolean(x);
        } else if constexpr (std::is_same_v<X, std::uint64_t>) {
          w.u64(x);
        } else if constexpr (std::is_same_v<X, std::int64_t>) {
          w.i64(x);
        } else if constexpr (std::is_same_v<X, double>) {
          w.f64(x);
        } else if constexpr (std::is_same_v<X, std::string>) {
          w.string(x);
        } else if constexpr (std::is_same_v<X, JsonValue::Array>) {
          w.raw('[');
          bool first = true;
          for (const auto& e : x) {
            if (!first) w.raw(',');
            first = false;
            write(w, e);
          }
          w.raw(']');
        } else {
          w.raw('{');
          bool first = true;
          for (const auto& [key, e] : x) {
            w.key(key, first);
            first = false;
            write(w, e);
          }
          w.raw('}');
        }
      },
      value.storage());
}

}  // namespace zephlar::json
