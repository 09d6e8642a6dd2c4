#include "ffi/zeph_error.hpp"

#include <type_traits>
#include <utility>
#include <variant>

#include <unicode/uchar.h>

#include "core/http/utf8_lossy.hpp"

namespace zephlar::ffi {

namespace {

struct FromCore {
  const CoreError& whole;
  ZephError operator()(const CoreError::Network& e) const { return ZephError::network(e.message); }
  ZephError operator()(const CoreError::Api& e) const { return ZephError::api(e.message); }
  ZephError operator()(const CoreError::Validation& e) const { return ZephError::validation(e.message); }
  ZephError operator()(const CoreError::Timeout&) const { return ZephError::timeout(); }
  ZephError operator()(const CoreError::WebSocket& e) const { return ZephError::websocket(e.message); }
  ZephError operator()(const CoreError::NotFound& e) const {
    return ZephError::not_found(e.resource + " not found: " + e.id);
  }
  ZephError operator()(const CoreError::NodeNotConfigured&) const { return ZephError::node_not_configured(); }
  // NotImplemented, Json, InvalidUrl, Config, Swap, Internal: the whole
  // display text of the core error.
  template <class Other>
  ZephError operator()(const Other&) const {
    return ZephError::internal(whole.to_string());
  }
};

}  // namespace

ZephError ZephError::from_core_error(CoreError error) { return std::visit(FromCore{error}, error.variant()); }

std::string_view kind_name(ZephError::Kind kind) noexcept {
  switch (kind) {
    case ZephError::Kind::NetworkError:
      return "NetworkError";
    case ZephError::Kind::ApiError:
      return "ApiError";
    case ZephError::Kind::ValidationError:
      return "ValidationError";
    case ZephError::Kind::TimeoutError:
      return "TimeoutError";
    case ZephError::Kind::WebSocketError:
      return "WebSocketError";
    case ZephError::Kind::NotFoundError:
      return "NotFoundError";
    case ZephError::Kind::NodeNotConfigured:
      return "NodeNotConfigured";
    case ZephError::Kind::InternalError:
      return "InternalError";
  }
  return "InternalError";
}

std::string ZephError::display() const {
  switch (kind_) {
    case Kind::NetworkError:
      return "Network error: " + message_;
    case Kind::ApiError:
      return "API error: " + message_;
    case Kind::ValidationError:
      return "Validation error: " + message_;
    case Kind::TimeoutError:
      return "Timeout error";
    case Kind::WebSocketError:
      return "WebSocket error: " + message_;
    case Kind::NotFoundError:
      return "Not found: " + message_;
    case Kind::NodeNotConfigured:
      return "Node not configured";
    case Kind::InternalError:
      return "Internal error: " + message_;
  }
  return "Internal error: " + message_;
}

std::string ZephError::debug() const {
  std::string out(kind_name(kind_));
  if (!has_message()) return out;
  out += " { message: ";
  out += quote_debug(message_);
  out += " }";
  return out;
}

namespace {

// Not printable: control, format, surrogate, private-use and unassigned
// characters, and the separators other than the space itself.
bool is_printable(char32_t c) {
  if (c == U' ') return true;
  switch (u_charType(static_cast<UChar32>(c))) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_SURROGATE:
    case U_PRIVATE_USE_CHAR:
    case U_UNASSIGNED:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
    case U_SPACE_SEPARATOR:
      return false;
    default:
      return true;
  }
}

void append_hex_escape(std::string& out, char32_t c) {
  static constexpr char digits[] = "0123456789abcdef";
  char buffer[8];
  int n = 0;
  do {
    buffer[n++] = digits[c & 0xF];
    c >>= 4;
  } while (c != 0);
  out += "\\u{";
  while (n > 0) out += buffer[--n];
  out += '}';
}

}  // namespace

std::string quote_debug(std::string_view text) {
  // Well-formed from here on: every ill-formed sequence is U+FFFD now.
  const std::string utf8 = http::utf8_lossy(text);
  std::string out;
  out.reserve(utf8.size() + 2);
  out += '"';
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t c = length == 1   ? lead
                 : length == 2 ? lead & 0x1F
                 : length == 3 ? lead & 0x0F
                               : lead & 0x07;
    for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    const std::string_view bytes(utf8.data() + i, length);
    i += length;
    switch (c) {
      case U'"':
        out += "\\\"";
        continue;
      case U'\\':
        out += "\\\\";
        continue;
      case U'\n':
        out += "\\n";
        continue;
      case U'\r':
        out += "\\r";
        continue;
      case U'\t':
        out += "\\t";
        continue;
      case U'\0':
        out += "\\0";
        continue;
      default:
        break;
    }
    if (!is_printable(c) || u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_GRAPHEME_EXTEND)) {
      append_hex_escape(out, c);
    } else {
      out += bytes;
    }
  }
  out += '"';
  return out;
}

}  // namespace zephlar::ffi
