// The lane kernels of the classic family, compiled once per instruction set
// and dispatched at run time. Plain multiplies and adds only (the build never
// contracts them).
#include "lumenfold/core/classic/adx.hpp"
#include "lumenfold/core/classic/cci.hpp"
#include "lumenfold/core/classic/kama.hpp"
#include "lumenfold/core/classic/mom.hpp"
#include "lumenfold/core/classic/rsi.hpp"
#include "lumenfold/core/classic/willr.hpp"
#include "lumenfold/core/framework/num.hpp"
#include <algorithm>
#include <cmath>
#include <cstddef>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "classic/lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "framework/dispatch.hpp"
#include "framework/lane_ops-inl.h"
#include "classic/maps-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lumenfold::core::lanes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Squared smoothing constants of KAMA for the bars [from, to): `moves` holds
// the sizes of the changes, moves[j] = |x[j + 1] - x[j]|.
inline V smoothing_factor(const double* x, const double* moves, std::size_t k, std::size_t p, V slow, V spread) {
    const D d;
    V vol = hn::Zero(d);
    for (std::size_t i = p; i > 0; --i) vol = hn::Add(vol, hn::LoadU(d, moves + k + i - 1));
    const V move = hn::Abs(hn::Sub(hn::LoadU(d, x + k + p), hn::LoadU(d, x + k)));
    const V er = hn::IfThenZeroElse(vol == hn::Zero(d), hn::Div(move, vol));
    const V sc = hn::Add(slow, hn::Mul(er, spread));
    return hn::Mul(sc, sc);
}

inline void smoothing_factors(const double* x, const double* moves, std::size_t from, std::size_t to, std::size_t p,
                         double slow, double spread, double* out) {
    const D d;
    const V vslow = hn::Set(d, slow), vspread = hn::Set(d, spread);
    lane_groups(
        to - from,
        [&](std::size_t j) { hn::StoreU(smoothing_factor(x, moves, from + j, p, vslow, vspread), d, out + from + j); },
        [&](std::size_t j) {
            const std::size_t k = from + j;
            double vol = 0.0;
            for (std::size_t i = p; i > 0; --i) vol = vol + moves[k + i - 1];
            const double er = vol == 0.0 ? 0.0 : std::fabs(x[k + p] - x[k]) / vol;
            const double sc = slow + er * spread;
            out[k] = sc * sc;
        });
}

// moves[j] = |x[j + 1] - x[j]| for j in [from, to).
inline void abs_changes(const double* x, std::size_t from, std::size_t to, double* moves) {
    const D d;
    lane_groups(
        to - from,
        [&](std::size_t j) {
            const double* at = x + from + j;
            hn::StoreU(hn::Abs(hn::Sub(hn::LoadU(d, at + 1), hn::LoadU(d, at))), d, moves + from + j);
        },
        [&](std::size_t j) { moves[from + j] = std::fabs(x[from + j + 1] - x[from + j]); });
}

void KamaFactors(const double* x, std::size_t from, std::size_t to, std::size_t p, double slow, double spread,
                 double* moves, double* out) {
    abs_changes(x, from == 0 ? 0 : p - 1 + from, p - 1 + to, moves);
    smoothing_factors(x, moves, from, to, p, slow, spread, out);
}

// Wilder's averages bar by bar; the RSI of each group of bars in lanes one
// group behind.
void RsiRun(const double* x, std::size_t count, double pf, double pf_less1, double* averages, double* out) {
    RsiLanes(PlainIn{x}, count, pf, pf_less1, averages, PlainOut{out});
}

void LagChanges(const double* x, std::size_t count, std::size_t lag, bool rate, double* out) {
    if (rate) {
        LagChangeLanes<true>(PlainIn{x}, count, lag, PlainOut{out});
    } else {
        LagChangeLanes<false>(PlainIn{x}, count, lag, PlainOut{out});
    }
}

void DirectionalIndex(const double* plus, const double* minus, const double* tr, std::size_t n, double* dx) {
    const D d;
    const V hundred = hn::Set(d, 100.0);
    lane_groups(
        n,
        [&](std::size_t i) {
            const V range = hn::LoadU(d, tr + i);
            const V plus_di = hn::Div(hn::Mul(hn::LoadU(d, plus + i), hundred), range);
            const V minus_di = hn::Div(hn::Mul(hn::LoadU(d, minus + i), hundred), range);
            const V sum = hn::Add(plus_di, minus_di);
            const V v = hn::Div(hn::Mul(hn::Abs(hn::Sub(plus_di, minus_di)), hundred), sum);
            hn::StoreU(hn::IfThenElseZero(sum > hn::Zero(d), v), d, dx + i);
        },
        [&](std::size_t i) {
            const double plus_di = (plus[i] * 100.0) / tr[i];
            const double minus_di = (minus[i] * 100.0) / tr[i];
            const double sum = plus_di + minus_di;
            dx[i] = sum > 0.0 ? (std::fabs(plus_di - minus_di) * 100.0) / sum : 0.0;
        });
}

