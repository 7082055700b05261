// The lane kernels of the channels family, compiled once per instruction set
// and dispatched at run time. Plain multiplies and adds only (the build never
// contracts them).
#include "lumenfold/core/channels/atr_ts.hpp"
#include "lumenfold/core/channels/fractals.hpp"
#include "lumenfold/core/channels/heikin_ashi.hpp"
#include "lumenfold/core/channels/pivot_points.hpp"
#include "lumenfold/core/channels/stc.hpp"
#include "lumenfold/core/channels/supertrend.hpp"
#include "lumenfold/core/channels/ttm_squeeze.hpp"
#include "lumenfold/core/channels/true_ranges.hpp"
#include "lumenfold/core/channels/ultimate_channel.hpp"
#include "lumenfold/core/channels/volume_profile.hpp"
#include "lumenfold/core/framework/num.hpp"
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <type_traits>
#include <limits>
#include <vector>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "channels/lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "framework/dispatch.hpp"
#include "lumenfold/core/framework/lane_ops-inl.h"
#include "lumenfold/core/channels/maps-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lumenfold::core::lanes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void FractalFlags(const double* high, const double* low, std::size_t count, FractalsOutput* out) {
    static_assert(sizeof(FractalsOutput) == 2 && offsetof(FractalsOutput, bullish) == 1);
    FractalFlagLanes(PlainIn{high}, PlainIn{low}, count, FlagPairs{reinterpret_cast<unsigned char*>(out)});
}

void SqueezeParts(const double* s, const double* q, const double* a, const double* hi, const double* lo,
                  const double* c, std::size_t count, std::size_t p, double mult_bb, double mult_kc, double* squeeze,
                  double* delta) {
    const D d;
    const V n = hn::Set(d, static_cast<double>(p)), bb = hn::Set(d, mult_bb), kc = hn::Set(d, mult_kc);
    const V half = hn::Set(d, 0.5), minus_half = hn::Set(d, -0.5), one = hn::Set(d, 1.0);
    padded_groups(count, [&](std::size_t k) {
        const V sma = hn::Div(hn::LoadU(d, s + k), n);
        const V var = hn::Sub(hn::Div(hn::LoadU(d, q + k), n), hn::Mul(sma, sma));
        const V sd = hn::Sqrt(hn::IfThenElseZero(var > hn::Zero(d), var));
        const V band = hn::Mul(sd, bb), channel = hn::Mul(hn::LoadU(d, a + k), kc);
        const auto on = hn::And(hn::Add(sma, band) < hn::Add(sma, channel), hn::Sub(sma, band) > hn::Sub(sma, channel));
        hn::StoreU(hn::IfThenElseZero(on, one), d, squeeze + k);
        const V middle = hn::Mul(hn::Add(hn::LoadU(d, hi + k), hn::LoadU(d, lo + k)), half);
        hn::StoreU(hn::Add(hn::LoadU(d, c + k), hn::Mul(hn::Add(sma, middle), minus_half)), d, delta + k);
    });
}

inline V regression_value(const double* w, std::size_t p, V n, V sum_x, V den) {
    const D d;
    V sum_y = hn::Zero(d), sum_xy = hn::Zero(d);
    for (std::size_t i = 0; i < p; ++i) {
        const V y = hn::LoadU(d, w + i);
        sum_y = hn::Add(sum_y, y);
        sum_xy = hn::Add(sum_xy, hn::Mul(y, hn::Set(d, static_cast<double>(i))));
    }
    const V slope = hn::Div(hn::Sub(hn::Mul(n, sum_xy), hn::Mul(sum_y, sum_x)), den);
    const V intercept = hn::Div(hn::Sub(sum_y, hn::Mul(sum_x, slope)), n);
    return hn::Add(hn::Mul(hn::Sub(n, hn::Set(d, 1.0)), slope), intercept);
}

