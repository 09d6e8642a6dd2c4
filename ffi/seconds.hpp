// Seconds handed in by a host as a 64-bit float, turned into a time span of
// whole nanoseconds.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

namespace zephlar::ffi {

// A time span of whole nanoseconds that reaches up to (not including) 2^64
// seconds, the range a host may ask for.
struct SecondsSpan {
  std::uint64_t seconds = 0;
  std::uint32_t nanos = 0;  // below 10^9

  // The span in the standard nanosecond type, held at its largest value
  // (about 292 years) for longer spans.
  std::chrono::nanoseconds to_nanoseconds() const noexcept;

  bool operator==(const SecondsSpan&) const = default;
};

inline constexpr std::string_view negative_seconds_message =
    "cannot convert float seconds to Duration: value is negative";
inline constexpr std::string_view invalid_seconds_message =
    "cannot convert float seconds to Duration: value is either too big or NaN";

// Rounds to the nearest nanosecond, ties to the even count; -0.0 counts as
// 0. A negative value (negative infinity included) is an InternalFault with
// negative_seconds_message; NaN, positive infinity and 2^64 seconds or more
// are an InternalFault with invalid_seconds_message.
SecondsSpan seconds_to_span(double seconds);

}  // namespace zephlar::ffi
