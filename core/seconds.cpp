#include "core/seconds.hpp"

#include <cmath>
#include <cstdint>

namespace zephlar {

unsigned __int128 nanoseconds_in_seconds(double seconds) noexcept {
  if (!(seconds > 0.0)) return 0;
  // seconds = m * 2^e exactly, with m a 53-bit integer, so the count is
  // m * 10^9 * 2^e: below 2^83 before the shift and below 2^94 after it.
  int exponent = 0;
  const double mantissa = std::frexp(seconds, &exponent);
  const auto m = static_cast<std::uint64_t>(std::ldexp(mantissa, 53));
  const int e = exponent - 53;
  using u128 = unsigned __int128;
  const u128 scaled = static_cast<u128>(m) * 1'000'000'000u;
  if (e >= 0) return scaled << e;
  const int shift = -e;
  if (shift >= 128) return 0;  // far below half a nanosecond
  u128 count = scaled >> shift;
  const u128 remainder = scaled - (count << shift);
  const u128 half = static_cast<u128>(1) << (shift - 1);
  if (remainder > half || (remainder == half && (count & 1) != 0)) ++count;
  return count;
}

}  // namespace zephlar
