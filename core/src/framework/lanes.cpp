// The lane kernels, compiled once per instruction set and dispatched at run
// time. Plain multiplies and adds only (the build never contracts them).
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "framework/lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "framework/dispatch.hpp"
#include "framework/lane_ops-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lumenfold::core::lanes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

inline double load_be1(const std::uint8_t* p) {
    std::uint64_t bits;
    std::memcpy(&bits, p, 8);
    return std::bit_cast<double>(__builtin_bswap64(bits));
}
inline void store_be1(double x, std::uint8_t* p) {
    const std::uint64_t bits = __builtin_bswap64(std::bit_cast<std::uint64_t>(x));
    std::memcpy(p, &bits, 8);
}

// Vectors of doubles read and written big-endian.
#if HWY_TARGET == HWY_SCALAR
inline V load_be(const std::uint8_t* p) { return hn::Set(D(), load_be1(p)); }
inline void store_be(V v, std::uint8_t* p) { store_be1(hn::GetLane(v), p); }
#else
inline hn::Vec<hn::Repartition<std::uint8_t, D>> swap_bytes(hn::Vec<hn::Repartition<std::uint8_t, D>> v) {
    const hn::Repartition<std::uint8_t, D> d8;
    alignas(16) static constexpr std::uint8_t kSwap[16] = {7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8};
    return hn::TableLookupBytes(v, hn::LoadDup128(d8, kSwap));
}
inline V load_be(const std::uint8_t* p) {
    const hn::Repartition<std::uint8_t, D> d8;
    return hn::BitCast(D(), swap_bytes(hn::LoadU(d8, p)));
}
inline void store_be(V v, std::uint8_t* p) {
    const hn::Repartition<std::uint8_t, D> d8;
    hn::StoreU(swap_bytes(hn::BitCast(d8, v)), d8, p);
}
#endif

void FromBigEndian(const std::uint8_t* be, std::size_t n, double* out) {
    lane_groups(
        n, [&](std::size_t i) { hn::StoreU(load_be(be + i * 8), D(), out + i); },
        [&](std::size_t i) { out[i] = load_be1(be + i * 8); });
}

void ToBigEndian(const double* x, std::size_t n, std::uint8_t* be) {
    lane_groups(
        n, [&](std::size_t i) { store_be(hn::LoadU(D(), x + i), be + i * 8); },
        [&](std::size_t i) { store_be1(x[i], be + i * 8); });
}

// Eight vectors of bars at a time keep eight independent chains of additions
// in flight (enough to hide the latency of the additions even on narrow
// vectors); the remainder goes one vector, then one bar, at a time.
// store(v, k) and store1(x, k) write the means of bars k.. and k.
template <class Store, class Store1>
inline void weighted_means_to(const double* x, std::size_t count, std::size_t p, const double* weights,
                              bool newest_first, double den, Store store, Store1 store1) {
    const D d;
    const std::size_t L = hn::Lanes(d);
    const V vden = hn::Set(d, den);
    auto at = [&](std::size_t i) { return newest_first ? p - 1 - i : i; };
    std::size_t k = 0;
    for (; k + 8 * L <= count; k += 8 * L) {
        V a0 = hn::Zero(d), a1 = a0, a2 = a0, a3 = a0, a4 = a0, a5 = a0, a6 = a0, a7 = a0;
        for (std::size_t i = 0; i < p; ++i) {
            const double* w = x + k + at(i);
            const V wt = hn::Set(d, weights[i]);
            a0 = hn::Add(a0, hn::Mul(hn::LoadU(d, w), wt));
            a1 = hn::Add(a1, hn::Mul(hn::LoadU(d, w + L), wt));
            a2 = hn::Add(a2, hn::Mul(hn::LoadU(d, w + 2 * L), wt));
            a3 = hn::Add(a3, hn::Mul(hn::LoadU(d, w + 3 * L), wt));
            a4 = hn::Add(a4, hn::Mul(hn::LoadU(d, w + 4 * L), wt));
            a5 = hn::Add(a5, hn::Mul(hn::LoadU(d, w + 5 * L), wt));
            a6 = hn::Add(a6, hn::Mul(hn::LoadU(d, w + 6 * L), wt));
            a7 = hn::Add(a7, hn::Mul(hn::LoadU(d, w + 7 * L), wt));
        }
        store(hn::Div(a0, vden), k);
        store(hn::Div(a1, vden), k + L);
        store(hn::Div(a2, vden), k + 2 * L);
        store(hn::Div(a3, vden), k + 3 * L);
        store(hn::Div(a4, vden), k + 4 * L);
        store(hn::Div(a5, vden), k + 5 * L);
        store(hn::Div(a6, vden), k + 6 * L);
        store(hn::Div(a7, vden), k + 7 * L);
    }
    lane_groups(
        count - k,
        [&](std::size_t j) {
            V a = hn::Zero(d);
            for (std::size_t i = 0; i < p; ++i)
                a = hn::Add(a, hn::Mul(hn::LoadU(d, x + k + j + at(i)), hn::Set(d, weights[i])));
            store(hn::Div(a, vden), k + j);
        },
        [&](std::size_t j) {
            double a = 0.0;
            for (std::size_t i = 0; i < p; ++i) a = a + x[k + j + at(i)] * weights[i];
            store1(a / den, k + j);
        });
}

void WeightedMeans(const double* x, std::size_t count, std::size_t p, const double* weights, bool newest_first,
                   double den, double* out) {
    weighted_means_to(
        x, count, p, weights, newest_first, den, [&](V v, std::size_t k) { hn::StoreU(v, D(), out + k); },
        [&](double v, std::size_t k) { out[k] = v; });
}


