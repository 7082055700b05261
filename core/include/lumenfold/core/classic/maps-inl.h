// Per-bar maps of the classic family, written over their inputs and outputs
// (see lane_ops-inl.h), compiled once per instruction set by each file that
// includes it.
#if defined(LUMENFOLD_CLASSIC_MAPS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef LUMENFOLD_CLASSIC_MAPS_INL_H_
#undef LUMENFOLD_CLASSIC_MAPS_INL_H_
#else
#define LUMENFOLD_CLASSIC_MAPS_INL_H_
#endif

#include <algorithm>
#include <cstddef>

#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/classic/sar.hpp"
#include "lumenfold/core/framework/num.hpp"

#include <hwy/highway.h>

#include "lumenfold/core/framework/lane_ops-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lumenfold::core::lanes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Changes over `lag` bars: out[k] = x[k + lag] - x[k], or with kRate
// ((x[k + lag] - x[k]) / x[k]) * 100, 0 where x[k] is 0.
template <bool kRate, class In, class Out>
void LagChangeLanes(In x, std::size_t count, std::size_t lag, Out out) {
    const D d;
    const V hundred = hn::Set(d, 100.0);
    lane_groups(
        count,
        [&](std::size_t k) {
            const V old = x.Load(k);
            const V change = hn::Sub(x.Load(k + lag), old);
            if constexpr (kRate) {
                out.Store(hn::IfThenZeroElse(old == hn::Zero(d), hn::Mul(hn::Div(change, old), hundred)), k);
            } else {
                out.Store(change, k);
            }
        },
        [&](std::size_t k) {
            const double old = x.Get(k);
            const double change = x.Get(k + lag) - old;
            if constexpr (kRate) {
                out.Set(k, old == 0.0 ? 0.0 : (change / old) * 100.0);
            } else {
                out.Set(k, change);
            }
        });
}

// Wilder's RSI of count bars from In x holding their prices after the one
// before them (classic/rsi.hpp, rsi_run): the averages bar by bar, the RSI of
// each group of bars in lanes one group behind.
template <class In, class Out>
void RsiLanes(In x, std::size_t count, double pf, double pf_less1, double* averages, Out out) {
    const D d;
    const V hundred = hn::Set(d, 100.0), one = hn::Set(d, 1.0);
    constexpr std::size_t kGroup = 64;
    alignas(64) double gains[2][kGroup], losses[2][kGroup];
    double avg_gain = averages[0], avg_loss = averages[1];
    auto size = [&](std::size_t q) { return std::min(kGroup, count - q * kGroup); };
    pipelined_groups(
        count, kGroup, [](std::size_t) {},
        [&](std::size_t q) {
            const std::size_t at = q * kGroup;
            double* g = gains[q % 2];
            double* l = losses[q % 2];
            for (std::size_t j = 0, m = size(q); j < m; ++j) {
                // max_num(change, 0.0) and the loss without a branch: a NaN or
                // zero change of either sign gains +0.
                const double change = x.Get(at + j + 1) - x.Get(at + j);
                const bool up = change > 0.0;
                const double gain = select(up, change, 0.0);
                const double loss = select(up, 0.0, -change);
                avg_gain = (gain + avg_gain * pf_less1) / pf;
                avg_loss = (loss + pf_less1 * avg_loss) / pf;
                g[j] = avg_gain;
                l[j] = avg_loss;
            }
        },
        [&](std::size_t q) {
            const double* g = gains[q % 2];
            const double* l = losses[q % 2];
            const std::size_t at = q * kGroup;
            lane_groups(
                size(q),
                [&](std::size_t j) {
                    const V gain = hn::LoadU(d, g + j), loss = hn::LoadU(d, l + j);
                    const V rsi = hn::Sub(hundred, hn::Div(hundred, hn::Add(hn::Div(gain, loss), one)));
                    out.Store(hn::IfThenElse(loss == hn::Zero(d), hundred, rsi), at + j);
                },
                [&](std::size_t j) { out.Set(at + j, l[j] == 0.0 ? 100.0 : 100.0 - 100.0 / (g[j] / l[j] + 1.0)); });
        });
    averages[0] = avg_gain;
    averages[1] = avg_loss;
}

// detail::max_num_abs in lanes: b wins ties and against a NaN a; a NaN b
// loses.
inline V MaxNumAbs(V a, V b) { return hn::IfThenElse(hn::Or(b >= a, hn::IsNaN(a)), b, a); }

// true_range in lanes.
inline V TrueRange(V high, V low, V prev_close) {
    return MaxNumAbs(MaxNumAbs(hn::Sub(high, low), hn::Abs(hn::Sub(high, prev_close))),
                     hn::Abs(hn::Sub(low, prev_close)));
}

// ATR of count bars from In high, low and close holding their bars after the
// one before them (classic/atr.hpp, atr_run): the true ranges of each group of
// bars in lanes one group ahead of the average.
template <class In, class Out>
double AtrLanes(In high, In low, In close, std::size_t count, double alpha, double one_minus_alpha, double value,
                Out out) {
    terms_ahead(
        count, [&](std::size_t i) { return TrueRange(high.Load(i + 1), low.Load(i + 1), close.Load(i)); },
        [&](std::size_t i) { return true_range(high.Get(i + 1), low.Get(i + 1), close.Get(i)); },
        [&](std::size_t i, double r) {
            value = r * alpha + value * one_minus_alpha;
            out.Set(i, value);
        });
    return value;
}

