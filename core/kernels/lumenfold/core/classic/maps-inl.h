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
#include <cmath>
#include <cstddef>

#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/classic/cci.hpp"
#include "lumenfold/core/classic/kama.hpp"
#include "lumenfold/core/classic/obv.hpp"
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

// Williams %R of the bars whose windows are high[k .. k+p-1] and
// low[k .. k+p-1], close[k+p-1] their close, for k < count: the extremes
// folded from the oldest bar on, a value at least as extreme replacing the
// standing one (the inputs hold no NaN); ((highest - close) * -100) / range
// where the range is positive, else 0.
inline V WillrOutput(V highest, V lowest, V close) {
    const D d;
    const V range = hn::Sub(highest, lowest);
    const V r = hn::Div(hn::Mul(hn::Sub(highest, close), hn::Set(d, -100.0)), range);
    return hn::IfThenElseZero(range > hn::Zero(d), r);
}

template <class Out>
void WillrLanes(const double* high, const double* low, const double* close, std::size_t count, std::size_t p,
                Out out) {
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
        out.Store(WillrOutput(hi, lo, hn::LoadU(d, close + k + p - 1)), k);
    }
    for (; k < count; ++k) {
        double hi = high[k], lo = low[k];
        for (std::size_t j = 1; j < p; ++j) {
            if (high[k + j] >= hi) hi = high[k + j];
            if (low[k + j] <= lo) lo = low[k + j];
        }
        const double range = hi - lo;
        out.Set(k, range > 0.0 ? ((hi - close[k + p - 1]) * -100.0) / range : 0.0);
    }
}

// Squared smoothing constants of KAMA for the bars [from, to): `moves` holds
// the sizes of the changes, moves[j] = |x[j + 1] - x[j]|.
template <class DD, class VV>
inline VV KamaFactor(DD d, const double* x, const double* moves, std::size_t k, std::size_t p, VV slow, VV spread) {
    VV vol = hn::Zero(d);
    for (std::size_t i = p; i > 0; --i) vol = hn::Add(vol, hn::LoadU(d, moves + k + i - 1));
    const VV move = hn::Abs(hn::Sub(hn::LoadU(d, x + k + p), hn::LoadU(d, x + k)));
    const VV er = hn::IfThenZeroElse(vol == hn::Zero(d), hn::Div(move, vol));
    const VV sc = hn::Add(slow, hn::Mul(er, spread));
    return hn::Mul(sc, sc);
}

