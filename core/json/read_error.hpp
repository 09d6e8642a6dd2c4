// The one error a JSON reading can end with: a message and the line and
// column (in bytes) of the byte it points at.
#pragma once

#include <cstdint>
#include <string>

namespace zephlar::json {

struct ReadError {
  std::string message;
  std::uint64_t line = 0;
  std::uint64_t column = 0;

  // "{message} at line {line} column {column}"
  std::string text() const;

  bool operator==(const ReadError&) const = default;
};

}  // namespace zephlar::json
