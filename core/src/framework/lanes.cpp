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


bool AnyNan(const double* x, std::size_t n) {
    const D d;
    const std::size_t L = hn::Lanes(d);
    std::size_t i = 0;
    for (; i + L <= n; i += L) {
        if (!hn::AllFalse(d, hn::IsNaN(hn::LoadU(d, x + i)))) return true;
    }
    for (; i < n; ++i) {
        if (std::isnan(x[i])) return true;
    }
    return false;
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

void Divide(const double* x, std::size_t count, double den, double* out) {
    const D d;
    const V vden = hn::Set(d, den);
    padded_groups(count, [&](std::size_t k) { hn::StoreU(hn::Div(hn::LoadU(d, x + k), vden), d, out + k); });
}

}  // namespace lumenfold::core::lanes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lumenfold::core::lanes {

LF_DISPATCH(weighted_means, WeightedMeans)
LF_DISPATCH(any_nan, AnyNan)
LF_DISPATCH(divide, Divide)
LF_DISPATCH(window_extremes, WindowExtremes)

}  // namespace lumenfold::core::lanes
#endif