inline V willr_output(V highest, V lowest, V close) {
    const D d;
    const V range = hn::Sub(highest, lowest);
    const V r = hn::Div(hn::Mul(hn::Sub(highest, close), hn::Set(d, -100.0)), range);
    return hn::IfThenElseZero(range > hn::Zero(d), r);
}

void WillrOutputs(const double* high, const double* low, const double* close, std::size_t count, std::size_t p,
                  double* out) {
    const D d;
    const std::size_t L = hn::Lanes(d);
    std::size_t k = 0;
    for (; k + L <= count; k += L) {
        V hi = hn::LoadU(d, high + k), lo = hn::LoadU(d, low + k);
        for (std::size_t j = 1; j < p; ++j) {
            const V h = hn::LoadU(d, high + k + j), l = hn::LoadU(d, low + k + j);
            hi = hn::IfThenElse(h >= hi, h, hi);
            lo = hn::IfThenElse(l <= lo, l, lo);
        }
        hn::StoreU(willr_output(hi, lo, hn::LoadU(d, close + k + p - 1)), d, out + k);
    }
    for (; k < count; ++k) {
        double hi = high[k], lo = low[k];
        for (std::size_t j = 1; j < p; ++j) {
            if (high[k + j] >= hi) hi = high[k + j];
            if (low[k + j] <= lo) lo = low[k + j];
        }
        const double range = hi - lo;
        out[k] = range > 0.0 ? ((hi - close[k + p - 1]) * -100.0) / range : 0.0;
    }
}

void TypicalPrices(const double* high, const double* low, const double* close, std::size_t n, double* out) {
    const D d;
    const V three = hn::Set(d, 3.0);
    lane_groups(
        n,
        [&](std::size_t i) {
            const V sum = hn::Add(hn::LoadU(d, close + i), hn::Add(hn::LoadU(d, low + i), hn::LoadU(d, high + i)));
            hn::StoreU(hn::Div(sum, three), d, out + i);
        },
        [&](std::size_t i) { out[i] = (close[i] + (low[i] + high[i])) / 3.0; });
}

// Lanes take consecutive bars of one block of p bars (b / p equal): for bar
// t = kp + r, slot i holds bar kp + i when i <= r, else bar kp + i - p. So
// every slot's value is one of two values shared by all lanes.
void CciOutputs(const double* tp, std::size_t base, const double* sums, std::size_t first, std::size_t count,
                std::size_t p, double* out) {
    const D d;
    const std::size_t L = hn::Lanes(d);
    const double pf = static_cast<double>(p);
    const V vpf = hn::Set(d, pf);
    const V scale = hn::Set(d, 0.015);
    const V lane = hn::Iota(d, 0.0);
    const std::size_t last = first + count - 1;
    for (std::size_t j = 0; j < count;) {
        const std::size_t t = first + j;
        const std::size_t r = t % p;
        const std::size_t kp = t - r;
        const V mean = hn::Div(hn::LoadU(d, sums + j), vpf);
        V dev = hn::Zero(d);
        for (std::size_t i = 0; i <= r; ++i) dev = hn::Add(dev, hn::Abs(hn::Sub(hn::Set(d, tp[kp + i - base]), mean)));
        for (std::size_t i = r + 1; i < p; ++i) {
            // Lanes with i <= r + lane (beyond the group's bars: any value) take bar kp + i.
            const V newer = hn::Set(d, tp[std::min(kp + i, last) - base]);
            const V older = hn::Set(d, tp[kp + i - p - base]);
            const V slot = hn::IfThenElse(hn::Set(d, static_cast<double>(i - r)) <= lane, newer, older);
            dev = hn::Add(dev, hn::Abs(hn::Sub(slot, mean)));
        }
        const V md = hn::Div(dev, vpf);
        const V cci = hn::Div(hn::Sub(hn::LoadU(d, tp + (t - base)), mean), hn::Mul(md, scale));
        hn::StoreU(hn::IfThenElseZero(md > hn::Zero(d), cci), d, out + j);
        j += std::min({L, p - r, count - j});
    }
}

}  // namespace lumenfold::core::lanes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lumenfold::core::lanes {

LF_DISPATCH(kama_factors, KamaFactors)
LF_DISPATCH(rsi_run, RsiRun)
LF_DISPATCH(lag_changes, LagChanges)
LF_DISPATCH(directional_index, DirectionalIndex)
LF_DISPATCH(willr_outputs, WillrOutputs)
LF_DISPATCH(typical_prices, TypicalPrices)
LF_DISPATCH(cci_outputs, CciOutputs)

}  // namespace lumenfold::core::lanes
#endif