// Four vectors of bars keep four pairs of sums in flight.
void RegressionValues(const double* x, std::size_t count, std::size_t p, double sum_x, double den, double* out) {
    if (den == 0.0) {
        std::memmove(out, x + p - 1, count * sizeof(double));
        return;
    }
    const D d;
    const std::size_t L = hn::Lanes(d);
    const V n = hn::Set(d, static_cast<double>(p)), vsum_x = hn::Set(d, sum_x), vden = hn::Set(d, den);
    std::size_t k = 0;
    for (; k + 4 * L <= count; k += 4 * L) {
        V sum_y[4], sum_xy[4];
        for (std::size_t g = 0; g < 4; ++g) sum_y[g] = sum_xy[g] = hn::Zero(d);
        for (std::size_t i = 0; i < p; ++i) {
            const V fi = hn::Set(d, static_cast<double>(i));
            for (std::size_t g = 0; g < 4; ++g) {
                const V y = hn::LoadU(d, x + k + g * L + i);
                sum_y[g] = hn::Add(sum_y[g], y);
                sum_xy[g] = hn::Add(sum_xy[g], hn::Mul(y, fi));
            }
        }
        for (std::size_t g = 0; g < 4; ++g) {
            const V slope = hn::Div(hn::Sub(hn::Mul(n, sum_xy[g]), hn::Mul(sum_y[g], vsum_x)), vden);
            const V intercept = hn::Div(hn::Sub(sum_y[g], hn::Mul(vsum_x, slope)), n);
            hn::StoreU(hn::Add(hn::Mul(hn::Sub(n, hn::Set(d, 1.0)), slope), intercept), d, out + k + g * L);
        }
    }
    const double nf = static_cast<double>(p);
    lane_groups(
        count - k,
        [&](std::size_t j) { hn::StoreU(regression_value(x + k + j, p, n, vsum_x, vden), d, out + k + j); },
        [&](std::size_t j) {
            double sum_y = 0.0, sum_xy = 0.0;
            for (std::size_t i = 0; i < p; ++i) {
                const double y = x[k + j + i];
                sum_y = sum_y + y;
                sum_xy = sum_xy + y * static_cast<double>(i);
            }
            const double slope = (nf * sum_xy - sum_y * sum_x) / den;
            const double intercept = (sum_y - sum_x * slope) / nf;
            out[k + j] = (nf - 1.0) * slope + intercept;
        });
}

// A group of lanes is stored as whole vectors into a field-major block, then
// copied out record by record.
void PivotLevels(const double* high, const double* low, const double* close, std::size_t count,
                 PivotPointsOutput* out) {
    static_assert(sizeof(PivotPointsOutput) == 5 * sizeof(double) && std::is_standard_layout_v<PivotPointsOutput>);
    PivotLevelLanes(PlainIn{high}, PlainIn{low}, PlainIn{close}, count,
                    PlainRecords<5>{reinterpret_cast<double*>(out)});
}

// The bins of every window price of a group of lanes, as doubles 0 .. bins - 1:
// floor(q) of q = (price - lo) / width saturated into that range, a NaN giving
// 0 (below bins, q > 0 truncates to its floor).
inline void price_bins(const double* price, std::size_t p, V vlo, V width, V vbins, double* out) {
    const D d;
    const std::size_t L = hn::Lanes(d);
    const V zero = hn::Zero(d), last = hn::Sub(vbins, hn::Set(d, 1.0));
    for (std::size_t i = 0; i < p; ++i) {
        const V q = hn::Div(hn::Sub(hn::LoadU(d, price + i), vlo), width);
        const V above = hn::IfThenElseZero(q > zero, q);
        hn::StoreU(hn::Trunc(hn::IfThenElse(above < vbins, above, last)), d, out + i * L);
    }
}

// Folds the volumes of bins b .. b+G-1 over the window, G chains of additions
// in flight, and takes each in bin order as the fullest when it holds more.
template <std::size_t G>
inline void fold_bins(const double* v, const double* slots, std::size_t p, std::size_t b, V& best, V& index) {
    const D d;
    const std::size_t L = hn::Lanes(d);
    V bin[G], sum[G];
    for (std::size_t g = 0; g < G; ++g) {
        bin[g] = hn::Set(d, static_cast<double>(b + g));
        sum[g] = hn::Zero(d);
    }
    for (std::size_t i = 0; i < p; ++i) {
        const V x = hn::LoadU(d, v + i), slot = hn::LoadU(d, slots + i * L);
        for (std::size_t g = 0; g < G; ++g) sum[g] = hn::IfThenElse(slot == bin[g], hn::Add(x, sum[g]), sum[g]);
    }
    for (std::size_t g = 0; g < G; ++g) {
        const auto more = sum[g] > best;
        best = hn::IfThenElse(more, sum[g], best);
        index = hn::IfThenElse(more, bin[g], index);
    }
}