// Squared smoothing constants of KAMA for the bars [from, to): `moves` holds
// the sizes of the changes, moves[j] = |x[j + 1] - x[j]|.
inline V kama_factor(const double* x, const double* moves, std::size_t k, std::size_t p, V slow, V spread) {
    const D d;
    V vol = hn::Zero(d);
    for (std::size_t i = p; i > 0; --i) vol = hn::Add(vol, hn::LoadU(d, moves + k + i - 1));
    const V move = hn::Abs(hn::Sub(hn::LoadU(d, x + k + p), hn::LoadU(d, x + k)));
    const V er = hn::IfThenZeroElse(vol == hn::Zero(d), hn::Div(move, vol));
    const V sc = hn::Add(slow, hn::Mul(er, spread));
    return hn::Mul(sc, sc);
}

inline void kama_factors(const double* x, const double* moves, std::size_t from, std::size_t to, std::size_t p,
                         double slow, double spread, double* out) {
    const D d;
    const V vslow = hn::Set(d, slow), vspread = hn::Set(d, spread);
    lane_groups(
        to - from,
        [&](std::size_t j) { hn::StoreU(kama_factor(x, moves, from + j, p, vslow, vspread), d, out + from + j); },
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

// The inputs of each group converted, and its smoothing constants computed,
// in lanes ahead of the recursion, which writes each average as it goes: the
// series is read and written in one pass, and a chunk's arrays stay in the
// first-level cache.
void KamaRun(const std::uint8_t* be, std::size_t n, std::size_t p, double slow, double spread, double value,
             std::uint8_t* out) {
    // Groups of 16 bars: short enough for the lanes work of the next group to
    // fit beside the recursion in flight, long enough to amortise it.
    const std::size_t group = 16;
    const std::size_t chunk = (std::max<std::size_t>(1024, p) / group + 1) * group;
    // xs[j] is the input of bar first - p + j, moves[j] = |xs[j + 1] - xs[j]|,
    // r[k] the factor of bar first + k.
    std::vector<double> xs(chunk + p + kPad), moves(chunk + p + kPad), r(chunk + kPad);
    for (std::size_t first = p; first < n; first += chunk) {
        const std::size_t count = std::min(chunk, n - first);
        FromBigEndian(be + (first - p) * 8, p, xs.data());
        abs_changes(xs.data(), 0, p - 1, moves.data());
        pipelined_groups(
            count, group,
            [&](std::size_t q) {
                const std::size_t from = q * group, to = std::min(from + group, count);
                FromBigEndian(be + (first + from) * 8, to - from, xs.data() + p + from);
                abs_changes(xs.data(), p - 1 + from, p - 1 + to, moves.data());
                kama_factors(xs.data(), moves.data(), from, to, p, slow, spread, r.data());
            },
            [&](std::size_t q) {
                for (std::size_t k = q * group, end = std::min(k + group, count); k < end; ++k) {
                    value = value + (xs[k + p] - value) * r[k];
                    store_be1(value, out + (first + k) * 8);
                }
            },
            [](std::size_t) {});
    }
}

// Wilder's averages bar by bar over native doubles, converted in lanes
// ahead; the RSI of each bar in lanes behind.
void RsiRun(const std::uint8_t* be, std::size_t from, std::size_t n, double pf, double pf_less1, double avg_gain,
            double avg_loss, std::uint8_t* out) {
    if (from >= n) return;
    const D d;
    const V hundred = hn::Set(d, 100.0), one = hn::Set(d, 1.0);
    constexpr std::size_t kGroup = 64;
    alignas(64) double prices[2][kGroup + 1], gains[2][kGroup], losses[2][kGroup];
    auto size = [&](std::size_t q) { return std::min(kGroup, n - from - q * kGroup); };
    pipelined_groups(
        n - from, kGroup,
        [&](std::size_t q) { FromBigEndian(be + (from + q * kGroup - 1) * 8, size(q) + 1, prices[q % 2]); },
        [&](std::size_t q) {
            const double* x = prices[q % 2];
            double* g = gains[q % 2];
            double* l = losses[q % 2];
            for (std::size_t j = 0, count = size(q); j < count; ++j) {
                // max_num(change, 0.0) and the loss without a branch: a NaN or
                // zero change of either sign gains +0.
                const double change = x[j + 1] - x[j];
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
            std::uint8_t* at = out + (from + q * kGroup) * 8;
            lane_groups(
                size(q),
                [&](std::size_t j) {
                    const V gain = hn::LoadU(d, g + j), loss = hn::LoadU(d, l + j);
                    const V rsi = hn::Sub(hundred, hn::Div(hundred, hn::Add(hn::Div(gain, loss), one)));
                    store_be(hn::IfThenElse(loss == hn::Zero(d), hundred, rsi), at + j * 8);
                },
                [&](std::size_t j) {
                    store_be1(l[j] == 0.0 ? 100.0 : 100.0 - 100.0 / (g[j] / l[j] + 1.0), at + j * 8);
                });
        });
}

// Changes over `lag` bars: x[k + lag] - x[k], or with kRate ((x[k + lag] -
// x[k]) / x[k]) * 100, 0 where x[k] is 0.
template <bool kRate>
void LagChangesOf(const double* x, std::size_t count, std::size_t lag, double* out) {
    const D d;
    const V hundred = hn::Set(d, 100.0);
    padded_groups(count, [&](std::size_t k) {
        const V old = hn::LoadU(d, x + k);
        const V change = hn::Sub(hn::LoadU(d, x + k + lag), old);
        if constexpr (kRate) {
            hn::StoreU(hn::IfThenZeroElse(old == hn::Zero(d), hn::Mul(hn::Div(change, old), hundred)), d, out + k);
        } else {
            hn::StoreU(change, d, out + k);
        }
    });
}

void LagChanges(const double* x, std::size_t count, std::size_t lag, bool rate, double* out) {
    if (rate) {
        LagChangesOf<true>(x, count, lag, out);
    } else {
        LagChangesOf<false>(x, count, lag, out);
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

bool AnyNan(const std::uint8_t* be, std::size_t n) {
    const D d;
    const std::size_t L = hn::Lanes(d);
    std::size_t i = 0;
    for (; i + L <= n; i += L) {
        const V v = load_be(be + i * 8);
        if (!hn::AllFalse(d, hn::IsNaN(v))) return true;
    }
    for (; i < n; ++i) {
        if (std::isnan(load_be1(be + i * 8))) return true;
    }
    return false;
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

void TypicalPrices(const std::uint8_t* high, const std::uint8_t* low, const std::uint8_t* close, std::size_t n,
                   double* out) {
    const D d;
    const V three = hn::Set(d, 3.0);
    lane_groups(
        n,
        [&](std::size_t i) {
            const V sum = hn::Add(load_be(close + i * 8), hn::Add(load_be(low + i * 8), load_be(high + i * 8)));
            hn::StoreU(hn::Div(sum, three), d, out + i);
        },
        [&](std::size_t i) {
            out[i] = (load_be1(close + i * 8) + (load_be1(low + i * 8) + load_be1(high + i * 8))) / 3.0;
        });
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

// Four vectors of bars at a time, as the weighted means.
template <bool kHighest>
void WindowExtremesOf(const double* x, std::size_t count, std::size_t p, double* out) {
    const D d;
    const std::size_t L = hn::Lanes(d);
    constexpr double kStart = kHighest ? -std::numeric_limits<double>::max() : std::numeric_limits<double>::max();
    auto take = [](V v, V e) { return hn::IfThenElse(kHighest ? v > e : v < e, v, e); };
    std::size_t k = 0;
    for (; k + 4 * L <= count; k += 4 * L) {
        V e0 = hn::Set(d, kStart), e1 = e0, e2 = e0, e3 = e0;
        for (std::size_t i = 0; i < p; ++i) {
            const double* w = x + k + i;
            e0 = take(hn::LoadU(d, w), e0);
            e1 = take(hn::LoadU(d, w + L), e1);
            e2 = take(hn::LoadU(d, w + 2 * L), e2);
            e3 = take(hn::LoadU(d, w + 3 * L), e3);
        }
        hn::StoreU(e0, d, out + k);
        hn::StoreU(e1, d, out + k + L);
        hn::StoreU(e2, d, out + k + 2 * L);
        hn::StoreU(e3, d, out + k + 3 * L);
    }
    lane_groups(
        count - k,
        [&](std::size_t j) {
            V e = hn::Set(d, kStart);
            for (std::size_t i = 0; i < p; ++i) e = take(hn::LoadU(d, x + k + j + i), e);
            hn::StoreU(e, d, out + k + j);
        },
        [&](std::size_t j) {
            double e = kStart;
            for (std::size_t i = 0; i < p; ++i) {
                const double v = x[k + j + i];
                if (kHighest ? v > e : v < e) e = v;
            }
            out[k + j] = e;
        });
}

void WindowExtremes(const double* x, std::size_t count, std::size_t p, bool highest, double* out) {
    if (highest) {
        WindowExtremesOf<true>(x, count, p, out);
    } else {
        WindowExtremesOf<false>(x, count, p, out);
    }
}

void WeightedRsiOutputs(const double* x, std::size_t count, std::size_t c, const double* weights, double* out) {
    const D d;
    const V zero = hn::Zero(d), limit = hn::Set(d, 1e-10);
    lane_groups(
        count,
        [&](std::size_t k) {
            V up = zero, down = zero;
            for (std::size_t i = 1; i <= c; ++i) {
                const V ch = hn::Sub(hn::LoadU(d, x + k + c - i + 1), hn::LoadU(d, x + k + c - i));
                const V size = hn::Mul(hn::Abs(ch), hn::Set(d, weights[i - 1]));
                up = hn::Add(up, hn::IfThenElseZero(ch > zero, size));
                down = hn::Add(down, hn::IfThenElseZero(ch < zero, size));
            }
            const V sum = hn::Add(down, up);
            hn::StoreU(hn::IfThenElseZero(hn::Abs(sum) > limit, hn::Div(hn::Sub(up, down), sum)), d, out + k);
        },
        [&](std::size_t k) {
            double up = 0.0, down = 0.0;
            for (std::size_t i = 1; i <= c; ++i) {
                const double ch = x[k + c - i + 1] - x[k + c - i];
                const double size = std::fabs(ch) * weights[i - 1];
                up = up + (ch > 0.0 ? size : 0.0);
                down = down + (ch < 0.0 ? size : 0.0);
            }
            const double sum = down + up;
            out[k] = std::fabs(sum) > 1e-10 ? (up - down) / sum : 0.0;
        });
}

void CorrelationTrendOutputs(const double* x, std::size_t count, std::size_t p, double sum_y, double vary,
                             double* out) {
    const D d;
    const V zero = hn::Zero(d), vn = hn::Set(d, static_cast<double>(p)), vsy = hn::Set(d, sum_y),
            vvy = hn::Set(d, vary);
    const double n = static_cast<double>(p);
    lane_groups(
        count,
        [&](std::size_t k) {
            V sx = zero, sxx = zero, sxy = zero;
            for (std::size_t i = 0; i < p; ++i) {
                const V xi = hn::LoadU(d, x + k + p - 1 - i);
                sx = hn::Add(sx, xi);
                sxx = hn::Add(sxx, hn::Mul(xi, xi));
                sxy = hn::Sub(sxy, hn::Mul(xi, hn::Set(d, static_cast<double>(i))));
            }
            const V varx = hn::Sub(hn::Mul(sxx, vn), hn::Mul(sx, sx));
            const V r = hn::Div(hn::Sub(hn::Mul(sxy, vn), hn::Mul(sx, vsy)), hn::Sqrt(hn::Mul(varx, vvy)));
            hn::StoreU(hn::IfThenElseZero(varx > zero, r), d, out + k);
        },
        [&](std::size_t k) {
            double sx = 0.0, sxx = 0.0, sxy = 0.0;
            for (std::size_t i = 0; i < p; ++i) {
                const double xi = x[k + p - 1 - i];
                sx = sx + xi;
                sxx = sxx + xi * xi;
                sxy = sxy - xi * static_cast<double>(i);
            }
            const double varx = sxx * n - sx * sx;
            out[k] = varx > 0.0 ? (sxy * n - sx * sum_y) / std::sqrt(varx * vary) : 0.0;
        });
}

void DirectionalDifferences(const double* high, const double* low, std::size_t n, double* out) {
    const D d;
    const V zero = hn::Zero(d);
    lane_groups(
        n,
        [&](std::size_t k) {
            const V up = hn::Sub(hn::LoadU(d, high + k + 1), hn::LoadU(d, high + k));
            const V down = hn::Sub(hn::LoadU(d, low + k), hn::LoadU(d, low + k + 1));
            const V plus = hn::IfThenElseZero(hn::And(up > down, up > zero), up);
            const V minus = hn::IfThenElseZero(hn::And(down > up, down > zero), down);
            hn::StoreU(hn::Sub(plus, minus), d, out + k);
        },
        [&](std::size_t k) {
            const double up = high[k + 1] - high[k];
            const double down = low[k] - low[k + 1];
            const double plus = up > down && up > 0.0 ? up : 0.0;
            const double minus = down > up && down > 0.0 ? down : 0.0;
            out[k] = plus - minus;
        });
}

inline V center_of_gravity(const double* x, std::size_t p) {
    const D d;
    V num = hn::Zero(d), den = hn::Zero(d);
    for (std::size_t i = 0; i < p; ++i) {
        const V xi = hn::LoadU(d, x + p - 1 - i);
        num = hn::Add(num, hn::Mul(xi, hn::Set(d, static_cast<double>(i + 1))));
        den = hn::Add(den, xi);
    }
    return hn::IfThenZeroElse(den == hn::Zero(d), hn::Div(hn::Neg(num), den));
}

void CenterOfGravityOutputs(const double* x, std::size_t count, std::size_t p, double* out) {
    const D d;
    const std::size_t L = hn::Lanes(d);
    std::size_t k = 0;
    for (; k + 2 * L <= count; k += 2 * L) {
        hn::StoreU(center_of_gravity(x + k, p), d, out + k);
        hn::StoreU(center_of_gravity(x + k + L, p), d, out + k + L);
    }
    for (; k + L <= count; k += L) hn::StoreU(center_of_gravity(x + k, p), d, out + k);
    for (; k < count; ++k) {
        double num = 0.0, den = 0.0;
        for (std::size_t i = 0; i < p; ++i) {
            const double xi = x[k + p - 1 - i];
            num = num + xi * static_cast<double>(i + 1);
            den = den + xi;
        }
        out[k] = den == 0.0 ? 0.0 : (-num) / den;
    }
}

// G vectors of bars from window w on, each lane walking its window as the
// streaming step does. The range and the squares take the same deviations in
// one pass; their chains stay apart, so each keeps its order of additions.
template <std::size_t G>
inline void rescaled_range_groups(const double* w, std::size_t p, double* ratio, double* var) {
    const D d;
    const std::size_t L = hn::Lanes(d);
    const V n = hn::Set(d, static_cast<double>(p));
    V sum[G];
    for (auto& s : sum) s = hn::Zero(d);
    for (std::size_t i = 0; i < p; ++i)
        for (std::size_t g = 0; g < G; ++g) sum[g] = hn::Add(sum[g], hn::LoadU(d, w + g * L + i));
    V mean[G], y[G], hi[G], lo[G], squares[G];
    for (std::size_t g = 0; g < G; ++g) {
        mean[g] = hn::Div(sum[g], n);
        y[g] = squares[g] = hn::Zero(d);
        hi[g] = hn::Set(d, -std::numeric_limits<double>::max());
        lo[g] = hn::Set(d, std::numeric_limits<double>::max());
    }
    for (std::size_t i = 0; i < p; ++i) {
        for (std::size_t g = 0; g < G; ++g) {
            const V dev = hn::Sub(hn::LoadU(d, w + g * L + i), mean[g]);
            y[g] = hn::Add(y[g], dev);
            hi[g] = hn::IfThenElse(y[g] > hi[g], y[g], hi[g]);
            lo[g] = hn::IfThenElse(y[g] < lo[g], y[g], lo[g]);
            squares[g] = hn::Add(squares[g], hn::Mul(dev, dev));
        }
    }
    for (std::size_t g = 0; g < G; ++g) {
        const V v = hn::Div(squares[g], n);
        hn::StoreU(v, d, var + g * L);
        hn::StoreU(hn::Div(hn::Sub(hi[g], lo[g]), hn::Sqrt(v)), d, ratio + g * L);
    }
}

// Groups of vectors in flight, so that the groups' chains of additions and
// comparisons overlap while each group's five running vectors stay in
// registers: four with AVX-512's 32, three with AVX2's 16, two on the
// narrower sets (where more measured no faster).
constexpr std::size_t kRangeGroups = HWY_TARGET <= HWY_AVX3 ? 4 : HWY_TARGET == HWY_AVX2 ? 3 : 2;

void RescaledRanges(const double* x, std::size_t count, std::size_t p, double* ratio, double* var) {
    constexpr std::size_t G = kRangeGroups;
    const std::size_t L = hn::Lanes(D());
    std::size_t k = 0;
    for (; k + G * L <= count; k += G * L) rescaled_range_groups<G>(x + k, p, ratio + k, var + k);
    // The at most G vectors left at once, the last one partly past count.
    const std::size_t left = (count - k + L - 1) / L;
    [&]<std::size_t... R>(std::index_sequence<R...>) {
        ((left == R + 1 ? rescaled_range_groups<R + 1>(x + k, p, ratio + k, var + k) : void()), ...);
    }(std::make_index_sequence<G>{});
}

void WaveCorrelations(const double* x, std::size_t count, std::size_t p, const double* a, double a_sum,
                      double a_var, const double* b, double b_sum, double b_var, double* corr_a, double* corr_b) {
    const D d;
    const V n = hn::Set(d, static_cast<double>(p));
    auto corr = [&](V sx, V price_var, V sxy, double sum, double var) {
        const V den = hn::Mul(price_var, hn::Set(d, var));
        const V c = hn::Div(hn::Sub(hn::Mul(n, sxy), hn::Mul(sx, hn::Set(d, sum))), hn::Sqrt(den));
        return hn::IfThenElseZero(den > hn::Zero(d), c);
    };
    padded_groups(count, [&](std::size_t k) {
        const double* w = x + k + p - 1;
        V sx = hn::Zero(d), sxx = hn::Zero(d), sxa = hn::Zero(d), sxb = hn::Zero(d);
        for (std::size_t i = 0; i < p; ++i) {
            const V v = hn::LoadU(d, w - i);
            sx = hn::Add(sx, v);
            sxx = hn::Add(sxx, hn::Mul(v, v));
            sxa = hn::Add(sxa, hn::Mul(v, hn::Set(d, a[i])));
            sxb = hn::Add(sxb, hn::Mul(v, hn::Set(d, b[i])));
        }
        const V price_var = hn::Sub(hn::Mul(n, sxx), hn::Mul(sx, sx));
        hn::StoreU(corr(sx, price_var, sxa, a_sum, a_var), d, corr_a + k);
        hn::StoreU(corr(sx, price_var, sxb, b_sum, b_var), d, corr_b + k);
    });
}

void EhlersFilterOutputs(const double* x, std::size_t count, std::size_t p, double* out) {
    const D d;
    const std::size_t top = 2 * p - 2;
    lane_groups(
        count,
        [&](std::size_t k) {
            const double* w = x + k;
            V num = hn::Zero(d), den = hn::Zero(d);
            for (std::size_t c = 0; c < p; ++c) {
                const V wc = hn::LoadU(d, w + top - c);
                V coef = hn::Zero(d);
                for (std::size_t j = 1; j < p; ++j) {
                    const V diff = hn::Sub(wc, hn::LoadU(d, w + top - c - j));
                    coef = hn::Add(coef, hn::Mul(diff, diff));
                }
                num = hn::Add(num, hn::Mul(wc, coef));
                den = hn::Add(den, coef);
            }
            const V newest = hn::LoadU(d, w + top);
            hn::StoreU(hn::IfThenElse(den == hn::Zero(d), newest, hn::Div(num, den)), d, out + k);
        },
        [&](std::size_t k) {
            const double* w = x + k;
            double num = 0.0, den = 0.0;
            for (std::size_t c = 0; c < p; ++c) {
                const double wc = w[top - c];
                double coef = 0.0;
                for (std::size_t j = 1; j < p; ++j) {
                    const double diff = wc - w[top - c - j];
                    coef = coef + diff * diff;
                }
                num = num + wc * coef;
                den = den + coef;
            }
            out[k] = den == 0.0 ? w[top] : num / den;
        });
}

inline V truncated_bandpass_one(const double* w, std::size_t p, V a, V b, V s1) {
    const D d;
    V t1 = hn::Zero(d), t2 = hn::Zero(d);
    for (std::size_t c = p; c-- > 0;) {
        const V diff = hn::Sub(hn::LoadU(d, w + p + 1 - c), hn::LoadU(d, w + p - 1 - c));
        const V t = hn::Sub(hn::Add(hn::Mul(a, t1), hn::Mul(b, diff)), hn::Mul(s1, t2));
        t2 = t1;
        t1 = t;
    }
    return t1;
}

// Each bar's recursion runs over its own window from a zero state; four
// vectors of bars keep four recursions in flight.
void TruncatedBandpassOutputs(const double* x, std::size_t count, std::size_t p, double a, double b, double s1,
                              double* out) {
    const D d;
    const std::size_t L = hn::Lanes(d);
    const V va = hn::Set(d, a), vb = hn::Set(d, b), vs1 = hn::Set(d, s1);
    std::size_t k = 0;
    for (; k + 4 * L <= count; k += 4 * L) {
        V t1[4], t2[4];
        for (auto& t : t1) t = hn::Zero(d);
        for (auto& t : t2) t = hn::Zero(d);
        for (std::size_t c = p; c-- > 0;) {
            for (std::size_t g = 0; g < 4; ++g) {
                const double* w = x + k + g * L;
                const V diff = hn::Sub(hn::LoadU(d, w + p + 1 - c), hn::LoadU(d, w + p - 1 - c));
                const V t = hn::Sub(hn::Add(hn::Mul(va, t1[g]), hn::Mul(vb, diff)), hn::Mul(vs1, t2[g]));
                t2[g] = t1[g];
                t1[g] = t;
            }
        }
        for (std::size_t g = 0; g < 4; ++g) hn::StoreU(t1[g], d, out + k + g * L);
    }
    lane_groups(
        count - k,
        [&](std::size_t j) { hn::StoreU(truncated_bandpass_one(x + k + j, p, va, vb, vs1), d, out + k + j); },
        [&](std::size_t j) {
            const double* w = x + k + j;
            double t1 = 0.0, t2 = 0.0;
            for (std::size_t c = p; c-- > 0;) {
                const double t = ((a * t1) + (b * (w[p + 1 - c] - w[p - 1 - c]))) - (s1 * t2);
                t2 = t1;
                t1 = t;
            }
            out[k + j] = t1;
        });
}

void ProjectedMeans(const double* x, std::size_t count, std::size_t p, double sum_x, double denom, double* pma,
                    double* slope) {
    const D d;
    const double nf = static_cast<double>(p);
    const V vnf = hn::Set(d, nf), vsum_x = hn::Set(d, sum_x), vdenom = hn::Set(d, denom), half = hn::Set(d, 0.5);
    lane_groups(
        count,
        [&](std::size_t k) {
            V sum_y = hn::Zero(d), sum_xy = hn::Zero(d);
            for (std::size_t j = 0; j < p; ++j) {
                const V w = hn::LoadU(d, x + k + p - 1 - j);
                sum_y = hn::Add(sum_y, w);
                sum_xy = hn::Add(sum_xy, hn::Mul(w, hn::Set(d, static_cast<double>(j + 1))));
            }
            const V s = denom == 0.0 ? hn::Zero(d)
                                     : hn::Div(hn::Neg(hn::Sub(hn::Mul(sum_xy, vnf), hn::Mul(sum_y, vsum_x))), vdenom);
            hn::StoreU(hn::Add(hn::Div(sum_y, vnf), hn::Mul(hn::Mul(s, vnf), half)), d, pma + k);
            hn::StoreU(s, d, slope + k);
        },
        [&](std::size_t k) {
            double sum_y = 0.0, sum_xy = 0.0;
            for (std::size_t j = 0; j < p; ++j) {
                const double w = x[k + p - 1 - j];
                sum_y = sum_y + w;
                sum_xy = sum_xy + w * static_cast<double>(j + 1);
            }
            const double s = denom == 0.0 ? 0.0 : -((sum_xy * nf) - (sum_y * sum_x)) / denom;
            pma[k] = (sum_y / nf) + ((s * nf) * 0.5);
            slope[k] = s;
        });
}

// Four vectors of bars keep four chains of additions in flight.
void SumsOfSquares(const double* x, std::size_t count, std::size_t p, double* out) {
    const D d;
    const std::size_t L = hn::Lanes(d);
    std::size_t k = 0;
    for (; k + 4 * L <= count; k += 4 * L) {
        V a[4];
        for (auto& v : a) v = hn::Zero(d);
        for (std::size_t i = p; i-- > 0;) {
            for (std::size_t g = 0; g < 4; ++g) {
                const V v = hn::LoadU(d, x + k + g * L + i);
                a[g] = hn::Add(a[g], hn::Mul(v, v));
            }
        }
        for (std::size_t g = 0; g < 4; ++g) hn::StoreU(a[g], d, out + k + g * L);
    }
    lane_groups(
        count - k,
        [&](std::size_t j) {
            V a = hn::Zero(d);
            for (std::size_t i = p; i-- > 0;) {
                const V v = hn::LoadU(d, x + k + j + i);
                a = hn::Add(a, hn::Mul(v, v));
            }
            hn::StoreU(a, d, out + k + j);
        },
        [&](std::size_t j) {
            double a = 0.0;
            for (std::size_t i = p; i-- > 0;) a = a + x[k + j + i] * x[k + j + i];
            out[k + j] = a;
        });
}

void RankChanges(const double* x, std::size_t count, std::size_t p, double* out) {
    const D d;
    const V zero = hn::Zero(d), one = hn::Set(d, 1.0);
    const auto vote = [&](V newer, V older) {
        const V diff = hn::Sub(older, newer);
        return hn::Sub(hn::IfThenElseZero(diff < zero, one), hn::IfThenElseZero(diff > zero, one));
    };
    const auto vote1 = [](double newer, double older) {
        const double diff = older - newer;
        return static_cast<double>(diff < 0.0) - static_cast<double>(diff > 0.0);
    };
    lane_groups(
        count,
        [&](std::size_t k) {
            const V newest = hn::LoadU(d, x + k + p), oldest = hn::LoadU(d, x + k);
            V acc = zero;
            for (std::size_t i = 1; i < p; ++i) {
                const V v = hn::LoadU(d, x + k + p - i);
                acc = hn::Sub(hn::Add(acc, vote(newest, v)), vote(v, oldest));
            }
            hn::StoreU(acc, d, out + k);
        },
        [&](std::size_t k) {
            double acc = 0.0;
            for (std::size_t i = 1; i < p; ++i) acc = (acc + vote1(x[k + p], x[k + p - i])) - vote1(x[k + p - i], x[k]);
            out[k] = acc;
        });
}

void WindowPartExtremes(const double* high, const double* low, std::size_t count, std::size_t width, std::size_t from,
                    std::size_t to, double* highest, double* lowest) {
    const D d;
    const double most = std::numeric_limits<double>::max();
    lane_groups(
        count,
        [&](std::size_t k) {
            V hi = hn::Set(d, -most), lo = hn::Set(d, most);
            for (std::size_t i = from; i < to; ++i) {
                const V h = hn::LoadU(d, high + k + width - 1 - i), l = hn::LoadU(d, low + k + width - 1 - i);
                hi = hn::IfThenElse(h > hi, h, hi);
                lo = hn::IfThenElse(l < lo, l, lo);
            }
            hn::StoreU(hi, d, highest + k);
            hn::StoreU(lo, d, lowest + k);
        },
        [&](std::size_t k) {
            double hi = -most, lo = most;
            for (std::size_t i = from; i < to; ++i) {
                const double h = high[k + width - 1 - i], l = low[k + width - 1 - i];
                hi = h > hi ? h : hi;
                lo = l < lo ? l : lo;
            }
            highest[k] = hi;
            lowest[k] = lo;
        });
}

// ---- Records of integers and flags, and outputs fewer than the step's ----

void FractalFlags(const std::uint8_t* high, const std::uint8_t* low, std::size_t count, std::uint8_t* out) {
    const hn::RebindToUnsigned<D> du;
    const hn::Rebind<std::uint16_t, D> d16;
    // The 16-bit values whose first byte in memory is 1 (bearish), the second (bullish).
    constexpr bool kLittle = std::endian::native == std::endian::little;
    const auto bear_bits = hn::Set(du, std::uint64_t{kLittle ? 0x0001u : 0x0100u});
    const auto bull_bits = hn::Set(du, std::uint64_t{kLittle ? 0x0100u : 0x0001u});
    lane_groups(
        count,
        [&](std::size_t k) {
            const std::uint8_t* h = high + k * 8;
            const std::uint8_t* l = low + k * 8;
            const V h2 = load_be(h + 16), l2 = load_be(l + 16);
            const auto bear = hn::And(hn::And(h2 > load_be(h), h2 > load_be(h + 8)),
                                      hn::And(h2 > load_be(h + 24), h2 > load_be(h + 32)));
            const auto bull = hn::And(hn::And(l2 < load_be(l), l2 < load_be(l + 8)),
                                      hn::And(l2 < load_be(l + 24), l2 < load_be(l + 32)));
            const auto flags = hn::Or(hn::IfThenElseZero(hn::RebindMask(du, bear), bear_bits),
                                      hn::IfThenElseZero(hn::RebindMask(du, bull), bull_bits));
            hn::StoreU(hn::TruncateTo(d16, flags), d16, reinterpret_cast<std::uint16_t*>(out + 2 * k));
        },
        [&](std::size_t k) {
            double hv[5], lv[5];
            for (std::size_t i = 0; i < 5; ++i) {
                hv[i] = load_be1(high + (k + i) * 8);
                lv[i] = load_be1(low + (k + i) * 8);
            }
            out[2 * k] = hv[2] > hv[0] && hv[2] > hv[1] && hv[2] > hv[3] && hv[2] > hv[4];
            out[2 * k + 1] = lv[2] < lv[0] && lv[2] < lv[1] && lv[2] < lv[3] && lv[2] < lv[4];
        });
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

// A group of lanes is byte-swapped as whole vectors into a field-major block,
// then copied out record by record.
void PivotLevels(const std::uint8_t* high, const std::uint8_t* low, const std::uint8_t* close, std::size_t n,
                 std::uint8_t* be) {
    const D d;
    const std::size_t L = hn::Lanes(d);
    const V three = hn::Set(d, 3.0);
    HWY_ALIGN std::uint8_t block[5][hn::MaxLanes(D()) * 8];
    lane_groups(
        n,
        [&](std::size_t i) {
            const V h = load_be(high + i * 8), l = load_be(low + i * 8), c = load_be(close + i * 8);
            const V p = hn::Div(hn::Add(c, hn::Add(l, h)), three);
            const V two_p = hn::Add(p, p);
            const V range = hn::Sub(h, l);
            store_be(p, block[0]);
            store_be(hn::Sub(two_p, l), block[1]);
            store_be(hn::Sub(two_p, h), block[2]);
            store_be(hn::Add(range, p), block[3]);
            store_be(hn::Sub(p, range), block[4]);
            for (std::size_t j = 0; j < L; ++j) {
                for (std::size_t f = 0; f < 5; ++f) std::memcpy(be + (i + j) * 40 + f * 8, block[f] + j * 8, 8);
            }
        },
        [&](std::size_t i) {
            const double h = load_be1(high + i * 8), l = load_be1(low + i * 8);
            const double p = (load_be1(close + i * 8) + (l + h)) / 3.0;
            const double two_p = p + p;
            const double range = h - l;
            std::uint8_t* r = be + i * 40;
            store_be1(p, r);
            store_be1(two_p - l, r + 8);
            store_be1(two_p - h, r + 16);
            store_be1(range + p, r + 24);
            store_be1(p - range, r + 32);
        });
}

void FourBarMeans(const double* x, std::size_t count, double* out) {
    const D d;
    const V four = hn::Set(d, 4.0), three = hn::Set(d, 3.0), ten = hn::Set(d, 10.0);
    lane_groups(
        count,
        [&](std::size_t k) {
            const V x2 = hn::LoadU(d, x + k + 1);
            const V a = hn::Add(hn::Mul(hn::LoadU(d, x + k + 3), four), hn::Mul(hn::LoadU(d, x + k + 2), three));
            hn::StoreU(hn::Div(hn::Add(hn::Add(a, hn::Add(x2, x2)), hn::LoadU(d, x + k)), ten), d, out + k);
        },
        [&](std::size_t k) {
            out[k] = ((((x[k + 3] * 4.0) + (x[k + 2] * 3.0)) + (x[k + 1] + x[k + 1])) + x[k]) / 10.0;
        });
}

void HilbertFirs(const double* x, std::size_t count, double outer, double inner, double gain, double* out) {
    const D d;
    const V vo = hn::Set(d, outer), vi = hn::Set(d, inner), vg = hn::Set(d, gain);
    lane_groups(
        count,
        [&](std::size_t k) {
            const V a = hn::Add(hn::Mul(hn::LoadU(d, x + k + 6), vo), hn::Mul(hn::LoadU(d, x + k + 4), vi));
            const V b = hn::Sub(hn::Sub(a, hn::Mul(hn::LoadU(d, x + k + 2), vi)), hn::Mul(hn::LoadU(d, x + k), vo));
            hn::StoreU(hn::Mul(vg, b), d, out + k);
        },
        [&](std::size_t k) {
            out[k] = gain * ((((x[k + 6] * outer) + (x[k + 4] * inner)) - (x[k + 2] * inner)) - (x[k] * outer));
        });
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

}  // namespace lumenfold::core::lanes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lumenfold::core::lanes {

LF_DISPATCH(lag_changes, LagChanges)

HWY_EXPORT(FromBigEndian);
HWY_EXPORT(ToBigEndian);
HWY_EXPORT(WeightedMeans);
HWY_EXPORT(KamaRun);
HWY_EXPORT(RsiRun);
HWY_EXPORT(DirectionalIndex);
HWY_EXPORT(AnyNan);
HWY_EXPORT(WillrOutputs);
HWY_EXPORT(TypicalPrices);
HWY_EXPORT(CciOutputs);
HWY_EXPORT(WindowExtremes);
HWY_EXPORT(WeightedRsiOutputs);
HWY_EXPORT(CorrelationTrendOutputs);
HWY_EXPORT(DirectionalDifferences);
HWY_EXPORT(CenterOfGravityOutputs);
HWY_EXPORT(RescaledRanges);
HWY_EXPORT(WaveCorrelations);
HWY_EXPORT(EhlersFilterOutputs);
HWY_EXPORT(TruncatedBandpassOutputs);
HWY_EXPORT(ProjectedMeans);
HWY_EXPORT(SumsOfSquares);
HWY_EXPORT(RankChanges);
HWY_EXPORT(WindowPartExtremes);
HWY_EXPORT(FractalFlags);
HWY_EXPORT(SqueezeParts);
HWY_EXPORT(RegressionValues);
HWY_EXPORT(PivotLevels);
HWY_EXPORT(FourBarMeans);
HWY_EXPORT(HilbertFirs);
HWY_EXPORT(PointsOfControl);

void from_big_endian(const std::uint8_t* be, std::size_t n, double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(FromBigEndian)(be, n, out);
}
void to_big_endian(const double* x, std::size_t n, std::uint8_t* be) noexcept {
    HWY_DYNAMIC_DISPATCH(ToBigEndian)(x, n, be);
}
void weighted_means(const double* x, std::size_t count, std::size_t period, const double* weights, bool newest_first,
                    double den, double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(WeightedMeans)(x, count, period, weights, newest_first, den, out);
}
void kama_run(const std::uint8_t* be, std::size_t n, std::size_t period, double slow, double spread, double value,
              std::uint8_t* out) {
    HWY_DYNAMIC_DISPATCH(KamaRun)(be, n, period, slow, spread, value, out);
}
void rsi_run(const std::uint8_t* be, std::size_t from, std::size_t n, double period, double period_less1,
             double avg_gain, double avg_loss, std::uint8_t* out) noexcept {
    HWY_DYNAMIC_DISPATCH(RsiRun)(be, from, n, period, period_less1, avg_gain, avg_loss, out);
}
void directional_index(const double* plus, const double* minus, const double* tr, std::size_t n,
                       double* dx) noexcept {
    HWY_DYNAMIC_DISPATCH(DirectionalIndex)(plus, minus, tr, n, dx);
}
bool any_nan(const std::uint8_t* be, std::size_t n) noexcept { return HWY_DYNAMIC_DISPATCH(AnyNan)(be, n); }
void willr_outputs(const double* high, const double* low, const double* close, std::size_t count,
                   std::size_t period, double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(WillrOutputs)(high, low, close, count, period, out);
}
void typical_prices(const std::uint8_t* high, const std::uint8_t* low, const std::uint8_t* close, std::size_t n,
                    double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(TypicalPrices)(high, low, close, n, out);
}
void cci_outputs(const double* tp, std::size_t base, const double* sums, std::size_t first, std::size_t count,
                 std::size_t period, double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(CciOutputs)(tp, base, sums, first, count, period, out);
}
void window_extremes(const double* x, std::size_t count, std::size_t period, bool highest, double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(WindowExtremes)(x, count, period, highest, out);
}

void weighted_rsi_outputs(const double* x, std::size_t count, std::size_t changes, const double* weights,
                          double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(WeightedRsiOutputs)(x, count, changes, weights, out);
}
void correlation_trend_outputs(const double* x, std::size_t count, std::size_t period, double sum_y, double vary,
                               double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(CorrelationTrendOutputs)(x, count, period, sum_y, vary, out);
}

void directional_differences(const double* high, const double* low, std::size_t n, double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(DirectionalDifferences)(high, low, n, out);
}

void center_of_gravity_outputs(const double* x, std::size_t count, std::size_t period, double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(CenterOfGravityOutputs)(x, count, period, out);
}

void rescaled_ranges(const double* x, std::size_t count, std::size_t period, double* ratio, double* var) noexcept {
    HWY_DYNAMIC_DISPATCH(RescaledRanges)(x, count, period, ratio, var);
}
void wave_correlations(const double* x, std::size_t count, std::size_t period, const double* a, double a_sum,
                       double a_var, const double* b, double b_sum, double b_var, double* corr_a,
                       double* corr_b) noexcept {
    HWY_DYNAMIC_DISPATCH(WaveCorrelations)(x, count, period, a, a_sum, a_var, b, b_sum, b_var, corr_a, corr_b);
}

void ehlers_filter_outputs(const double* x, std::size_t count, std::size_t period, double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(EhlersFilterOutputs)(x, count, period, out);
}
void truncated_bandpass_outputs(const double* x, std::size_t count, std::size_t period, double a, double b,
                                double s1, double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(TruncatedBandpassOutputs)(x, count, period, a, b, s1, out);
}

void projected_means(const double* x, std::size_t count, std::size_t period, double sum_x, double denom,
                     double* pma, double* slope) noexcept {
    HWY_DYNAMIC_DISPATCH(ProjectedMeans)(x, count, period, sum_x, denom, pma, slope);
}

void sums_of_squares(const double* x, std::size_t count, std::size_t period, double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(SumsOfSquares)(x, count, period, out);
}

void rank_changes(const double* x, std::size_t count, std::size_t period, double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(RankChanges)(x, count, period, out);
}

void window_part_extremes(const double* high, const double* low, std::size_t count, std::size_t width,
                     std::size_t from, std::size_t to, double* highest, double* lowest) noexcept {
    HWY_DYNAMIC_DISPATCH(WindowPartExtremes)(high, low, count, width, from, to, highest, lowest);
}

void fractal_flags(const std::uint8_t* high, const std::uint8_t* low, std::size_t count,
                   std::uint8_t* out) noexcept {
    HWY_DYNAMIC_DISPATCH(FractalFlags)(high, low, count, out);
}
void squeeze_parts(const double* s, const double* q, const double* a, const double* hi, const double* lo,
                   const double* c, std::size_t count, std::size_t period, double mult_bb, double mult_kc,
                   double* squeeze, double* delta) noexcept {
    HWY_DYNAMIC_DISPATCH(SqueezeParts)(s, q, a, hi, lo, c, count, period, mult_bb, mult_kc, squeeze, delta);
}
void regression_values(const double* x, std::size_t count, std::size_t period, double sum_x, double denominator,
                       double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(RegressionValues)(x, count, period, sum_x, denominator, out);
}

void pivot_levels(const std::uint8_t* high, const std::uint8_t* low, const std::uint8_t* close, std::size_t n,
                  std::uint8_t* be) noexcept {
    HWY_DYNAMIC_DISPATCH(PivotLevels)(high, low, close, n, be);
}

void four_bar_means(const double* x, std::size_t count, double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(FourBarMeans)(x, count, out);
}
void hilbert_firs(const double* x, std::size_t count, double outer, double inner, double gain, double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(HilbertFirs)(x, count, outer, inner, gain, out);
}

void points_of_control(const double* price, const double* volume, const double* lo, const double* hi,
                       std::size_t count, std::size_t period, std::size_t bins, double* scratch, double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(PointsOfControl)(price, volume, lo, hi, count, period, bins, scratch, out);
}

}  // namespace lumenfold::core::lanes
#endif
