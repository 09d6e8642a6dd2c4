#include "core/json/reader.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "core/json/pow10.hpp"
#include "core/json/unexpected.hpp"

namespace zephlar::json {
namespace {

bool is_digit(int c) noexcept { return c >= '0' && c <= '9'; }

int hex_value(unsigned char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Byte classes inside a string: what the scanning loop must stop at.
enum : std::uint8_t { plain = 0, quote = 1, backslash = 2, control = 3, high = 4 };

constexpr std::array<std::uint8_t, 256> make_string_classes(bool stop_at_high) {
  std::array<std::uint8_t, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = control;
  t['"'] = quote;
  t['\\'] = backslash;
  if (stop_at_high)
    for (int c = 0x80; c < 0x100; ++c) t[c] = high;
  return t;
}
// Bytes >= 0x80 need a stop only where strings are checked for UTF-8.
constexpr auto checked_string_classes = make_string_classes(true);
constexpr auto unchecked_string_classes = make_string_classes(false);

// Written exponents beyond this cannot change the outcome (the result is 0
// or out of range either way); capping them keeps the arithmetic finite.
constexpr std::int64_t exponent_cap = std::int64_t{1} << 40;

// For the eight bytes at `p`: a mask with the high bit set in each byte that
// is a quote, a backslash, a control byte or (when strings are checked for
// UTF-8) a byte >= 0x80. Borrows may also mark bytes after the first marked
// one, never before it, so the lowest mark is exact.
inline std::uint64_t attention_mask(const char* p, bool stop_at_high) noexcept {
  constexpr std::uint64_t ones = 0x0101010101010101ULL;
  constexpr std::uint64_t highs = 0x8080808080808080ULL;
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  auto has_zero = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
  const std::uint64_t below_space = (w - ones * 0x20) & ~w & highs;
  const std::uint64_t special = has_zero(w ^ (ones * '"')) | has_zero(w ^ (ones * '\\')) | below_space;
  return stop_at_high ? special | (w & highs) : special;
}

void append_utf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

// ---- errors ----

// Lines are 1 plus the line feeds before the error byte; the column counts
// the bytes of its line up to and including it. Errors at the end of the
// input point past its last byte instead, so an input that ends with a line
// feed reports column 0 of the line after it.
bool Reader::fail_position(std::size_t lines_end, std::size_t column_end, std::string message) {
  if (error_) return false;
  std::uint64_t line = 1;
  std::size_t line_start = 0;
  const char* scan = begin_;
  const char* const stop = begin_ + lines_end;
  while (scan < stop) {
    const void* nl = std::memchr(scan, '\n', static_cast<std::size_t>(stop - scan));
    if (!nl) break;
    scan = static_cast<const char*>(nl) + 1;
    ++line;
    line_start = static_cast<std::size_t>(scan - begin_);
  }
  error_ = ReadError{std::move(message), line, column_end - line_start};
  return false;
}

bool Reader::fail_at(std::size_t end_offset, std::string message) {
  return fail_position(end_offset == 0 ? 0 : end_offset - 1, end_offset, std::move(message));
}

bool Reader::fail_eof(std::string message) { return fail_position(size(), size(), std::move(message)); }

std::string ReadError::text() const {
  return message + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

// ---- literals ----

bool Reader::read_literal(std::string_view word) {
  bump();  // the first letter, already seen by the caller
  for (std::size_t k = 1; k < word.size(); ++k) {
    if (p_ == end_) return fail_eof_value();
    const char c = *p_++;
    if (c != word[k]) return fail_taken("expected ident");
  }
  return true;
}

// ---- numbers ----

namespace {

// The value of eight ASCII digits at `p`, or false when they are not all
// digits.
inline bool eight_digits(const char* p, std::uint64_t& value) noexcept {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  if ((((w & 0xF0F0F0F0F0F0F0F0ULL) | (((w + 0x0606060606060606ULL) & 0xF0F0F0F0F0F0F0F0ULL) >> 4))) !=
      0x3333333333333333ULL)
    return false;
  w -= 0x3030303030303030ULL;
  w = (w * 10) + (w >> 8);
  w = (((w & 0x000000FF000000FFULL) * 0x000F424000000064ULL) +
       (((w >> 16) & 0x000000FF000000FFULL) * 0x0000271000000001ULL)) >>
      32;
  value = w;
  return true;
}

}  // namespace

// Takes a run of digits into the significand while it still fits in 64
// bits. A digit that no longer fits, and every digit after it, is left out;
// `scale` is what each such integer digit (+1) or each gathered fraction
// digit (-1) adds to the decimal exponent.
void Reader::gather_digits(NumberParts& n, int scale) noexcept {
  // Largest significand to which one more digit may still be appended
  // (10 * 1844674407370955161 + 5 == 2^64 - 1).
  constexpr std::uint64_t limit = 1844674407370955161ULL;
  // Below this, eight more digits always fit.
  constexpr std::uint64_t eight_fit = 184467440736ULL;
  if (!n.truncated) {
    std::uint64_t chunk;
    while (n.significand <= eight_fit && end_ - p_ >= 8 && eight_digits(p_, chunk)) {
      n.significand = n.significand * 100000000ULL + chunk;
      if (scale < 0) n.exponent -= 8;
      p_ += 8;
    }
  }
  while (p_ != end_ && is_digit(*p_)) {
    const auto d = static_cast<unsigned>(*p_ - '0');
    if (!n.truncated && (n.significand < limit || (n.significand == limit && d <= 5))) {
      n.significand = n.significand * 10 + d;
      if (scale < 0) --n.exponent;
    } else {
      n.truncated = true;
      if (scale > 0) ++n.exponent;
    }
    ++p_;
  }
}

bool Reader::scan_number(NumberParts& n) {
  if (peek() == '-') {
    n.negative = true;
    bump();
  }
  if (p_ == end_) return fail_eof_value();
  const char first = *p_++;
  if (first == '0') {
    if (is_digit(peek())) return fail_peeked("invalid number");
  } else if (first >= '1' && first <= '9') {
    n.significand = static_cast<unsigned>(first - '0');
    gather_digits(n, +1);
  } else {
    return fail_taken("invalid number");
  }

  if (peek() == '.') {
    n.is_float = true;
    bump();
    if (p_ == end_) return fail_eof_value();
    if (!is_digit(*p_)) {
      bump();
      return fail_taken("invalid number");
    }
    gather_digits(n, -1);
  }

  const int e = peek();
  if (e == 'e' || e == 'E') {
    n.is_float = true;
    bump();
    bool negative_exponent = false;
    if (peek() == '+' || peek() == '-') {
      negative_exponent = peek() == '-';
      bump();
    }
    if (p_ == end_) return fail_eof_value();
    if (!is_digit(*p_)) {
      bump();
      return fail_taken("invalid number");
    }
    std::int64_t written = 0;
    while (p_ != end_ && is_digit(*p_)) {
      if (written < exponent_cap) written = written * 10 + (*p_ - '0');
      ++p_;
    }
    n.exponent += negative_exponent ? -written : written;
  }
  return true;
}

bool Reader::read_number(Number& out) {
  NumberParts n;
  if (!scan_number(n)) return false;

  if (!n.is_float && !n.truncated) {
    if (!n.negative) {
      out.kind = Number::Kind::unsigned_int;
      out.u = n.significand;
      return true;
    }
    constexpr std::uint64_t min_magnitude = std::uint64_t{1} << 63;
    if (n.significand != 0 && n.significand <= min_magnitude) {
      out.kind = Number::Kind::negative_int;
      out.i = n.significand == min_magnitude ? INT64_MIN : -static_cast<std::int64_t>(n.significand);
      return true;
    }
    // -0 and negatives beyond the signed range are floats.
    out.kind = Number::Kind::floating;
    out.f = -static_cast<double>(n.significand);
    return true;
  }

  // The significand to the nearest double, then one multiplication or
  // division by the nearest double to the power of ten.
  double f = static_cast<double>(n.significand);
  std::int64_t exponent = n.exponent;
  constexpr std::int64_t top = static_cast<std::int64_t>(pow10_table.size()) - 1;
  if (exponent >= 0) {
    if (exponent > top) {
      if (f != 0.0) return fail_taken("number out of range");
    } else {
      f *= pow10_table[static_cast<std::size_t>(exponent)];
      if (std::isinf(f)) return fail_taken("number out of range");
    }
  } else {
    while (exponent < -top && f != 0.0) {
      f /= 1e308;
      exponent += 308;
    }
    if (exponent >= -top) f /= pow10_table[static_cast<std::size_t>(-exponent)];
  }
  out.kind = Number::Kind::floating;
  out.f = n.negative ? -f : f;
  return true;
}

// ---- strings ----

bool Reader::hex_escape(std::uint32_t& unit) {
  if (end_ - p_ < 4) {
    p_ = end_;
    return fail_eof("EOF while parsing a string");
  }
  std::uint32_t value = 0;
  for (int k = 0; k < 4; ++k) {
    const int h = hex_value(static_cast<unsigned char>(p_[k]));
    if (h < 0) {
      p_ += 4;
      return fail_taken("invalid escape");
    }
    value = value << 4 | static_cast<std::uint32_t>(h);
  }
  p_ += 4;
  unit = value;
  return true;
}

// After the backslash. With `decode`, appends the character to scratch_ and
// insists on paired surrogates; without, checks the escape's syntax only.
bool Reader::escape(bool decode) {
  if (p_ == end_) return fail_eof("EOF while parsing a string");
  const char letter = *p_++;
  char plain_char;
  switch (letter) {
    case '"':
      plain_char = '"';
      break;
    case '\\':
      plain_char = '\\';
      break;
    case '/':
      plain_char = '/';
      break;
    case 'b':
      plain_char = '\b';
      break;
    case 'f':
      plain_char = '\f';
      break;
    case 'n':
      plain_char = '\n';
      break;
    case 'r':
      plain_char = '\r';
      break;
    case 't':
      plain_char = '\t';
      break;
    case 'u': {
      std::uint32_t unit;
      if (!hex_escape(unit)) return false;
      if (!decode) return true;
      if (unit >= 0xDC00 && unit <= 0xDFFF) return fail_taken("lone leading surrogate in hex escape");
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        // Anything but a second \u escape right after the leading one
        // fails at the byte that follows the leading escape.
        if (p_ == end_ || (*p_ == '\\' && p_ + 1 == end_)) return fail_eof("EOF while parsing a string");
        if (p_[0] != '\\' || p_[1] != 'u') return fail_at(offset() + 1, "unexpected end of hex escape");
        p_ += 2;
        std::uint32_t low;
        if (!hex_escape(low)) return false;
        if (low < 0xDC00 || low > 0xDFFF) return fail_taken("lone leading surrogate in hex escape");
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      }
      append_utf8(scratch_, unit);
      return true;
    }
    default:
      return fail_taken("invalid escape");
  }
  if (decode) scratch_.push_back(plain_char);
  return true;
}

// At a byte >= 0x80: the length of the well-formed UTF-8 sequence that
// starts here (shortest form, no surrogates, at most U+10FFFF), or 0.
std::size_t Reader::utf8_sequence_length() const noexcept {
  const auto* s = reinterpret_cast<const unsigned char*>(p_);
  const std::size_t left = static_cast<std::size_t>(end_ - p_);
  const unsigned char b0 = s[0];
  auto cont = [&](std::size_t k, unsigned char lo = 0x80, unsigned char hi = 0xBF) {
    return k < left && s[k] >= lo && s[k] <= hi;
  };
  bool ok = false;
  std::size_t n = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2, ok = cont(1);
  } else if (b0 == 0xE0) {
    n = 3, ok = cont(1, 0xA0) && cont(2);
  } else if ((b0 >= 0xE1 && b0 <= 0xEC) || b0 == 0xEE || b0 == 0xEF) {
    n = 3, ok = cont(1) && cont(2);
  } else if (b0 == 0xED) {
    n = 3, ok = cont(1, 0x80, 0x9F) && cont(2);
  } else if (b0 == 0xF0) {
    n = 4, ok = cont(1, 0x90) && cont(2) && cont(3);
  } else if (b0 >= 0xF1 && b0 <= 0xF3) {
    n = 4, ok = cont(1) && cont(2) && cont(3);
  } else if (b0 == 0xF4) {
    n = 4, ok = cont(1, 0x80, 0x8F) && cont(2) && cont(3);
  }
  return ok ? n : 0;
}

// At the opening quote. With `decode` the text is produced in `out` and
// checked as the source requires; without, the string is only scanned.
bool Reader::scan_string(bool decode, std::string_view* out) {
  bump();  // opening quote
  const bool check_utf8 = decode && check_utf8_;
  const auto& string_classes = check_utf8 ? checked_string_classes : unchecked_string_classes;
  bool bad_utf8 = false;
  bool escaped = false;
  const char* run = p_;
  for (;;) {
    // The common case: a run of bytes that need no attention, eight at a
    // time; the first word with a byte to look at tells which one it is
    // (the lowest mark is the first byte in memory on little-endian
    // machines, elsewhere the bytes are looked at one by one).
    const char* p = p_;
    for (;;) {
      if (end_ - p < 8) {
        while (p != end_ && string_classes[static_cast<unsigned char>(*p)] == plain) ++p;
        break;
      }
      const std::uint64_t mask = attention_mask(p, check_utf8);
      if (mask == 0) {
        p += 8;
        continue;
      }
      if constexpr (std::endian::native == std::endian::little) {
        p += std::countr_zero(mask) / 8;
      } else {
        while (string_classes[static_cast<unsigned char>(*p)] == plain) ++p;
      }
      break;
    }
    p_ = p;
    if (p_ == end_) return fail_eof("EOF while parsing a string");
    switch (string_classes[static_cast<unsigned char>(*p_)]) {
      case quote: {
        if (decode) {
          if (escaped) {
            scratch_.append(run, p_);
            *out = scratch_;
          } else {
            *out = std::string_view(run, static_cast<std::size_t>(p_ - run));
          }
        }
        ++p_;
        if (bad_utf8) return fail_taken("invalid unicode code point");
        return true;
      }
      case backslash:
        if (decode) {
          if (!escaped) scratch_.clear();
          escaped = true;
          scratch_.append(run, p_);
        }
        ++p_;
        if (!escape(decode)) return false;
        run = p_;
        break;
      case control:
        return fail_peeked("control character (\\u0000-\\u001F) found while parsing a string");
      case high:
        // A bad sequence still lets the scan go on to the closing quote,
        // where the error is reported.
        if (const std::size_t n = bad_utf8 ? 0 : utf8_sequence_length()) {
          p_ += n;
        } else {
          bad_utf8 = true;
          ++p_;
        }
        break;
    }
  }
}

bool Reader::read_string(std::string_view& out) { return scan_string(true, &out); }

// ---- structure ----

bool Reader::colon_missing() { return fail_peeked(p_ == end_ ? "EOF while parsing an object" : "expected `:`"); }

bool Reader::first_key_missing() {
  return fail_peeked(p_ == end_ ? "EOF while parsing an object" : "key must be a string");
}

// After a comma in an object.
bool Reader::next_key_missing() {
  switch (peek()) {
    case '}':
      return fail_peeked("trailing comma");
    case -1:
      return fail_eof_value();
    default:
      return fail_peeked("key must be a string");
  }
}

bool Reader::object_unended() {
  return fail_peeked(p_ == end_ ? "EOF while parsing an object" : "expected `,` or `}`");
}

// After a comma in an array.
bool Reader::next_element_missing() {
  if (p_ == end_) return fail_eof_value();
  return fail_peeked("trailing comma");
}

bool Reader::array_unended() { return fail_peeked(p_ == end_ ? "EOF while parsing a list" : "expected `,` or `]`"); }

// Skipped values may nest without limit, so open brackets live on an
// explicit stack instead of the call stack.
bool Reader::skip_value() {
  std::string& open = skip_stack_;
  open.clear();
  for (;;) {
    // A value starts here.
    skip_ws();
    switch (peek()) {
      case -1:
        return fail_eof_value();
      case '"':
        if (!scan_string(false, nullptr)) return false;
        break;
      case 'n':
        if (!read_literal("null")) return false;
        break;
      case 't':
        if (!read_literal("true")) return false;
        break;
      case 'f':
        if (!read_literal("false")) return false;
        break;
      case '[': {
        bump();
        bool has_element;
        if (!array_first(has_element)) return false;
        if (has_element) {
          open.push_back('[');
          continue;
        }
        break;
      }
      case '{': {
        bump();
        bool has_key;
        if (!object_first(has_key)) return false;
        if (has_key) {
          if (!scan_string(false, nullptr) || !object_colon()) return false;
          open.push_back('{');
          continue;
        }
        break;
      }
      default:
        if (peek() == '-' || is_digit(peek())) {
          NumberParts ignored;
          if (!scan_number(ignored)) return false;
          break;
        }
        return fail_peeked("expected value");
    }
    // A value ended: close what it ends, or go on to the next element.
    for (;;) {
      if (open.empty()) return true;
      bool more;
      if (open.back() == '[') {
        if (!array_next(more)) return false;
      } else {
        if (!object_next(more)) return false;
        if (more && (!scan_string(false, nullptr) || !object_colon())) return false;
      }
      if (more) break;
      open.pop_back();
    }
  }
}

bool Reader::finish() {
  skip_ws();
  if (p_ != end_) return fail_peeked("trailing characters");
  return true;
}

// ---- typed-reader helpers ----

bool Reader::invalid_type(std::string_view expected) {
  skip_ws();
  std::string unexpected;
  switch (peek()) {
    case -1:
      return fail_eof_value();
    case 'n':
      if (!read_literal("null")) return false;
      unexpected = "null";
      break;
    case 't':
      if (!read_literal("true")) return false;
      unexpected = "boolean `true`";
      break;
    case 'f':
      if (!read_literal("false")) return false;
      unexpected = "boolean `false`";
      break;
    case '"': {
      std::string_view text;
      if (!read_string(text)) return false;
      unexpected = unexpected_string(text);
      break;
    }
    case '[':
      return fail_taken("invalid type: sequence, expected " + std::string(expected));
    case '{':
      return fail_taken("invalid type: map, expected " + std::string(expected));
    default: {
      if (peek() != '-' && !is_digit(peek())) return fail_peeked("expected value");
      Number n;
      if (!read_number(n)) return false;
      unexpected = unexpected_number(n);
      break;
    }
  }
  return fail_taken("invalid type: " + unexpected + ", expected " + std::string(expected));
}

// ---- float layout ----

void append_f64(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  if (value == 0.0) {
    out += std::signbit(value) ? "-0.0" : "0.0";
    return;
  }
  // Shortest round-trip digits in scientific form: "d.ddde[+-]xx".
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific);
  const std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
  const std::size_t e_pos = sci.find('e');
  char digits[24];
  int n = 0;
  for (std::size_t k = 0; k < e_pos; ++k)
    if (sci[k] != '.') digits[n++] = sci[k];
  while (n > 1 && digits[n - 1] == '0') --n;
  int sci_exp = 0;
  std::from_chars(sci.data() + e_pos + (sci[e_pos + 1] == '+' ? 2 : 1), sci.data() + sci.size(), sci_exp);
  const int k = sci_exp + 1;  // position of the decimal point after the first digit
  const int e = k - n;        // value = digits * 10^e

  if (value < 0) out.push_back('-');
  if (e >= 0 && k <= 16) {
    out.append(digits, static_cast<std::size_t>(n));
    out.append(static_cast<std::size_t>(e), '0');
    out += ".0";
  } else if (k >= 1 && k <= 16) {
    out.append(digits, static_cast<std::size_t>(k));
    out.push_back('.');
    out.append(digits + k, static_cast<std::size_t>(n - k));
  } else if (k >= -4 && k <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-k), '0');
    out.append(digits, static_cast<std::size_t>(n));
  } else {
    out.push_back(digits[0]);
    if (n > 1) {
      out.push_back('.');
      out.append(digits + 1, static_cast<std::size_t>(n - 1));
    }
    out.push_back('e');
    out += std::to_string(k - 1);
  }
}

std::string format_f64(double value) {
  std::string s;
  append_f64(s, value);
  return s;
}

}  // namespace zephlar::json