void PointsOfControl(const double* price, const double* volume, const double* lo, const double* hi, std::size_t count,
                     std::size_t p, std::size_t bins, double* scratch, double* out) {
    const D d;
    const V vbins = hn::Set(d, static_cast<double>(bins)), half = hn::Set(d, 0.5);
    padded_groups(count, [&](std::size_t k) {
        const V vlo = hn::LoadU(d, lo + k), vhi = hn::LoadU(d, hi + k);
        const V width = hn::Div(hn::Sub(vhi, vlo), vbins);
        price_bins(price + k, p, vlo, width, vbins, scratch);
        V best = hn::Set(d, -1.0), index = hn::Zero(d);
        std::size_t b = 0;
        for (; b + 8 <= bins; b += 8) fold_bins<8>(volume + k, scratch, p, b, best, index);
        if (b + 4 <= bins) {
            fold_bins<4>(volume + k, scratch, p, b, best, index);
            b += 4;
        }
        for (; b < bins; ++b) fold_bins<1>(volume + k, scratch, p, b, best, index);
        const V poc = hn::Add(vlo, hn::Mul(width, hn::Add(index, half)));
        hn::StoreU(hn::IfThenElse(vlo == vhi, vlo, poc), d, out + k);
    });
}


// ---- range terms and the recursions that select on them ----
// Which true-range term wins, which operand of a maximum, which side of a
// flip changes unpredictably from bar to bar on market data: per-bar terms
// are taken in lanes, and the recursions select in one-lane vectors, whose
// blends a processor does not predict.

using D1 = hn::CappedTag<double, 1>;
using V1 = hn::Vec<D1>;
using M1 = hn::Mask<D1>;

// true_range(high, low, prev_close) (classic/atr.hpp): each maximum lets the
// absolute value win ties and ignores a NaN.
template <class VV>
inline VV true_range_lanes(VV h, VV l, VV pc) {
    const VV d0 = hn::Sub(h, l), d1 = hn::Abs(hn::Sub(h, pc)), d2 = hn::Abs(hn::Sub(l, pc));
    const VV m = hn::IfThenElse(hn::Or(hn::Ge(d1, d0), hn::IsNaN(d0)), d1, d0);
    return hn::IfThenElse(hn::Or(hn::Ge(d2, m), hn::IsNaN(m)), d2, m);
}

// Bars per group: the per-bar terms of one group are taken in lanes while the
// recursion runs over the one before.
constexpr std::size_t kGroup = 64;

// The true ranges of bars at .. at + m - 1 of high, low and close (each
// holding the bar before them) into tr, in vectors of d's lanes.
template <class DD>
inline void group_true_ranges(DD d, const double* high, const double* low, const double* close, std::size_t at,
                              std::size_t m, double* tr) {
    lane_groups(
        d, m,
        [&](std::size_t j) {
            const std::size_t k = at + j;
            hn::StoreU(true_range_lanes(hn::LoadU(d, high + k + 1), hn::LoadU(d, low + k + 1), hn::LoadU(d, close + k)),
                       d, tr + j);
        },
        [&](std::size_t j) {
            const D1 d1;
            const std::size_t k = at + j;
            hn::StoreU(true_range_lanes(hn::LoadU(d1, high + k + 1), hn::LoadU(d1, low + k + 1),
                                        hn::LoadU(d1, close + k)),
                       d1, tr + j);
        });
}

void TrueRanges(const double* high, const double* low, const double* close, std::size_t count, double* out) {
    group_true_ranges(D(), high, low, close, 0, count, out);
}

// Runs `chain(at, m, tr)` over the groups of count bars, the true ranges of
// the next group taken while it runs.
template <class Chain>
inline void over_true_ranges(const double* high, const double* low, const double* close, std::size_t count,
                             Chain chain) {
    alignas(64) double tr[2][kGroup];
    auto size = [&](std::size_t q) { return std::min(kGroup, count - q * kGroup); };
    pipelined_groups(
        count, kGroup,
        [&](auto d, std::size_t q) { group_true_ranges(d, high, low, close, q * kGroup, size(q), tr[q % 2]); },
        [&](std::size_t q) { chain(q * kGroup, size(q), static_cast<const double*>(tr[q % 2])); },
        [](auto, std::size_t) {});
}

// +1 long, -1 short, computed rather than chosen: a choice between two
// constants compiles to a branch on the direction.
inline std::int8_t direction(D1 d, M1 is_long) {
    const int on = static_cast<int>(hn::AllTrue(d, is_long));
    return static_cast<std::int8_t>(on + on - 1);
}

