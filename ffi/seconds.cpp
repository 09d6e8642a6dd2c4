#include "ffi/seconds.hpp"

#include <cmath>
#include <limits>
#include <string>

#include "core/seconds.hpp"
#include "ffi/internal_fault.hpp"

namespace zephlar::ffi {

std::chrono::nanoseconds SecondsSpan::to_nanoseconds() const noexcept {
  using rep = std::chrono::nanoseconds::rep;
  constexpr auto max = std::numeric_limits<rep>::max();
  if (seconds > static_cast<std::uint64_t>(max / 1'000'000'000)) return std::chrono::nanoseconds::max();
  const rep whole = static_cast<rep>(seconds) * 1'000'000'000;
  if (whole > max - static_cast<rep>(nanos)) return std::chrono::nanoseconds::max();
  return std::chrono::nanoseconds(whole + static_cast<rep>(nanos));
}

SecondsSpan seconds_to_span(double seconds) {
  if (std::isnan(seconds)) throw InternalFault(std::string(invalid_seconds_message));
  if (seconds < 0.0) throw InternalFault(std::string(negative_seconds_message));
  if (!(seconds < two_to_64_seconds)) throw InternalFault(std::string(invalid_seconds_message));
  const auto total = nanoseconds_in_seconds(seconds);
  SecondsSpan span;
  span.seconds = static_cast<std::uint64_t>(total / 1'000'000'000u);
  span.nanos = static_cast<std::uint32_t>(total % 1'000'000'000u);
  return span;
}

}  // namespace zephlar::ffi
