#include "core/json/unexpected.hpp"

#include <cstdio>

namespace zephlar::json {

std::string unexpected_number(const Number& n) {
  switch (n.kind) {
    case Number::Kind::unsigned_int:
      return "integer `" + std::to_string(n.u) + "`";
    case Number::Kind::negative_int:
      return "integer `" + std::to_string(n.i) + "`";
    case Number::Kind::floating:
      break;
  }
  return "floating point `" + format_f64(n.f) + "`";
}

std::string unexpected_string(std::string_view text) {
  std::string out = "string \"";
  out.reserve(out.size() + text.size() + 1);
  auto hex = [&](unsigned cp) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "\\u{%x}", cp);
    out += buf;
  };
  for (std::size_t k = 0; k < text.size(); ++k) {
    const auto c = static_cast<unsigned char>(text[k]);
    switch (c) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case '\t': out += "\\t"; continue;
      case '\r': out += "\\r"; continue;
      case '\n': out += "\\n"; continue;
      case '\0': out += "\\0"; continue;
      default: break;
    }
    if (c < 0x20 || c == 0x7F) {
      hex(c);
    } else if (c == 0xC2 && k + 1 < text.size() && static_cast<unsigned char>(text[k + 1]) < 0xA0 &&
               static_cast<unsigned char>(text[k + 1]) >= 0x80) {
      // U+0080..U+009F, the second block of control characters.
      hex(static_cast<unsigned char>(text[k + 1]));
      ++k;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  out.push_back('"');
  return out;
}

}  // namespace zephlar::json
