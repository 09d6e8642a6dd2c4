#include "ffi/ws_client_guard.hpp"

#include <exception>
#include <string_view>

#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/field.hpp>
#include <boost/beast/http/parser.hpp>

namespace zephlar::ffi {

namespace http = boost::beast::http;

struct UpgradeAnswerCheck::Parser {
  http::response_parser<http::empty_body> parser;
};

UpgradeAnswerCheck::UpgradeAnswerCheck() : parser_(std::make_unique<Parser>()) {}

UpgradeAnswerCheck::~UpgradeAnswerCheck() = default;

namespace {

bool blank(std::string_view value) { return value.find_first_not_of(" \t") == std::string_view::npos; }

// A field that is present with a value names something this client did not
// ask for.
bool names_anything(const http::response_header<>& header, http::field field) {
  const auto [first, last] = header.equal_range(field);
  for (auto it = first; it != last; ++it) {
    if (!blank(it->value())) return true;
  }
  return false;
}

}  // namespace

UpgradeAnswerCheck::Verdict UpgradeAnswerCheck::add(const void* data, std::size_t size) noexcept {
  try {
    // The parser wants the whole header in one piece: it is given all the
    // bytes so far on every call until the header is complete.
    seen_.append(static_cast<const char*>(data), size);
    boost::system::error_code ec;
    parser_->parser.put(boost::asio::buffer(seen_), ec);
    if (!parser_->parser.is_header_done()) {
      return ec == http::error::need_more ? Verdict::need_more : Verdict::refused;
    }
    const http::response_header<>& header = parser_->parser.get();
    if (header.result_int() != 101) return Verdict::refused;
    if (names_anything(header, http::field::sec_websocket_protocol)) return Verdict::refused;
    if (names_anything(header, http::field::sec_websocket_extensions)) return Verdict::refused;
    return Verdict::accepted;
  } catch (const std::exception&) {
    // Out of memory while keeping the bytes: the connection cannot go on.
    return Verdict::refused;
  }
}

}  // namespace zephlar::ffi
