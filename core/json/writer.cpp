#include "core/json/writer.hpp"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "core/json/reader.hpp"

namespace zephlar::json {
namespace {

// The replacement of each byte that cannot stand as it is inside a JSON
// string; empty for the bytes that are copied unchanged.
constexpr auto escapes = [] {
  std::array<std::string_view, 256> t{};
  constexpr std::string_view controls[32] = {
      "\\u0000", "\\u0001", "\\u0002", "\\u0003", "\\u0004", "\\u0005", "\\u0006", "\\u0007",
      "\\b",     "\\t",     "\\n",     "\\u000b", "\\f",     "\\r",     "\\u000e", "\\u000f",
      "\\u0010", "\\u0011", "\\u0012", "\\u0013", "\\u0014", "\\u0015", "\\u0016", "\\u0017",
      "\\u0018", "\\u0019", "\\u001a", "\\u001b", "\\u001c", "\\u001d", "\\u001e", "\\u001f"};
  for (int c = 0; c < 32; ++c) t[c] = controls[c];
  t['"'] = "\\\"";
  t['\\'] = "\\\\";
  return t;
}();

// Whether a byte needs an escape: the same bytes as above, in a table a
// quarter of a cache line per 64 bytes.
constexpr auto must_escape = [] {
  std::array<bool, 256> t{};
  for (std::size_t c = 0; c < t.size(); ++c) t[c] = !escapes[c].empty();
  return t;
}();

// Text up to this long is assembled on the stack and appended in one step:
// keys and most values are short, and one append costs about as much as
// one character pushed.
constexpr std::size_t short_text = 64;

// Copies `s` to `to` unless some byte of it needs an escape (then `to`
// holds a part of it, and false is returned).
bool copy_clean(std::string_view s, char* to) {
  for (const char c : s) {
    if (must_escape[static_cast<unsigned char>(c)]) return false;
    *to++ = c;
  }
  return true;
}

// Whether any of the eight bytes of `word` needs an escape: a control byte
// (below 0x20), '"' or '\\'. Exact: a byte at 0x80 or above never counts.
constexpr bool needs_escape(std::uint64_t word) {
  constexpr std::uint64_t ones = 0x0101010101010101u;
  constexpr std::uint64_t highs = 0x8080808080808080u;
  const auto has_zero = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
  const std::uint64_t below_space = (word - ones * 0x20) & ~word & highs;
  return (below_space | has_zero(word ^ (ones * '"')) | has_zero(word ^ (ones * '\\'))) != 0;
}

// The first eight-byte block of [p, end) that holds a byte needing an
// escape, or the tail shorter than eight bytes.
const char* skip_clean_words(const char* p, const char* end) {
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if (needs_escape(word)) break;
    p += 8;
  }
  return p;
}

}  // namespace

void Writer::i64(std::int64_t v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out_.append(buf, r.ptr);
}

void Writer::u64(std::uint64_t v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out_.append(buf, r.ptr);
}

void Writer::f64(double v) { append_f64(out_, v); }

void Writer::string(std::string_view s) {
  if (s.size() <= short_text) {
    char quoted[short_text + 2];
    quoted[0] = '"';
    if (copy_clean(s, quoted + 1)) {
      quoted[s.size() + 1] = '"';
      out_.append(quoted, s.size() + 2);
      return;
    }
  }
  escaped_string(s);
}

void Writer::key(std::string_view name, bool first) {
  if (name.size() <= short_text) {
    char member[short_text + 4];
    char* p = member;
    if (!first) *p++ = ',';
    *p++ = '"';
    if (copy_clean(name, p)) {
      p += name.size();
      *p++ = '"';
      *p++ = ':';
      out_.append(member, static_cast<std::size_t>(p - member));
      return;
    }
  }
  if (!first) out_.push_back(',');
  string(name);
  out_.push_back(':');
}

void Writer::escaped_string(std::string_view s) {
  // Most text needs no escape at all, so the clean runs between the bytes
  // that do are found eight bytes at a time and appended whole.
  out_.push_back('"');
  const char* run = s.data();
  const char* const end = s.data() + s.size();
  const char* p = run;
  for (;;) {
    p = skip_clean_words(p, end);
    while (p != end && !must_escape[static_cast<unsigned char>(*p)]) ++p;
    if (p == end) break;
    out_.append(run, static_cast<std::size_t>(p - run));
    out_.append(escapes[static_cast<unsigned char>(*p)]);
    run = ++p;
  }
  out_.append(run, static_cast<std::size_t>(end - run));
  out_.push_back('"');
}

void write_i64_field(std::string& out, std::string_view key, std::int64_t value, bool first) {
  Writer w(out);
  w.key(key, first);
  w.i64(value);
}

void write_string_field(std::string& out, std::string_view key, std::string_view value, bool first) {
  Writer w(out);
  w.key(key, first);
  w.string(value);
}

}  // namespace zephlar::json