// OBV of count bars from In price and volume holding their bars after the one
// before them (classic/obv.hpp, obv_run): the signed volumes of each group of
// bars in lanes one group ahead of the total.
template <class In, class Out>
double ObvLanes(In price, In volume, std::size_t count, double total, Out out) {
    const V neg_zero = hn::Set(D(), -0.0);
    terms_ahead(
        count,
        [&](std::size_t i) {
            const V prev = price.Load(i), p = price.Load(i + 1), v = volume.Load(i + 1);
            return hn::IfThenElse(p > prev, v, hn::IfThenElse(p < prev, hn::Neg(v), neg_zero));
        },
        [&](std::size_t i) {
            const double prev = price.Get(i), p = price.Get(i + 1), v = volume.Get(i + 1);
            return select(p > prev, v, select(p < prev, -v, -0.0));
        },
        [&](std::size_t i, double m) {
            total = total + m;
            out.Set(i, total);
        });
    return total;
}

// The stops of count bars from In high and low holding their bars after the
// one before them (classic/sar.hpp, sar_run): each group's prices and their
// extremes with the previous bar's in lanes one group ahead of the stops,
// which step in one-lane vectors, every choice a blend. The stop's arithmetic
// is the same on both sides; its maxima and minima are the long side's taken
// on negated values while short.
template <class In, class Out>
void SarLanes(In high, In low, std::size_t count, double acceleration, double maximum, SarState& state, Out out) {
    const D d;
    constexpr std::size_t kGroup = 64;
    // The high, the low, max_num of the high and the previous high, min_num of
    // the low and the previous low, of each bar.
    alignas(64) double bars[2][4][kGroup];
    auto size = [&](std::size_t q) { return std::min(kGroup, count - q * kGroup); };

    const hn::CappedTag<double, 1> d1;
    using V1 = hn::Vec<decltype(d1)>;
    const V1 acc = hn::Set(d1, acceleration), most = hn::Set(d1, maximum), neg_zero = hn::Set(d1, -0.0);
    V1 sar = hn::Set(d1, state.sar), ep = hn::Set(d1, state.ep), af = hn::Set(d1, state.af);
    auto is_short = hn::Eq(hn::Set(d1, state.is_short ? 1.0 : 0.0), hn::Set(d1, 1.0));
    // -0 while short: Xor with it negates.
    V1 sign = hn::IfThenElseZero(is_short, neg_zero);
    pipelined_groups(
        count, kGroup,
        [&](std::size_t q) {
            double(&b)[4][kGroup] = bars[q % 2];
            const std::size_t at = q * kGroup;
            lane_groups(
                size(q),
                [&](std::size_t j) {
                    const V h = high.Load(at + j + 1), l = low.Load(at + j + 1);
                    hn::StoreU(h, d, b[0] + j);
                    hn::StoreU(l, d, b[1] + j);
                    hn::StoreU(MaxNum(high.Load(at + j), h), d, b[2] + j);
                    hn::StoreU(MinNum(low.Load(at + j), l), d, b[3] + j);
                },
                [&](std::size_t j) {
                    const double h = high.Get(at + j + 1), l = low.Get(at + j + 1);
                    b[0][j] = h;
                    b[1][j] = l;
                    b[2][j] = max_num(high.Get(at + j), h);
                    b[3][j] = min_num(low.Get(at + j), l);
                });
        },
        [&](std::size_t q) {
            const double(&b)[4][kGroup] = bars[q % 2];
            for (std::size_t j = 0, at = q * kGroup, m = size(q); j < m; ++j) {
                const V1 h = hn::LoadU(d1, b[0] + j), l = hn::LoadU(d1, b[1] + j);
                const V1 hi = hn::LoadU(d1, b[2] + j), lo = hn::LoadU(d1, b[3] + j);
                // The price that extends the trend, the one that reverses it,
                // and (negated while short) the extremes beyond and short of
                // the stop's side.
                const V1 ahead = hn::IfThenElse(is_short, l, h), behind = hn::IfThenElse(is_short, h, l);
                const V1 beyond = hn::Xor(hn::IfThenElse(is_short, lo, hi), sign);
                const V1 within = hn::Xor(hn::IfThenElse(is_short, hi, lo), sign);
                const auto flip = hn::Xor(behind, sign) <= hn::Xor(sar, sign);
                // Flipping: the reversal stop and the new side's stop.
                const V1 s = hn::Xor(MaxNum(hn::Xor(ep, sign), beyond), sign);
                const V1 turned = hn::Add(s, hn::Mul(acc, hn::Sub(behind, s)));
                const V1 flipped = hn::Xor(MaxNum(hn::Xor(turned, sign), beyond), sign);
                // Staying: a new extreme speeds the stop up.
                const auto extreme = hn::Xor(ahead, sign) > hn::Xor(ep, sign);
                const V1 ep_next = hn::IfThenElse(extreme, ahead, ep);
                const V1 af_next = hn::IfThenElse(extreme, MinNum(hn::Add(af, acc), most), af);
                const V1 moved = hn::Add(sar, hn::Mul(af_next, hn::Sub(ep_next, sar)));
                const V1 stayed = hn::Xor(MinNum(hn::Xor(moved, sign), within), sign);
                out.Set(at + j, hn::GetLane(hn::IfThenElse(flip, s, sar)));
                sar = hn::IfThenElse(flip, flipped, stayed);
                ep = hn::IfThenElse(flip, behind, ep_next);
                af = hn::IfThenElse(flip, acc, af_next);
                is_short = hn::Xor(is_short, flip);
                sign = hn::Xor(sign, hn::IfThenElseZero(flip, neg_zero));
            }
        },
        [](std::size_t) {});
    state.sar = hn::GetLane(sar);
    state.ep = hn::GetLane(ep);
    state.af = hn::GetLane(af);
    state.is_short = hn::AllTrue(d1, is_short);
}

}  // namespace lumenfold::core::lanes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // LUMENFOLD_CLASSIC_MAPS_INL_H_
