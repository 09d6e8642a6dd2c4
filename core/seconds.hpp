// Seconds given as a 64-bit float, counted exactly in nanoseconds.
#pragma once

namespace zephlar {

// The whole nanoseconds in `seconds`, which must lie in [0, 2^64): rounded to
// the nearest count, ties to the even one. The count is formed exactly in 128
// bits (it stays below 2^94), so no range of inputs loses precision the way
// a multiplication in double would.
unsigned __int128 nanoseconds_in_seconds(double seconds) noexcept;

// 2^64, the first number of seconds out of range.
inline constexpr double two_to_64_seconds = 18446744073709551616.0;

}  // namespace zephlar
