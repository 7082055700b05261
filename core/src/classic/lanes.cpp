// The lane kernels of the classic family, compiled once per instruction set
// and dispatched at run time. Plain multiplies and adds only (the build never
// contracts them).
#include "lumenfold/core/classic/adx.hpp"
#include "lumenfold/core/classic/aroon.hpp"
#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/classic/cci.hpp"
#include "lumenfold/core/classic/kama.hpp"
#include "lumenfold/core/classic/mom.hpp"
#include "lumenfold/core/classic/obv.hpp"
#include "lumenfold/core/classic/rsi.hpp"
#include "lumenfold/core/classic/sar.hpp"
#include "lumenfold/core/classic/stoch.hpp"
#include "lumenfold/core/classic/willr.hpp"
#include "lumenfold/core/framework/num.hpp"
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "classic/lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "framework/dispatch.hpp"
#include "lumenfold/core/framework/lane_ops-inl.h"
#include "lumenfold/core/classic/maps-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lumenfold::core::lanes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

double KamaRun(const double* x, std::size_t count, std::size_t p, double slow, double spread, double value,
               double* work, double* out) {
    return KamaLanes(PlainIn{x}, count, p, slow, spread, value, work, PlainOut{out});
}

// Wilder's averages bar by bar; the RSI of each group of bars in lanes one
// group behind.
void RsiRun(const double* x, std::size_t count, double pf, double pf_less1, double* averages, double* out) {
    RsiLanes(PlainIn{x}, count, pf, pf_less1, averages, PlainOut{out});
}

double AtrRun(const double* high, const double* low, const double* close, std::size_t count, double alpha,
              double one_minus_alpha, double value, double* out) {
    return AtrLanes(PlainIn{high}, PlainIn{low}, PlainIn{close}, count, alpha, one_minus_alpha, value, PlainOut{out});
}

double ObvRun(const double* price, const double* volume, std::size_t count, double total, double* out) {
    return ObvLanes(PlainIn{price}, PlainIn{volume}, count, total, PlainOut{out});
}

void SarRun(const double* high, const double* low, std::size_t count, double acceleration, double maximum,
            SarState* state, double* out) {
    SarLanes(PlainIn{high}, PlainIn{low}, count, acceleration, maximum, *state, PlainOut{out});
}

void LagChanges(const double* x, std::size_t count, std::size_t lag, bool rate, double* out) {
    if (rate) {
        LagChangeLanes<true>(PlainIn{x}, count, lag, PlainOut{out});
    } else {
        LagChangeLanes<false>(PlainIn{x}, count, lag, PlainOut{out});
    }
}

// Lane work beside ADX's chain (Adx::batch).
void DirectionalIndex(const double* plus, const double* minus, const double* tr, std::size_t n, double* dx) {
    auto dx_lanes = [&](auto d) {
        const auto hundred = hn::Set(d, 100.0);
        lane_groups(
            d, n,
            [&](std::size_t i) {
                const auto range = hn::LoadU(d, tr + i);
                const auto plus_di = hn::Div(hn::Mul(hn::LoadU(d, plus + i), hundred), range);
                const auto minus_di = hn::Div(hn::Mul(hn::LoadU(d, minus + i), hundred), range);
                const auto sum = hn::Add(plus_di, minus_di);
                const auto v = hn::Div(hn::Mul(hn::Abs(hn::Sub(plus_di, minus_di)), hundred), sum);
                hn::StoreU(hn::IfThenElseZero(sum > hn::Zero(d), v), d, dx + i);
            },
            [&](std::size_t i) {
                const double plus_di = (plus[i] * 100.0) / tr[i];
                const double minus_di = (minus[i] * 100.0) / tr[i];
                const double sum = plus_di + minus_di;
                dx[i] = sum > 0.0 ? (std::fabs(plus_di - minus_di) * 100.0) / sum : 0.0;
            });
    };
    beside_chain(narrow_chain_lanes(), dx_lanes);
}

// Window extremes by doubling: while 2 * span <= width, step(i, span) makes
// entry i the combination of entries i and i + span (the older window first)
// for the `valid` entries that have one, and span doubles, so that entry i
// combines the span values from i on. In place, ascending: each group of
// lanes loads the entries it combines before storing over the first ones.
// Returns the span reached.
template <class Step>
inline std::size_t double_windows(std::size_t valid, std::size_t width, Step step) {
    std::size_t span = 1;
    for (; 2 * span <= width; span *= 2) {
        valid -= span;
        padded_groups(valid, [&](std::size_t i) { step(i, span); });
    }
    return span;
}

// A scan from the oldest value that takes a value only when strictly beyond
// the current extreme, starting from -inf (+inf): a NaN counts as the start
// value, and among equal values the older stands, so windows combine in any
// grouping.
inline V later_if_above(V older, V newer) { return hn::IfThenElse(newer > older, newer, older); }
inline V later_if_below(V older, V newer) { return hn::IfThenElse(newer < older, newer, older); }

