#include "core/units.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

namespace zephlar {
namespace {

constexpr std::int64_t i64_max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t i64_min = std::numeric_limits<std::int64_t>::min();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

TEST(UnitsTest, ScaleIsExactUpTo18AndNearestAbove) {
  std::int64_t power = 1;
  for (int p = 0; p <= 18; ++p) {
    EXPECT_EQ(precision_scale(static_cast<std::uint8_t>(p)), static_cast<double>(power)) << p;
    if (p < 18) power *= 10;
  }
  // Above that, the nearest double to the power, as the correctly rounded
  // decimal reading gives it.
  for (int p = 19; p <= 255; ++p) {
    EXPECT_EQ(precision_scale(static_cast<std::uint8_t>(p)), std::strtod(("1e" + std::to_string(p)).c_str(), nullptr))
        << p;
  }
}

struct DisplayCase {
  std::int64_t amount;
  std::uint8_t precision;
  double expected;
};

TEST(UnitsTest, ToDisplayUnits) {
  const DisplayCase cases[] = {
      {150, 2, 1.5},
      {-1, 2, -0.01},
      {0, 8, 0.0},
      {100'000'000, 8, 1.0},
      {1, 8, 1e-8},
      {123456789, 0, 123456789.0},
      {-42, 0, -42.0},
      {i64_max, 0, 9223372036854775807.0},
      {i64_min, 0, -9223372036854775808.0},
      {5, 19, 5e-19},
      {1, 18, 1e-18},
      {7, 255, 7.0 / 1e255},
      {i64_max, 255, 9223372036854775807.0 / 1e255},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(core_to_display_units(c.amount, c.precision), c.expected)
        << c.amount << " at precision " << int(c.precision);
  }
  // The sign survives even where the quotient underflows.
  EXPECT_TRUE(std::signbit(core_to_display_units(-7, 255)));
  EXPECT_TRUE(std::signbit(core_to_display_units(-5, 19)));
}

struct SmallestCase {
  double amount;
  std::uint8_t precision;
  std::int64_t expected;
};

TEST(UnitsTest, ToSmallestUnits) {
  const SmallestCase cases[] = {
      {1.5, 2, 150},
      {0.1, 8, 10'000'000},
      // 1.005 * 100 is 100.49999999999999 as a double: rounds down.
      {1.005, 2, 100},
      // Halves go away from zero.
      {0.5, 0, 1},
      {-0.5, 0, -1},
      {2.5, 0, 3},
      {-2.5, 0, -3},
      {1.4999999999999998, 0, 1},
      {-1.4999999999999998, 0, -1},
      {0.0, 8, 0},
      {-0.0, 8, 0},
      {-1.5, 2, -150},
      {21'000'000.0, 8, 2'100'000'000'000'000},
      // Saturation.
      {nan, 8, 0},
      {inf, 0, i64_max},
      {-inf, 0, i64_min},
      {1e300, 0, i64_max},
      {-1e300, 0, i64_min},
      {1.0, 19, i64_max},
      {-1.0, 19, i64_min},
      {9223372036854775808.0, 0, i64_max},              // 2^63
      {9223372036854774784.0, 0, 9223372036854774784},  // the largest double below 2^63
      {-9223372036854775808.0, 0, i64_min},             // -2^63 itself converts
      {-9223372036854777856.0, 0, i64_min},             // the next double below it
      {1.0, 255, i64_max},
      {-1.0, 255, i64_min},
      {0.0, 255, 0},
      {1e-230, 255, i64_max},
      {-1e-230, 255, i64_min},
      {1e-240, 250, 10'000'000'000},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(core_to_smallest_units(c.amount, c.precision), c.expected)
        << c.amount << " at precision " << int(c.precision);
  }
}

TEST(UnitsTest, SignIsKeptForEveryPrecision) {
  for (int p = 0; p <= 255; ++p) {
    const auto precision = static_cast<std::uint8_t>(p);
    EXPECT_LE(core_to_display_units(-3, precision), 0.0) << p;
    EXPECT_TRUE(std::signbit(core_to_display_units(-3, precision))) << p;
    EXPECT_GT(core_to_smallest_units(3.0, precision), 0) << p;
    EXPECT_LT(core_to_smallest_units(-3.0, precision), 0) << p;
  }
}

TEST(UnitsTest, RoundTripsWholeSmallestAmounts) {
  for (std::int64_t amount : {std::int64_t{1}, std::int64_t{99}, std::int64_t{12'345'678}, std::int64_t{-250}}) {
    for (std::uint8_t precision : {std::uint8_t{0}, std::uint8_t{2}, std::uint8_t{6}, std::uint8_t{8}}) {
      EXPECT_EQ(core_to_smallest_units(core_to_display_units(amount, precision), precision), amount)
          << amount << " at precision " << int(precision);
    }
  }
}

}  // namespace
}  // namespace zephlar
