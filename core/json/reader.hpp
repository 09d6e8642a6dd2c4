// The syntax layer every JSON reading goes through: white space, brackets,
// literals, numbers, strings, skipping, the nesting budget and positioned
// errors. One forward pass over the input, which is borrowed, never copied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "core/json/read_error.hpp"

namespace zephlar::json {

// Where the input comes from. Answer bodies are arbitrary bytes, so the
// strings read from them are checked for UTF-8; texts handed in by a host are
// valid UTF-8 already.
enum class Source : std::uint8_t { response_body, caller_text };

// A scanned number, classified the one way the typed readers see it.
struct Number {
  enum class Kind : std::uint8_t { unsigned_int, negative_int, floating };
  Kind kind = Kind::unsigned_int;
  std::uint64_t u = 0;
  std::int64_t i = 0;
  double f = 0.0;
};

class Reader {
 public:
  // Opened and closed arrays and objects inside one typed reading.
  static constexpr int nesting_budget = 128;

  Reader(std::string_view input, Source source) noexcept
      : begin_(input.data()),
        p_(input.data()),
        end_(input.data() + input.size()),
        check_utf8_(source == Source::response_body) {}

  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // ---- cursor ----
  [[gnu::always_inline]] void skip_ws() noexcept {
    while (p_ != end_ && is_ws(static_cast<unsigned char>(*p_))) ++p_;
  }
  // The next byte, or -1 at the end of the input.
  int peek() const noexcept { return p_ == end_ ? -1 : static_cast<unsigned char>(*p_); }
  void bump() noexcept { ++p_; }
  // Bytes taken so far.
  std::size_t offset() const noexcept { return static_cast<std::size_t>(p_ - begin_); }
  // Bytes not taken yet.
  std::size_t remaining() const noexcept { return static_cast<std::size_t>(end_ - p_); }

  // ---- errors ----
  // Every fail_* records the error (the first one only) and returns false,
  // so readers can `return r.fail_...(...)`.
  //
  // The error points at the byte that ends `end_offset` bytes into the
  // input; 0 means "before the first byte" (column 0).
  bool fail_at(std::size_t end_offset, std::string message);
  // At the last byte taken.
  bool fail_taken(std::string message) { return fail_at(offset(), std::move(message)); }
  // At the next byte (taking it into the position), or at the last byte of
  // the input when there is none.
  bool fail_peeked(std::string message) {
    return p_ == end_ ? fail_eof(std::move(message)) : fail_at(offset() + 1, std::move(message));
  }
  // At the end of the input, which ended too early.
  bool fail_eof(std::string message);
  bool fail_eof_value() { return fail_eof("EOF while parsing a value"); }
  bool failed() const noexcept { return error_.has_value(); }
  const ReadError& error() const { return *error_; }
  ReadError take_error() { return std::move(*error_); }

  // ---- nesting ----
  // Before an opening bracket or brace that a typed reader takes: lowers the
  // budget and fails on the bracket one level too deep.
  bool enter() {
    if (--budget_ == 0) return fail_peeked("recursion limit exceeded");
    return true;
  }
  void leave() noexcept { ++budget_; }

  // ---- values ----
  // At the first letter of null, true or false: takes the whole literal.
  bool read_literal(std::string_view word);
  // At '-' or a digit: scans, classifies and converts the number.
  bool read_number(Number& out);
  // At the opening quote: decodes the string. The view points into the input
  // when the string has no escapes, else into a buffer that the next string
  // read reuses.
  bool read_string(std::string_view& out);
  // At the start of a value: scans one value for syntax only.
  bool skip_value();
  // After the top-level value: only white space may follow.
  bool finish();

