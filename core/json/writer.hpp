// Compact JSON output: no white space, text escaped byte by byte, numbers in
// their one canonical form. Appends to a caller-owned buffer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zephlar::json {

class Writer {
 public:
  explicit Writer(std::string& out) noexcept : out_(out) {}

  void raw(char c) { out_.push_back(c); }
  void raw(std::string_view s) { out_.append(s); }
  void null() { out_.append("null"); }
  void boolean(bool b) { out_.append(b ? "true" : "false"); }
  void i64(std::int64_t v);
  void u64(std::uint64_t v);
  void f64(double v);
  void string(std::string_view s);
  // The member step: ',' unless first, then the key and ':'.
  void key(std::string_view name, bool first);

  std::string& buffer() noexcept { return out_; }

 private:
  // Any text, escapes and all.
  void escaped_string(std::string_view s);

  std::string& out_;
};

// One member with its value, the two small writers the wrapper also uses for
// the result objects it assembles itself.
void write_i64_field(std::string& out, std::string_view key, std::int64_t value, bool first);
void write_string_field(std::string& out, std::string_view key, std::string_view value, bool first);

}  // namespace zephlar::json