void SuperTrendSteps(const double* high, const double* low, const double* close, std::size_t count, double alpha,
                     double multiplier, double* state, SuperTrendOutput* out) {
    const D1 d;
    const V1 va = hn::Set(d, alpha), keep = hn::Set(d, 1.0 - alpha), mult = hn::Set(d, multiplier);
    const V1 half = hn::Set(d, 0.5);
    V1 atr = hn::Set(d, state[0]), upper = hn::Set(d, state[1]), lower = hn::Set(d, state[2]);
    M1 is_long = hn::Eq(hn::Set(d, state[3]), hn::Set(d, 1.0));
    over_true_ranges(high, low, close, count, [&](std::size_t at, std::size_t m, const double* tr) {
        for (std::size_t j = 0; j < m; ++j) {
            const std::size_t k = at + j;
            atr = hn::Add(hn::Mul(hn::LoadU(d, tr + j), va), hn::Mul(atr, keep));
            const V1 h = hn::LoadU(d, high + k + 1), l = hn::LoadU(d, low + k + 1);
            const V1 c = hn::LoadU(d, close + k + 1), prev_close = hn::LoadU(d, close + k);
            const V1 mid = hn::Mul(hn::Add(h, l), half);
            const V1 offset = hn::Mul(atr, mult);
            const V1 basic_upper = hn::Add(mid, offset), basic_lower = hn::Sub(mid, offset);
            upper = hn::IfThenElse(hn::Or(hn::Lt(basic_upper, upper), hn::Gt(prev_close, upper)), basic_upper, upper);
            lower = hn::IfThenElse(hn::Or(hn::Gt(basic_lower, lower), hn::Lt(prev_close, lower)), basic_lower, lower);
            is_long = hn::Or(hn::AndNot(hn::Lt(c, lower), is_long), hn::AndNot(is_long, hn::Gt(c, upper)));
            out[k] = SuperTrendOutput{hn::GetLane(hn::IfThenElse(is_long, lower, upper)), direction(d, is_long)};
        }
    });
    state[0] = hn::GetLane(atr);
    state[1] = hn::GetLane(upper);
    state[2] = hn::GetLane(lower);
    state[3] = hn::AllTrue(d, is_long) ? 1.0 : 0.0;
}

void TrailingStopSteps(const double* high, const double* low, const double* close, std::size_t count, double alpha,
                       double multiplier, double* state, AtrTsOutput* out) {
    const D1 d;
    const V1 va = hn::Set(d, alpha), keep = hn::Set(d, 1.0 - alpha), mult = hn::Set(d, multiplier);
    V1 atr = hn::Set(d, state[0]), stop = hn::Set(d, state[1]);
    M1 is_long = hn::Eq(hn::Set(d, state[2]), hn::Set(d, 1.0));
    over_true_ranges(high, low, close, count, [&](std::size_t at, std::size_t m, const double* tr) {
        for (std::size_t j = 0; j < m; ++j) {
            const std::size_t k = at + j;
            atr = hn::Add(hn::Mul(hn::LoadU(d, tr + j), va), hn::Mul(atr, keep));
            const V1 c = hn::LoadU(d, close + k + 1);
            const V1 offset = hn::Mul(atr, mult);
            const V1 below = hn::Sub(c, offset), above = hn::Add(c, offset);
            // Long: a close under the stop turns short at close + offset, else
            // the stop rises to close - offset; short mirrors it.
            const M1 exit_long = hn::Lt(c, stop), exit_short = hn::Gt(c, stop);
            const V1 long_stop = hn::IfThenElse(exit_long, above, MaxNum(stop, below));
            const V1 short_stop = hn::IfThenElse(exit_short, below, MinNum(stop, above));
            stop = hn::IfThenElse(is_long, long_stop, short_stop);
            is_long = hn::Or(hn::AndNot(exit_long, is_long), hn::AndNot(is_long, exit_short));
            out[k] = AtrTsOutput{hn::GetLane(stop), direction(d, is_long)};
        }
    });
    state[0] = hn::GetLane(atr);
    state[1] = hn::GetLane(stop);
    state[2] = hn::AllTrue(d, is_long) ? 1.0 : 0.0;
}

void CloseRanges(const double* high, const double* low, const double* close, std::size_t count, double* out) {
    lane_groups(
        count,
        [&](std::size_t k) {
            const D d;
            const V pc = hn::LoadU(d, close + k);
            hn::StoreU(hn::Sub(MaxNum(hn::LoadU(d, high + k + 1), pc), MinNum(hn::LoadU(d, low + k + 1), pc)),
                       d, out + k);
        },
        [&](std::size_t k) {
            const D1 d;
            const V1 pc = hn::LoadU(d, close + k);
            hn::StoreU(hn::Sub(MaxNum(hn::LoadU(d, high + k + 1), pc), MinNum(hn::LoadU(d, low + k + 1), pc)),
                       d, out + k);
        });
}

