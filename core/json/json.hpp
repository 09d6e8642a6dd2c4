// The entry points of the JSON codec: a whole input read into one value of
// a described type, and any such value written as compact JSON text.
#pragma once

#include <string>
#include <string_view>

#include "core/json/codec.hpp"
#include "core/json/enumeration.hpp"
#include "core/json/read_error.hpp"
#include "core/json/reader.hpp"
#include "core/json/record.hpp"
#include "core/json/value.hpp"
#include "core/json/writer.hpp"
#include "core/result.hpp"

namespace zephlar::json {

template <Codable T>
Result<T, ReadError> read_json(std::string_view input, Source source) {
  Reader r(input, source);
  T value{};
  if (!Codec<T>::read(r, value) || !r.finish()) return Err(r.take_error());
  return value;
}

// The bytes of an answer body, which need not be UTF-8 outside the strings
// that are read.
template <Codable T>
Result<T, ReadError> from_response_body(std::string_view bytes) {
  return read_json<T>(bytes, Source::response_body);
}

// A JSON text handed in by a host (valid UTF-8 already).
template <Codable T>
Result<T, ReadError> from_caller_text(std::string_view text) {
  return read_json<T>(text, Source::caller_text);
}

template <Codable T>
void append_json(std::string& out, const T& value) {
  Writer w(out);
  Codec<T>::write(w, value);
}

template <Codable T>
std::string to_json(const T& value) {
  std::string out;
  append_json(out, value);
  return out;
}

}  // namespace zephlar::json