template <class DD>
inline void KamaFactors(DD d, const double* x, const double* moves, std::size_t from, std::size_t to, std::size_t p,
                        double slow, double spread, double* out) {
    const auto vslow = hn::Set(d, slow), vspread = hn::Set(d, spread);
    lane_groups(
        d, to - from,
        [&](std::size_t j) { hn::StoreU(KamaFactor(d, x, moves, from + j, p, vslow, vspread), d, out + from + j); },
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
template <class DD>
inline void AbsChanges(DD d, const double* x, std::size_t from, std::size_t to, double* moves) {
    lane_groups(
        d, to - from,
        [&](std::size_t j) {
            const double* at = x + from + j;
            hn::StoreU(hn::Abs(hn::Sub(hn::LoadU(d, at + 1), hn::LoadU(d, at))), d, moves + from + j);
        },
        [&](std::size_t j) { moves[from + j] = std::fabs(x[from + j + 1] - x[from + j]); });
}

// The average over count bars from `value`: value = value + (x[k] - value) *
// f[k], written to out at `at + k`; returns the last value. Not inlined, so
// that the average keeps a register of its own whatever the lanes work
// beside it needs.
template <class Out>
HWY_NOINLINE double KamaSteps(const double* x, const double* f, std::size_t count, double value, Out out,
                              std::size_t at) {
    for (std::size_t k = 0; k < count; ++k) {
        value = value + (x[k] - value) * f[k];
        out.Set(at + k, value);
    }
    return value;
}

// KAMA of count bars from In x holding their inputs after the p before them
// (classic/kama.hpp, kama_run, with its work): each group's inputs loaded,
// and the sizes of their changes and their smoothing constants computed, in
// lanes one group ahead of the average, which writes each value as it goes;
// the inputs are read once and a chunk's arrays stay in the first-level
// cache. Returns the last value.
template <class In, class Out>
double KamaLanes(In x, std::size_t count, std::size_t p, double slow, double spread, double value, double* work,
                 Out out) {
    // Groups short enough for the lanes work of the next group to fit beside
    // the recursion in flight, long enough to amortise it.
    constexpr std::size_t kGroup = 16;
    const std::size_t chunk = kama_chunk(p);
    // v[j] is the input of bar first - p + j, m[j] = |v[j + 1] - v[j]|, f[k]
    // the squared constant of bar first + k.
    double* const v = work;
    double* const m = v + chunk + p + kPad;
    double* const f = m + chunk + p + kPad;
    for (std::size_t first = 0; first < count; first += chunk) {
        const std::size_t n = std::min(chunk, count - first);
        LoadInto(D(), x, first, p, v);
        AbsChanges(D(), v, 0, p - 1, m);
        pipelined_groups(
            n, kGroup,
            [&](auto d, std::size_t q) {
                const std::size_t from = q * kGroup, to = std::min(from + kGroup, n);
                LoadInto(d, x, first + p + from, to - from, v + p + from);
                AbsChanges(d, v, p - 1 + from, p - 1 + to, m);
                KamaFactors(d, v, m, from, to, p, slow, spread, f);
            },
            [&](std::size_t q) {
                const std::size_t from = q * kGroup;
                value = KamaSteps(v + p + from, f + from, std::min(kGroup, n - from), value, out, first + from);
            },
            [](auto, std::size_t) {});
    }
    return value;
}

// (close + (low + high)) / 3 of the bars from .. from + n - 1 of In high, low
// and close into out[0 .. n).
template <class In>
inline void TypicalPriceLanes(In high, In low, In close, std::size_t from, std::size_t n, double* out) {
    const D d;
    const V three = hn::Set(d, 3.0);
    lane_groups(
        n,
        [&](std::size_t i) {
            const std::size_t k = from + i;
            hn::StoreU(hn::Div(hn::Add(close.Load(k), hn::Add(low.Load(k), high.Load(k))), three), d, out + i);
        },
        [&](std::size_t i) {
            const std::size_t k = from + i;
            out[i] = (close.Get(k) + (low.Get(k) + high.Get(k))) / 3.0;
        });
}

// CCI of the bars first .. first + count - 1 (first >= p - 1): tp[b - base]
// is bar b's typical price for every bar of their windows (and tp holds the
// bars up to first + count - 1), sums[j] the running sum of bar first + j;
// `tp`, `sums` and `out` are padded. Lanes take consecutive bars of one block
// of p bars (b / p equal): for bar t = kp + r, slot i holds bar kp + i when i
// <= r, else bar kp + i - p. So every slot's value is one of two values
// shared by all lanes.
inline void CciOutputs(const double* tp, std::size_t base, const double* sums, std::size_t first, std::size_t count,
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

// CCI of count bars from In high, low and close holding their bars after the
// p - 1 before them (classic/cci.hpp, cci_run), chunk by chunk: the typical
// prices read straight from the inputs, the running sum bar by bar, the mean
// deviations and outputs in lanes.
template <class In, class Out>
void CciLanes(In high, In low, In close, std::size_t count, std::size_t p, CciState& state, double* work, Out out) {
    const std::size_t chunk = cci_chunk(p);
    const std::size_t most = std::min(chunk, count);
    // tp[0] is the typical price of the bar p bars before the chunk's first,
    // tp[1 + j] that of bar first - (p - 1) + j.
    double* const tp = work;
    double* const sums = tp + most + p + kPad;
    double* const results = sums + most + kPad;
    double sum = state.sum;
    for (std::size_t from = 0; from < count; from += chunk) {
        const std::size_t n = std::min(chunk, count - from);
        const std::size_t first = state.bar + from;
        tp[0] = state.leaving;
        TypicalPriceLanes(high, low, close, from, n + p - 1, tp + 1);
        if (first == p - 1) {
            for (std::size_t t = 0; t < p - 1; ++t) sum = sum + tp[t + 1];
        }
        for (std::size_t k = 0; k < n; ++k) {
            sum = first + k < p ? sum + tp[k + p] : sum + (tp[k + p] - tp[k]);
            sums[k] = sum;
        }
        CciOutputs(tp + 1, first - (p - 1), sums, first, n, p, results);
        StoreFrom(results, n, out, from);
        state.leaving = tp[n];
    }
    state.bar += count;
    state.sum = sum;
}

// Wilder's RSI of count bars from In x holding their prices after the one
// before them (classic/rsi.hpp, rsi_run): the averages bar by bar, the RSI of
// each group of bars in lanes one group behind.
template <class In, class Out>
void RsiLanes(In x, std::size_t count, double pf, double pf_less1, double* averages, Out out) {
    constexpr std::size_t kGroup = 64;
    alignas(64) double gains[2][kGroup], losses[2][kGroup];
    double avg_gain = averages[0], avg_loss = averages[1];
    auto size = [&](std::size_t q) { return std::min(kGroup, count - q * kGroup); };
    pipelined_groups(
        count, kGroup, [](auto, std::size_t) {},
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
        [&](auto d, std::size_t q) {
            const double* g = gains[q % 2];
            const double* l = losses[q % 2];
            const std::size_t at = q * kGroup;
            const auto hundred = hn::Set(d, 100.0), one = hn::Set(d, 1.0);
            lane_groups(
                d, size(q),
                [&](std::size_t j) {
                    const auto gain = hn::LoadU(d, g + j), loss = hn::LoadU(d, l + j);
                    const auto rsi = hn::Sub(hundred, hn::Div(hundred, hn::Add(hn::Div(gain, loss), one)));
                    out.Store(hn::IfThenElse(loss == hn::Zero(d), hundred, rsi), at + j);
                },
                [&](std::size_t j) { out.Set(at + j, l[j] == 0.0 ? 100.0 : 100.0 - 100.0 / (g[j] / l[j] + 1.0)); });
        });
    averages[0] = avg_gain;
    averages[1] = avg_loss;
}

// max_num_abs (framework/num.hpp) in lanes: b wins ties and against a NaN a; a NaN b
// loses.
template <class VV>
inline VV MaxNumAbs(VV a, VV b) { return hn::IfThenElse(hn::Or(b >= a, hn::IsNaN(a)), b, a); }

// true_range in lanes.
template <class VV>
inline VV TrueRange(VV high, VV low, VV prev_close) {
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
        count, [&](auto d, std::size_t i) { return TrueRange(high.Load(d, i + 1), low.Load(d, i + 1), close.Load(d, i)); },
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
    terms_ahead(
        count,
        [&](auto d, std::size_t i) {
            const auto prev = price.Load(d, i), p = price.Load(d, i + 1), v = volume.Load(d, i + 1);
            return hn::IfThenElse(p > prev, v, hn::IfThenElse(p < prev, hn::Neg(v), hn::Set(d, -0.0)));
        },
        [&](std::size_t i) { return obv_move(price.Get(i), price.Get(i + 1), volume.Get(i + 1)); },
        [&](std::size_t i, double m) {
            total = total + m;
            out.Set(i, total);
        });
    return total;
}

// The stops of count bars from In high and low holding their bars after the
// one before them (classic/sar.hpp, sar_run): each group's prices (and with
// AVX-512 their extremes with the previous bar's) in lanes one group ahead of
// the stops. With AVX-512 the stops step in one-lane vectors, every choice a
// blend on a mask, for the side flips unpredictably on market prices; the
// stop's arithmetic is the same on both sides, its maxima and minima the long
// side's taken on negated values while short. Elsewhere blends of vectors
// cost more than the flips mispredict, and the stops step as SAR::next does.
template <class In, class Out>
void SarLanes(In high, In low, std::size_t count, double acceleration, double maximum, SarState& state, Out out) {
    constexpr std::size_t kGroup = 64;
    constexpr bool kBlends = HWY_TARGET <= HWY_AVX3;
    // The high and the low of each bar; with blends max_num of the high and
    // the previous high and min_num of the low and the previous low, else the
    // previous high and low.
    alignas(64) double bars[2][4][kGroup];
    auto size = [&](std::size_t q) { return std::min(kGroup, count - q * kGroup); };
    auto load_group = [&](auto d, std::size_t q) {
        double(&b)[4][kGroup] = bars[q % 2];
        const std::size_t at = q * kGroup;
        lane_groups(
            d, size(q),
            [&](std::size_t j) {
                const auto h = high.Load(d, at + j + 1), l = low.Load(d, at + j + 1);
                hn::StoreU(h, d, b[0] + j);
                hn::StoreU(l, d, b[1] + j);
                if constexpr (kBlends) {
                    hn::StoreU(MaxNum(high.Load(d, at + j), h), d, b[2] + j);
                    hn::StoreU(MinNum(low.Load(d, at + j), l), d, b[3] + j);
                } else {
                    hn::StoreU(high.Load(d, at + j), d, b[2] + j);
                    hn::StoreU(low.Load(d, at + j), d, b[3] + j);
                }
            },
            [&](std::size_t j) {
                const double h = high.Get(at + j + 1), l = low.Get(at + j + 1);
                b[0][j] = h;
                b[1][j] = l;
                b[2][j] = kBlends ? max_num(high.Get(at + j), h) : high.Get(at + j);
                b[3][j] = kBlends ? min_num(low.Get(at + j), l) : low.Get(at + j);
            });
    };
    if constexpr (!kBlends) {
        SarState s = state;
        pipelined_groups(
            count, kGroup, load_group,
            [&](std::size_t q) {
                const double(&b)[4][kGroup] = bars[q % 2];
                for (std::size_t j = 0, at = q * kGroup, m = size(q); j < m; ++j)
                    out.Set(at + j, SAR::stop(s, b[0][j], b[1][j], b[2][j], b[3][j], acceleration, maximum));
            },
            [](auto, std::size_t) {});
        state = s;
    } else {
        const hn::CappedTag<double, 1> d1;
        using V1 = hn::Vec<decltype(d1)>;
        const V1 acc = hn::Set(d1, acceleration), most = hn::Set(d1, maximum), neg_zero = hn::Set(d1, -0.0);
        V1 sar = hn::Set(d1, state.sar), ep = hn::Set(d1, state.ep), af = hn::Set(d1, state.af);
        auto is_short = hn::Eq(hn::Set(d1, state.is_short ? 1.0 : 0.0), hn::Set(d1, 1.0));
        // -0 while short: Xor with it negates.
        V1 sign = hn::IfThenElseZero(is_short, neg_zero);
        pipelined_groups(
            count, kGroup, load_group,
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
            [](auto, std::size_t) {});
        state.sar = hn::GetLane(sar);
        state.ep = hn::GetLane(ep);
        state.af = hn::GetLane(af);
        state.is_short = hn::AllTrue(d1, is_short);
    }
}

}  // namespace lumenfold::core::lanes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // LUMENFOLD_CLASSIC_MAPS_INL_H_
