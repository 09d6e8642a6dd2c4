// Conversion of amounts between an asset's smallest units (integers) and its
// display units (floats), by the asset's precision: the number of decimal
// places of a display amount. Pure functions; they never fail.
#pragma once

#include <cstdint>

namespace zephlar {

// Ten to the power of `precision` as a double: exact for 0 to 18 (10^18 still
// fits a signed 64-bit integer), the nearest double above that.
double precision_scale(std::uint8_t precision) noexcept;

// amount / 10^precision in double arithmetic, not rounded to decimal places.
double core_to_display_units(std::int64_t amount, std::uint8_t precision) noexcept;

// amount * 10^precision in double arithmetic, rounded to an integral value
// with halves away from zero, then converted with saturation: NaN gives 0,
// 2^63 and above the largest value, below -2^63 the smallest.
std::int64_t core_to_smallest_units(double amount, std::uint8_t precision) noexcept;

}  // namespace zephlar
