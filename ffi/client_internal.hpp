// What the method files of ZephClient share: writing results as compact JSON
// and reading the JSON-text arguments. Not part of the wrapper's interface.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "core/json/json.hpp"
#include "ffi/zeph_client.hpp"

namespace zephlar::ffi {

template <class T>
ZephResult<std::string> ZephClient::run_json(Task<T> task) const {
  auto result = run(std::move(task));
  if (!result) return Err(std::move(result).error());
  // Sized after the thread's previous text of the same type, which spares
  // growing the buffer step by step (up to a bound, so that one large
  // answer does not make every later small one reserve as much).
  constexpr std::size_t largest_reserve = 64 * 1024;
  thread_local std::size_t last_size = 0;
  std::string text;
  text.reserve(last_size);
  json::append_json(text, result.value());
  last_size = std::min(text.size(), largest_reserve);
  return text;
}

// A caller's JSON text read as one value of T; otherwise ValidationError
// "{prefix}{the reader's error text}".
template <class T>
ZephResult<T> read_json_argument(std::string_view text, std::string_view prefix) {
  auto read = json::from_caller_text<T>(text);
  if (!read) return Err(ZephError::validation(std::string(prefix) + read.error().text()));
  return std::move(read).value();
}

inline constexpr std::string_view invalid_request_json = "Invalid request JSON: ";
inline constexpr std::string_view invalid_quote_json = "Invalid quote JSON: ";

}  // namespace zephlar::ffi
