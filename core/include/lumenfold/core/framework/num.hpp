// Small numeric helpers shared by the indicators.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

// LUMENFOLD_PORTABLE_BLENDS builds the portable forms of the blends below on
// x86 too, for the test run that checks them (tools/hardening.sh portable).
#if defined(__SSE2__) && !defined(LUMENFOLD_PORTABLE_BLENDS)
#include <emmintrin.h>
#endif

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

// c ? a : b computed with bit masks, never a branch: for selections on data
// that a branch predictor cannot learn.
inline double select(bool c, double a, double b) noexcept {
    const std::uint64_t mask = std::uint64_t{0} - static_cast<std::uint64_t>(c);
    return std::bit_cast<double>((std::bit_cast<std::uint64_t>(a) & mask) | (std::bit_cast<std::uint64_t>(b) & ~mask));
}

// Choices that change unpredictably from one bar to the next (which
// true-range term wins, which move is directional) made without a branch: the
// comparisons give all-ones or all-zero masks in a vector register and the
// result is blended from them. A compiler may turn a ternary, or even the
// bit masks of select(), back into a conditional jump; it keeps these. Each
// gives the bits of the plain form named in its comment.
#if defined(__SSE2__) && !defined(LUMENFOLD_PORTABLE_BLENDS)

namespace detail {
inline __m128d low_lane(double x) noexcept { return _mm_set_sd(x); }
// m ? a : b for an all-ones or all-zero mask m.
inline __m128d blend(__m128d m, __m128d a, __m128d b) noexcept {
    return _mm_or_pd(_mm_and_pd(m, a), _mm_andnot_pd(m, b));
}
}  // namespace detail

// max_num(a, b) for a b that is never -0 (an absolute value):
// (b >= a || a != a) ? b : a, so b wins ties (which also ranks +0 above -0),
// a NaN operand is ignored and b is kept when both are NaN.
inline double max_num_abs(double a, double b) noexcept {
    const __m128d va = detail::low_lane(a), vb = detail::low_lane(b);
    const __m128d take_a = _mm_and_pd(_mm_cmpnle_sd(va, vb), _mm_cmpord_sd(va, va));
    return _mm_cvtsd_f64(detail::blend(take_a, va, vb));
}

// (x > y && x > 0.0) ? x : 0.0, a NaN x or y giving 0.
inline double positive_excess(double x, double y) noexcept {
    const __m128d vx = detail::low_lane(x);
    const __m128d keep = _mm_and_pd(_mm_cmpgt_sd(vx, detail::low_lane(y)), _mm_cmpgt_sd(vx, _mm_setzero_pd()));
    return _mm_cvtsd_f64(_mm_and_pd(keep, vx));
}

// max_num(a, b) and min_num(a, b), bit for bit: a where it is the larger
// (smaller) or b is NaN, b where it is or a is NaN, and for equal operands
// their bits and-ed (or-ed), which ranks +0 above -0.
inline double max_num_masked(double a, double b) noexcept {
    const __m128d va = detail::low_lane(a), vb = detail::low_lane(b);
    const __m128d take_a = _mm_and_pd(_mm_or_pd(_mm_cmpgt_sd(va, vb), _mm_cmpunord_sd(vb, vb)), _mm_cmpord_sd(va, va));
    // b, or a & b where the two are equal.
    const __m128d other = _mm_and_pd(vb, _mm_or_pd(va, _mm_cmpneq_sd(va, vb)));
    return _mm_cvtsd_f64(detail::blend(take_a, va, other));
}

inline double min_num_masked(double a, double b) noexcept {
    const __m128d va = detail::low_lane(a), vb = detail::low_lane(b);
    const __m128d take_a = _mm_and_pd(_mm_or_pd(_mm_cmplt_sd(va, vb), _mm_cmpunord_sd(vb, vb)), _mm_cmpord_sd(va, va));
    // b, or a | b where the two are equal.
    const __m128d other = _mm_or_pd(vb, _mm_and_pd(va, _mm_cmpeq_sd(va, vb)));
    return _mm_cvtsd_f64(detail::blend(take_a, va, other));
}

#else

inline double max_num_abs(double a, double b) noexcept { return select(!(a <= b) & (a == a), a, b); }
inline double positive_excess(double x, double y) noexcept { return select((x > y) & (x > 0.0), x, 0.0); }
inline double max_num_masked(double a, double b) noexcept { return max_num(a, b); }
inline double min_num_masked(double a, double b) noexcept { return min_num(a, b); }

#endif

// Period converted for a formula.
inline double to_f64(std::uint64_t n) noexcept { return static_cast<double>(n); }

}  // namespace lumenfold::core
