// The lane kernels, compiled once per instruction set and dispatched at run
// time. Plain multiplies and adds only (the build never contracts them).
#include "lumenfold/core/framework/lanes.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "framework/lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace lumenfold::core::lanes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using D = hn::ScalableTag<double>;
using V = hn::Vec<D>;

inline double load_be1(const std::uint8_t* p) {
    std::uint64_t bits;
    std::memcpy(&bits, p, 8);
    return std::bit_cast<double>(__builtin_bswap64(bits));
}
inline void store_be1(double x, std::uint8_t* p) {
    const std::uint64_t bits = __builtin_bswap64(std::bit_cast<std::uint64_t>(x));
    std::memcpy(p, &bits, 8);
}

// vec(i) for each whole vector of lanes from index 0 on, then one(i) for
// each index left below n.
template <class Vec, class One>
inline void lane_groups(std::size_t n, Vec vec, One one) {
    const std::size_t L = hn::Lanes(D());
    std::size_t i = 0;
    for (; i + L <= n; i += L) vec(i);
    for (; i < n; ++i) one(i);
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

// Four vectors of bars at a time keep four independent chains of additions
// in flight; the remainder goes one vector, then one bar, at a time.
void WeightedMeans(const double* x, std::size_t count, std::size_t p, const double* weights, bool newest_first,
                   double den, double* out) {
    const D d;
    const std::size_t L = hn::Lanes(d);
    const V vden = hn::Set(d, den);
    auto at = [&](std::size_t i) { return newest_first ? p - 1 - i : i; };
    std::size_t k = 0;
    for (; k + 4 * L <= count; k += 4 * L) {
        V a0 = hn::Zero(d), a1 = hn::Zero(d), a2 = hn::Zero(d), a3 = hn::Zero(d);
        for (std::size_t i = 0; i < p; ++i) {
            const double* w = x + k + at(i);
            const V wt = hn::Set(d, weights[i]);
            a0 = hn::Add(a0, hn::Mul(hn::LoadU(d, w), wt));
            a1 = hn::Add(a1, hn::Mul(hn::LoadU(d, w + L), wt));
            a2 = hn::Add(a2, hn::Mul(hn::LoadU(d, w + 2 * L), wt));
            a3 = hn::Add(a3, hn::Mul(hn::LoadU(d, w + 3 * L), wt));
        }
        hn::StoreU(hn::Div(a0, vden), d, out + k);
        hn::StoreU(hn::Div(a1, vden), d, out + k + L);
        hn::StoreU(hn::Div(a2, vden), d, out + k + 2 * L);
        hn::StoreU(hn::Div(a3, vden), d, out + k + 3 * L);
    }
    lane_groups(
        count - k,
        [&](std::size_t j) {
            V a = hn::Zero(d);
            for (std::size_t i = 0; i < p; ++i)
                a = hn::Add(a, hn::Mul(hn::LoadU(d, x + k + j + at(i)), hn::Set(d, weights[i])));
            hn::StoreU(hn::Div(a, vden), d, out + k + j);
        },
        [&](std::size_t j) {
            double a = 0.0;
            for (std::size_t i = 0; i < p; ++i) a = a + x[k + j + at(i)] * weights[i];
            out[k + j] = a / den;
        });
}

inline V kama_factor(const double* x, std::size_t p, V slow, V spread) {
    const D d;
    V vol = hn::Zero(d);
    for (std::size_t i = p; i > 0; --i) vol = hn::Add(vol, hn::Abs(hn::Sub(hn::LoadU(d, x + i), hn::LoadU(d, x + i - 1))));
    const V move = hn::Abs(hn::Sub(hn::LoadU(d, x + p), hn::LoadU(d, x)));
    const V er = hn::IfThenZeroElse(vol == hn::Zero(d), hn::Div(move, vol));
    const V sc = hn::Add(slow, hn::Mul(er, spread));
    return hn::Mul(sc, sc);
}

void KamaFactors(const double* x, std::size_t count, std::size_t p, double slow, double spread, double* out) {
    const D d;
    const std::size_t L = hn::Lanes(d);
    const V vslow = hn::Set(d, slow), vspread = hn::Set(d, spread);
    std::size_t k = 0;
    for (; k + 2 * L <= count; k += 2 * L) {
        hn::StoreU(kama_factor(x + k, p, vslow, vspread), d, out + k);
        hn::StoreU(kama_factor(x + k + L, p, vslow, vspread), d, out + k + L);
    }
    for (; k + L <= count; k += L) hn::StoreU(kama_factor(x + k, p, vslow, vspread), d, out + k);
    for (; k < count; ++k) {
        const double* w = x + k;
        double vol = 0.0;
        for (std::size_t i = p; i > 0; --i) vol = vol + std::fabs(w[i] - w[i - 1]);
        const double er = vol == 0.0 ? 0.0 : std::fabs(w[p] - w[0]) / vol;
        const double sc = slow + er * spread;
        out[k] = sc * sc;
    }
}

void RatesOfChange(const double* x, std::size_t count, std::size_t p, double* out) {
    const D d;
    const V hundred = hn::Set(d, 100.0);
    lane_groups(
        count,
        [&](std::size_t k) {
            const V old = hn::LoadU(d, x + k);
            const V rate = hn::Mul(hn::Div(hn::Sub(hn::LoadU(d, x + k + p), old), old), hundred);
            hn::StoreU(hn::IfThenZeroElse(old == hn::Zero(d), rate), d, out + k);
        },
        [&](std::size_t k) { out[k] = x[k] == 0.0 ? 0.0 : ((x[k + p] - x[k]) / x[k]) * 100.0; });
}

void RsiOutputs(const double* avg_gain, const double* avg_loss, std::size_t n, double* out) {
    const D d;
    const V hundred = hn::Set(d, 100.0), one = hn::Set(d, 1.0);
    lane_groups(
        n,
        [&](std::size_t i) {
            const V gain = hn::LoadU(d, avg_gain + i), loss = hn::LoadU(d, avg_loss + i);
            const V rsi = hn::Sub(hundred, hn::Div(hundred, hn::Add(hn::Div(gain, loss), one)));
            hn::StoreU(hn::IfThenElse(loss == hn::Zero(d), hundred, rsi), d, out + i);
        },
        [&](std::size_t i) {
            out[i] = avg_loss[i] == 0.0 ? 100.0 : 100.0 - 100.0 / (avg_gain[i] / avg_loss[i] + 1.0);
        });
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

// vec(i) for each vector of lanes from index 0 on, the last one partly past
// n: for padded arrays, whose room past n the lanes may read and write.
template <class Vec>
inline void padded_groups(std::size_t n, Vec vec) {
    const std::size_t L = hn::Lanes(D());
    for (std::size_t i = 0; i < n; i += L) vec(i);
}

void RescaledRanges(const double* x, std::size_t count, std::size_t p, double* ratio, double* var) {
    const D d;
    const V n = hn::Set(d, static_cast<double>(p));
    const V lowest = hn::Set(d, -std::numeric_limits<double>::max());
    const V highest = hn::Set(d, std::numeric_limits<double>::max());
    padded_groups(count, [&](std::size_t k) {
        const double* w = x + k;
        V sum = hn::Zero(d);
        for (std::size_t i = 0; i < p; ++i) sum = hn::Add(sum, hn::LoadU(d, w + i));
        const V mean = hn::Div(sum, n);
        V y = hn::Zero(d), hi = lowest, lo = highest;
        for (std::size_t i = 0; i < p; ++i) {
            y = hn::Add(y, hn::Sub(hn::LoadU(d, w + i), mean));
            hi = hn::IfThenElse(y > hi, y, hi);
            lo = hn::IfThenElse(y < lo, y, lo);
        }
        V squares = hn::Zero(d);
        for (std::size_t i = 0; i < p; ++i) {
            const V dev = hn::Sub(hn::LoadU(d, w + i), mean);
            squares = hn::Add(squares, hn::Mul(dev, dev));
        }
        const V v = hn::Div(squares, n);
        hn::StoreU(v, d, var + k);
        hn::StoreU(hn::Div(hn::Sub(hi, lo), hn::Sqrt(v)), d, ratio + k);
    });
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

HWY_EXPORT(FromBigEndian);
HWY_EXPORT(ToBigEndian);
HWY_EXPORT(WeightedMeans);
HWY_EXPORT(KamaFactors);
HWY_EXPORT(RatesOfChange);
HWY_EXPORT(RsiOutputs);
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
void kama_factors(const double* x, std::size_t count, std::size_t period, double slow, double spread,
                  double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(KamaFactors)(x, count, period, slow, spread, out);
}
void rates_of_change(const double* x, std::size_t count, std::size_t period, double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(RatesOfChange)(x, count, period, out);
}
void rsi_outputs(const double* avg_gain, const double* avg_loss, std::size_t n, double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(RsiOutputs)(avg_gain, avg_loss, n, out);
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
