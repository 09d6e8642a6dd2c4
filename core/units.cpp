#include "core/units.hpp"

#include <cmath>
#include <limits>

#include "core/json/pow10.hpp"

namespace zephlar {

double precision_scale(std::uint8_t precision) noexcept {
  // The table holds each power as a decimal literal, so every entry is the
  // double nearest to the power (exact up to 10^22).
  static_assert(json::pow10_table.size() > 255);
  return json::pow10_table[precision];
}

double core_to_display_units(std::int64_t amount, std::uint8_t precision) noexcept {
  return static_cast<double>(amount) / precision_scale(precision);
}

std::int64_t core_to_smallest_units(double amount, std::uint8_t precision) noexcept {
  // std::round rounds halves away from zero and acts on the product as
  // computed, so 1.005 * 100 = 100.49999999999999 goes down to 100.
  const double rounded = std::round(amount * precision_scale(precision));
  if (std::isnan(rounded)) return 0;
  // 2^63 is exactly representable; every double below it and at or above
  // -2^63 converts without loss.
  constexpr double two_to_63 = 9223372036854775808.0;
  if (rounded >= two_to_63) return std::numeric_limits<std::int64_t>::max();
  if (rounded < -two_to_63) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(rounded);
}

}  // namespace zephlar