void StochFastK(const double* high, const double* low, const double* close, std::size_t count, std::size_t p,
                double* hi, double* lo, double* out) {
    const D d;
    const V neg_inf = hn::Set(d, -std::numeric_limits<double>::infinity());
    const V pos_inf = hn::Set(d, std::numeric_limits<double>::infinity());
    const std::size_t len = count + p - 1;
    padded_groups(len, [&](std::size_t i) {
        const V h = hn::LoadU(d, high + i), l = hn::LoadU(d, low + i);
        hn::StoreU(hn::IfThenElse(hn::IsNaN(h), neg_inf, h), d, hi + i);
        hn::StoreU(hn::IfThenElse(hn::IsNaN(l), pos_inf, l), d, lo + i);
    });
    const std::size_t span = double_windows(len, p, [&](std::size_t i, std::size_t span) {
        hn::StoreU(later_if_above(hn::LoadU(d, hi + i), hn::LoadU(d, hi + i + span)), d, hi + i);
        hn::StoreU(later_if_below(hn::LoadU(d, lo + i), hn::LoadU(d, lo + i + span)), d, lo + i);
    });
    // Each window as its first span values and its last span values.
    const std::size_t back = p - span;
    const V hundred = hn::Set(d, 100.0), fifty = hn::Set(d, 50.0);
    padded_groups(count, [&](std::size_t k) {
        const V highest = later_if_above(hn::LoadU(d, hi + k), hn::LoadU(d, hi + k + back));
        const V lowest = later_if_below(hn::LoadU(d, lo + k), hn::LoadU(d, lo + k + back));
        const V range = hn::Sub(highest, lowest);
        const V fast_k = hn::Div(hn::Mul(hn::Sub(hn::LoadU(d, close + k + p - 1), lowest), hundred), range);
        hn::StoreU(hn::IfThenElse(range > hn::Zero(d), fast_k, fifty), d, out + k);
    });
}

// The extremes of high and low windows of width p + 1 with the offsets they
// came from (as doubles), the newer of equal values standing.
void AroonOutputs(const double* high, const double* low, std::size_t count, std::size_t p, double factor,
                  double* work, AroonOutput* out) {
    const D d;
    const std::size_t len = count + p, stride = len + kPad;
    double* const hi = work;
    double* const hi_at = work + stride;
    double* const lo = work + 2 * stride;
    double* const lo_at = work + 3 * stride;
    const V lane = hn::Iota(d, 0.0);
    padded_groups(len, [&](std::size_t i) {
        const V at = hn::Add(lane, hn::Set(d, static_cast<double>(i)));
        hn::StoreU(hn::LoadU(d, high + i), d, hi + i);
        hn::StoreU(at, d, hi_at + i);
        hn::StoreU(hn::LoadU(d, low + i), d, lo + i);
        hn::StoreU(at, d, lo_at + i);
    });
    // Combines the entries i (older) and j (newer) of an extreme and its offset.
    auto highest = [&](std::size_t i, std::size_t j, V& value, V& at) {
        const V older = hn::LoadU(d, hi + i), newer = hn::LoadU(d, hi + j);
        const auto take = newer >= older;
        value = hn::IfThenElse(take, newer, older);
        at = hn::IfThenElse(take, hn::LoadU(d, hi_at + j), hn::LoadU(d, hi_at + i));
    };
    auto lowest = [&](std::size_t i, std::size_t j, V& value, V& at) {
        const V older = hn::LoadU(d, lo + i), newer = hn::LoadU(d, lo + j);
        const auto take = newer <= older;
        value = hn::IfThenElse(take, newer, older);
        at = hn::IfThenElse(take, hn::LoadU(d, lo_at + j), hn::LoadU(d, lo_at + i));
    };
    const std::size_t span = double_windows(len, p + 1, [&](std::size_t i, std::size_t span) {
        V value, at;
        highest(i, i + span, value, at);
        hn::StoreU(value, d, hi + i);
        hn::StoreU(at, d, hi_at + i);
        lowest(i, i + span, value, at);
        hn::StoreU(value, d, lo + i);
        hn::StoreU(at, d, lo_at + i);
    });
    const std::size_t back = p + 1 - span;
    const V vfactor = hn::Set(d, factor);
    padded_groups(count, [&](std::size_t k) {
        const V first = hn::Add(lane, hn::Set(d, static_cast<double>(k)));
        V value, high_at, low_at;
        highest(k, k + back, value, high_at);
        lowest(k, k + back, value, low_at);
        const V fields[2] = {hn::Mul(vfactor, hn::Sub(high_at, first)), hn::Mul(vfactor, hn::Sub(low_at, first))};
        interleave(fields, reinterpret_cast<double*>(out + k));
    });
}

void WillrOutputs(const double* high, const double* low, const double* close, std::size_t count, std::size_t p,
                  double* out) {
    WillrLanes(high, low, close, count, p, PlainOut{out});
}

void CciRun(const double* high, const double* low, const double* close, std::size_t count, std::size_t p,
            CciState* state, double* work, double* out) {
    CciLanes(PlainIn{high}, PlainIn{low}, PlainIn{close}, count, p, *state, work, PlainOut{out});
}

}  // namespace lumenfold::core::lanes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lumenfold::core::lanes {

LF_DISPATCH(kama_run, KamaRun)
LF_DISPATCH(rsi_run, RsiRun)
LF_DISPATCH(lag_changes, LagChanges)
LF_DISPATCH(atr_run, AtrRun)
LF_DISPATCH(obv_run, ObvRun)
LF_DISPATCH(sar_run, SarRun)
LF_DISPATCH(stoch_fast_k, StochFastK)
LF_DISPATCH(aroon_outputs, AroonOutputs)
LF_DISPATCH(directional_index, DirectionalIndex)
LF_DISPATCH(willr_outputs, WillrOutputs)
LF_DISPATCH(cci_run, CciRun)

}  // namespace lumenfold::core::lanes
#endif
