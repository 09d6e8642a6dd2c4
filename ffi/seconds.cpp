#include "ffi/seconds.hpp"

#include <cmath>
#include <limits>
#include <string>

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
  constexpr double two_to_64 = 18446744073709551616.0;
  if (!(seconds < two_to_64)) throw InternalFault(std::string(invalid_seconds_message));
  if (seconds == 0.0) return {};

  // seconds = m * 2^e exactly, with m a 53-bit integer. The nanosecond count
  // m * 10^9 * 2^e is formed exactly in 128 bits (below 2^94 since seconds
  // is below 2^64), then rounded to the nearest, ties to even.
  int exponent = 0;
  const double mantissa = std::frexp(seconds, &exponent);
  const auto m = static_cast<std::uint64_t>(std::ldexp(mantissa, 53));
  const int e = exponent - 53;
  using u128 = unsigned __int128;
  const u128 scaled = static_cast<u128>(m) * 1'000'000'000u;
  u128 total = 0;
  if (e >= 0) {
    total = scaled << e;
  } else if (-e < 128) {
    const int shift = -e;
    total = scaled >> shift;
    const u128 remainder = scaled - (total << shift);
    const u128 half = static_cast<u128>(1) << (shift - 1);
    if (remainder > half || (remainder == half && (total & 1) != 0)) ++total;
  }  // else far below half a nanosecond: zero.

  SecondsSpan span;
  span.seconds = static_cast<std::uint64_t>(total / 1'000'000'000u);
  span.nanos = static_cast<std::uint32_t>(total % 1'000'000'000u);
  return span;
}

}  // namespace zephlar::ffi
