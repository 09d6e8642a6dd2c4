#include "core/client/ticker.hpp"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <utility>

namespace zephlar::client {

namespace {

bool is_ascii(std::string_view text) noexcept {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

template <class T>
std::vector<T> retain_active(std::vector<T> list) {
  std::erase_if(list, [](const T& entry) { return entry.is_active != true; });
  return list;
}

}  // namespace

std::string to_upper_full(std::string_view text) {
  if (is_ascii(text)) {
    // In ASCII only a to z have an upper-case mapping, and it is one byte.
    std::string out(text);
    for (char& c : out) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
  }
  icu::UnicodeString unicode =
      icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  // The root locale: no Turkish dotted I or Lithuanian rules, only the
  // unconditional mappings of the character database.
  unicode.toUpper(icu::Locale::getRoot());
  std::string out;
  unicode.toUTF8String(out);
  return out;
}

std::optional<models::Asset> find_asset_in_list(std::vector<models::Asset> assets, std::string_view upper_ticker) {
  for (models::Asset& asset : assets) {
    if (to_upper_full(asset.ticker) == upper_ticker) return std::move(asset);
  }
  return std::nullopt;
}

std::string pair_ticker(const models::TradingPair& pair) {
  std::string ticker;
  ticker.reserve(pair.base.ticker.size() + 1 + pair.quote.ticker.size());
  ticker += pair.base.ticker;
  ticker += '/';
  ticker += pair.quote.ticker;
  return ticker;
}

std::optional<models::TradingPair> find_pair_in_list(std::vector<models::TradingPair> pairs,
                                                     std::string_view upper_ticker) {
  for (models::TradingPair& pair : pairs) {
    if (to_upper_full(pair_ticker(pair)) == upper_ticker) return std::move(pair);
  }
  return std::nullopt;
}

std::vector<models::Asset> retain_active_assets(std::vector<models::Asset> assets) {
  return retain_active(std::move(assets));
}

std::vector<models::TradingPair> retain_active_pairs(std::vector<models::TradingPair> pairs) {
  return retain_active(std::move(pairs));
}

}  // namespace zephlar::client