// The opens one after the other; the closes of a group in lanes before it,
// the highs and lows in lanes after it.
void HeikinAshiBars(const double* open, const double* high, const double* low, const double* close, std::size_t count,
                    double* state, HeikinAshiOutput* out) {
    static_assert(sizeof(HeikinAshiOutput) == 4 * sizeof(double) && std::is_standard_layout_v<HeikinAshiOutput>);
    alignas(64) double opens[3][kGroup], closes[3][kGroup];
    double prev_open = state[0], prev_close = state[1];
    auto size = [&](std::size_t q) { return std::min(kGroup, count - q * kGroup); };
    pipelined_groups(
        count, kGroup,
        [&](auto d, std::size_t q) {
            const std::size_t at = q * kGroup;
            double* cl = closes[q % 3];
            lane_groups(
                d, size(q),
                [&](std::size_t j) {
                    const std::size_t k = at + j;
                    const auto sum = hn::Add(hn::Add(hn::Add(hn::LoadU(d, open + k), hn::LoadU(d, high + k)),
                                                     hn::LoadU(d, low + k)),
                                             hn::LoadU(d, close + k));
                    hn::StoreU(hn::Mul(sum, hn::Set(d, 0.25)), d, cl + j);
                },
                [&](std::size_t j) {
                    const std::size_t k = at + j;
                    cl[j] = (((open[k] + high[k]) + low[k]) + close[k]) * 0.25;
                });
        },
        [&](std::size_t q) {
            const double* cl = closes[q % 3];
            double* op = opens[q % 3];
            for (std::size_t j = 0, m = size(q); j < m; ++j) {
                prev_open = (prev_open + prev_close) * 0.5;
                prev_close = cl[j];
                op[j] = prev_open;
            }
        },
        [&](auto d, std::size_t q) {
            const std::size_t at = q * kGroup;
            const double* cl = closes[q % 3];
            const double* op = opens[q % 3];
            lane_groups(
                d, size(q),
                [&](std::size_t j) {
                    const std::size_t k = at + j;
                    const auto o = hn::LoadU(d, op + j), c = hn::LoadU(d, cl + j);
                    const decltype(o) fields[4] = {o, MaxNum(MaxNum(hn::LoadU(d, high + k), o), c),
                                                   MinNum(MinNum(hn::LoadU(d, low + k), o), c), c};
                    PlainRecords<4>{reinterpret_cast<double*>(out)}.Store(fields, k);
                },
                [&](std::size_t j) {
                    const D1 d1;
                    const std::size_t k = at + j;
                    const V1 o = hn::Set(d1, op[j]), c = hn::Set(d1, cl[j]);
                    const V1 hi = MaxNum(MaxNum(hn::Set(d1, high[k]), o), c);
                    const V1 lo = MinNum(MinNum(hn::Set(d1, low[k]), o), c);
                    out[k] = HeikinAshiOutput{op[j], hn::GetLane(hi), hn::GetLane(lo), cl[j]};
                });
        });
    state[0] = prev_open;
    state[1] = prev_close;
}

// Walked from the newest value, as the stage does: the newest of equal
// extremes stands.
void StochasticValues(const double* x, std::size_t count, std::size_t p, double* out) {
    const D d;
    const V start = hn::Set(d, kMaxF64), hundred = hn::Set(d, 100.0);
    padded_groups(count, [&](std::size_t k) {
        V lo = start, hi = hn::Neg(start);
        for (std::size_t i = p; i-- > 0;) {
            const V v = hn::LoadU(d, x + k + i);
            lo = hn::IfThenElse(hn::Lt(v, lo), v, lo);
            hi = hn::IfThenElse(hn::Gt(v, hi), v, hi);
        }
        const V newest = hn::LoadU(d, x + k + p - 1);
        const V value = hn::Div(hn::Mul(hn::Sub(newest, lo), hundred), hn::Sub(hi, lo));
        hn::StoreU(hn::IfThenElseZero(hn::Ne(hi, lo), value), d, out + k);
    });
}

}  // namespace lumenfold::core::lanes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lumenfold::core::lanes {

LF_DISPATCH(fractal_flags, FractalFlags)
LF_DISPATCH(squeeze_parts, SqueezeParts)
LF_DISPATCH(regression_values, RegressionValues)
LF_DISPATCH(pivot_levels, PivotLevels)
LF_DISPATCH(points_of_control, PointsOfControl)
LF_DISPATCH(true_ranges, TrueRanges)
LF_DISPATCH(supertrend_steps, SuperTrendSteps)
LF_DISPATCH(trailing_stop_steps, TrailingStopSteps)
LF_DISPATCH(close_ranges, CloseRanges)
LF_DISPATCH(heikin_ashi_bars, HeikinAshiBars)
LF_DISPATCH(stochastic_values, StochasticValues)

}  // namespace lumenfold::core::lanes
#endif
