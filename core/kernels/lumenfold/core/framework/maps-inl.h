// Per-bar maps of the framework, written over their outputs (see
// lane_ops-inl.h), compiled once per instruction set by each file that
// includes it.
#if defined(LUMENFOLD_FRAMEWORK_MAPS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef LUMENFOLD_FRAMEWORK_MAPS_INL_H_
#undef LUMENFOLD_FRAMEWORK_MAPS_INL_H_
#else
#define LUMENFOLD_FRAMEWORK_MAPS_INL_H_
#endif

#include <algorithm>
#include <cmath>
#include <cstddef>

#include <hwy/highway.h>

#include "lumenfold/core/framework/lane_ops-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lumenfold::core::lanes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Eight vectors of bars at a time keep eight independent chains of additions
// in flight (enough to hide the latency of the additions even on narrow
// vectors); the remainder goes one vector, then one bar, at a time.
// Weighted means of full windows (framework/lanes.hpp, weighted_means), written
// to an output Out.
template <class Out>
void WeightedMeanLanes(const double* x, std::size_t count, std::size_t p, const double* weights, bool newest_first,
                       double den, Out out) {
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
        out.Store(hn::Div(a0, vden), k);
        out.Store(hn::Div(a1, vden), k + L);
        out.Store(hn::Div(a2, vden), k + 2 * L);
        out.Store(hn::Div(a3, vden), k + 3 * L);
        out.Store(hn::Div(a4, vden), k + 4 * L);
        out.Store(hn::Div(a5, vden), k + 5 * L);
        out.Store(hn::Div(a6, vden), k + 6 * L);
        out.Store(hn::Div(a7, vden), k + 7 * L);
    }
    lane_groups(
        count - k,
        [&](std::size_t j) {
            V a = hn::Zero(d);
            for (std::size_t i = 0; i < p; ++i)
                a = hn::Add(a, hn::Mul(hn::LoadU(d, x + k + j + at(i)), hn::Set(d, weights[i])));
            out.Store(hn::Div(a, vden), k + j);
        },
        [&](std::size_t j) {
            double a = 0.0;
            for (std::size_t i = 0; i < p; ++i) a = a + x[k + j + at(i)] * weights[i];
            out.Set(k + j, a / den);
        });
}

// Whether any of the n values of In x is a NaN (framework/lanes.hpp, any_nan).
template <class In>
bool AnyNanLanes(In x, std::size_t n) {
    const D d;
    const std::size_t L = hn::Lanes(d);
    std::size_t i = 0;
    for (; i + L <= n; i += L) {
        if (!hn::AllFalse(d, hn::IsNaN(x.Load(i)))) return true;
    }
    for (; i < n; ++i) {
        if (std::isnan(x.Get(i))) return true;
    }
    return false;
}

// Means over a running sum (framework/lanes.hpp, running_means): each group's
// entering and leaving values loaded in lanes one group ahead of the sum,
// which then waits on no load from the series; the sum bar by bar, the
// divisions of each group in lanes one group behind.
template <class In, class Out>
double RunningMeanLanes(In x, std::size_t count, std::size_t lag, double den, double sum, Out out) {
    constexpr std::size_t kGroup = 64;
    alignas(64) double entering[2][kGroup], leaving[2][kGroup], sums[2][kGroup];
    auto size = [&](std::size_t q) { return std::min(kGroup, count - q * kGroup); };
    pipelined_groups(
        count, kGroup,
        [&](auto d, std::size_t q) {
            LoadInto(d, x, lag + q * kGroup, size(q), entering[q % 2]);
            LoadInto(d, x, q * kGroup, size(q), leaving[q % 2]);
        },
        [&](std::size_t q) {
            const double* in = entering[q % 2];
            const double* old = leaving[q % 2];
            double* s = sums[q % 2];
            for (std::size_t j = 0, m = size(q); j < m; ++j) {
                sum = (in[j] + sum) - old[j];
                s[j] = sum;
            }
        },
        [&](auto d, std::size_t q) {
            const double* s = sums[q % 2];
            const std::size_t at = q * kGroup;
            const auto vden = hn::Set(d, den);
            lane_groups(
                d, size(q), [&](std::size_t j) { out.Store(hn::Div(hn::LoadU(d, s + j), vden), at + j); },
                [&](std::size_t j) { out.Set(at + j, s[j] / den); });
        });
    return sum;
}

}  // namespace lumenfold::core::lanes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // LUMENFOLD_FRAMEWORK_MAPS_INL_H_