  // ---- typed-reader helpers ----
  // At the start of a value that has the wrong kind for `expected` (white
  // space already skipped): reads the value whole and fails with
  // "invalid type: {unexpected}, expected {expected}", or with the syntax
  // error the value itself has.
  bool invalid_type(std::string_view expected);
  // At a key's opening quote: takes the whole key when it is `name` written
  // out plainly, and takes nothing otherwise. Only for names made of
  // printable ASCII other than the quote and the backslash, whose plain
  // spelling is the only one that needs no decoding.
  // Always inlined, so that a constant name's comparison compiles to a few
  // word compares instead of a call.
  [[gnu::always_inline]] bool take_plain_key(std::string_view name) noexcept {
    const std::size_t n = name.size();
    if (static_cast<std::size_t>(end_ - p_) < n + 2 || p_[n + 1] != '"' || std::memcmp(p_ + 1, name.data(), n) != 0)
      return false;
    p_ += n + 2;
    return true;
  }
  // The structure between values is read inline (forced where it runs
  // between any two values); what is not the common shape goes to the
  // out-of-line parts below, which report the errors.
  //
  // Expects ':' after an object key.
  [[gnu::always_inline]] bool object_colon() {
    skip_ws();
    if (p_ != end_ && *p_ == ':') {
      ++p_;
      return true;
    }
    return colon_missing();
  }
  // After '{' has been taken: true in `has_key` when a key starts here.
  bool object_first(bool& has_key) {
    skip_ws();
    if (p_ != end_) {
      if (*p_ == '"') {
        has_key = true;
        return true;
      }
      if (*p_ == '}') {
        ++p_;
        has_key = false;
        return true;
      }
    }
    return first_key_missing();
  }
  // After a member's value: true in `has_key` when another key starts here;
  // takes the closing brace otherwise.
  [[gnu::always_inline]] bool object_next(bool& has_key) {
    skip_ws();
    if (p_ != end_) {
      if (*p_ == ',') {
        ++p_;
        skip_ws();
        if (p_ != end_ && *p_ == '"') {
          has_key = true;
          return true;
        }
        return next_key_missing();
      }
      if (*p_ == '}') {
        ++p_;
        has_key = false;
        return true;
      }
    }
    return object_unended();
  }
  // After '[' has been taken: true in `has_element` when an element starts.
  bool array_first(bool& has_element) {
    skip_ws();
    if (p_ == end_) return array_unended();
    if (*p_ == ']') {
      ++p_;
      has_element = false;
    } else {
      has_element = true;
    }
    return true;
  }
  // After an element: true in `has_element` when another element starts;
  // takes the closing bracket otherwise.
  [[gnu::always_inline]] bool array_next(bool& has_element) {
    skip_ws();
    if (p_ != end_) {
      if (*p_ == ',') {
        ++p_;
        skip_ws();
        if (p_ != end_ && *p_ != ']') {
          has_element = true;
          return true;
        }
        return next_element_missing();
      }
      if (*p_ == ']') {
        ++p_;
        has_element = false;
        return true;
      }
    }
    return array_unended();
  }

 private:
  static bool is_ws(unsigned char c) noexcept { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }
  std::size_t size() const noexcept { return static_cast<std::size_t>(end_ - begin_); }
  bool fail_position(std::size_t lines_end, std::size_t column_end, std::string message);
  // The errors of the structure readers above, at the byte where the
  // expected one is not.
  bool colon_missing();
  bool first_key_missing();
  bool next_key_missing();
  bool object_unended();
  bool next_element_missing();
  bool array_unended();

  struct NumberParts {
    bool negative = false;
    bool is_float = false;   // has a fraction or an exponent
    bool truncated = false;  // digits were left out of the significand
    std::uint64_t significand = 0;
    std::int64_t exponent = 0;
  };
  bool scan_number(NumberParts& parts);
  void gather_digits(NumberParts& parts, int scale) noexcept;
  bool scan_string(bool decode, std::string_view* out);
  bool escape(bool decode);
  bool hex_escape(std::uint32_t& unit);
  std::size_t utf8_sequence_length() const noexcept;

  const char* begin_;
  const char* p_;
  const char* end_;
  int budget_ = nesting_budget;
  bool check_utf8_;
  std::string scratch_;
  std::string skip_stack_;
  std::optional<ReadError> error_;
};

// The float layout used both in written JSON and in reading messages.
void append_f64(std::string& out, double value);
std::string format_f64(double value);

}  // namespace zephlar::json
