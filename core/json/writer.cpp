#include "core/json/writer.hpp"

#include <array>
#include <charconv>

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
  out_.push_back('"');
  const char* run = s.data();
  const char* const end = s.data() + s.size();
  for (const char* p = run; p != end; ++p) {
    const std::string_view rep = escapes[static_cast<unsigned char>(*p)];
    if (rep.empty()) continue;
    out_.append(run, p);
    out_.append(rep);
    run = p + 1;
  }
  out_.append(run, end);
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
