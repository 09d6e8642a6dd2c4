// The "{unexpected}" part of type and value errors: what the reader found.
#pragma once

#include <string>
#include <string_view>

#include "core/json/reader.hpp"

namespace zephlar::json {

// "integer `5`", "integer `-5`" or "floating point `1.5`".
std::string unexpected_number(const Number& n);
// "string " and the text quoted with its special characters escaped.
std::string unexpected_string(std::string_view text);

}  // namespace zephlar::json
