// Small numeric helpers shared by the indicators.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace lumenfold::core {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Starting values of running window extremes.
inline constexpr double kMaxF64 = 1.7976931348623157e308;
// 1.414 * pi: the constant of the two-pole filter family.
inline constexpr double kTwoPoleArg = 4.442212012175967;
inline constexpr double kPi = 3.141592653589793;
inline constexpr double kDegToRad = 0.017453292519943295;
inline constexpr double kRadToDeg = 57.29577951308232;
inline constexpr double kTwoPi = 6.283185307179586;

// IEEE 754-2008 maxNum/minNum: a NaN operand is ignored. Unlike a bare
// std::fmax, +0 is treated as strictly greater than -0, so the result does not
// depend on the argument order when both are zeros.
inline double max_num(double a, double b) noexcept {
    if (std::isnan(a)) return b;
    if (std::isnan(b)) return a;
    if (a == b) return std::signbit(a) ? b : a;
    return a > b ? a : b;
}

inline double min_num(double a, double b) noexcept {
    if (std::isnan(a)) return b;
    if (std::isnan(b)) return a;
    if (a == b) return std::signbit(a) ? a : b;
    return a < b ? a : b;
}

// Truncation toward zero into u64, saturating: negative and NaN give 0,
// values past the u64 range give its maximum.
inline std::uint64_t saturating_u64(double v) noexcept {
    if (!(v > 0.0)) return 0;
    if (v >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(v);
}

// Truncation toward zero into i32, saturating at the range ends; NaN gives 0.
inline std::int32_t saturating_i32(double v) noexcept {
    if (std::isnan(v)) return 0;
    if (v >= 2147483648.0) return std::numeric_limits<std::int32_t>::max();
    if (v <= -2147483649.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

// Period converted for a formula.
inline double to_f64(std::uint64_t n) noexcept { return static_cast<double>(n); }

}  // namespace lumenfold::core
