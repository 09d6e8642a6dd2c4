// The reason phrase shown for an HTTP status: always derived from the code,
// never taken from the server's status line.
#pragma once

#include <cstdint>
#include <string_view>

namespace zephlar::http {

// The registered phrase of the code (with the customary wording for 413,
// 418, 422 and 510); "Unknown error" for every code outside the table.
std::string_view reason_phrase(std::uint16_t status) noexcept;

}  // namespace zephlar::http
