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
#include "lumenfold/core/framework/lane_ops-inl.h"
#include "lumenfold/core/framework/maps-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lumenfold::core::lanes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void WeightedMeans(const double* x, std::size_t count, std::size_t p, const double* weights, bool newest_first,
                   double den, double* out) {
    WeightedMeanLanes(x, count, p, weights, newest_first, den, PlainOut{out});
}

bool AnyNan(const double* x, std::size_t n) { return AnyNanLanes(PlainIn{x}, n); }

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

double RunningMeans(const double* x, std::size_t count, std::size_t lag, double den, double sum, double* out) {
    return RunningMeanLanes(PlainIn{x}, count, lag, den, sum, PlainOut{out});
}

}  // namespace lumenfold::core::lanes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include <atomic>

namespace lumenfold::core::lanes {

namespace {

std::atomic<bool>& chain_lanes_narrow() {
#if HWY_ARCH_X86
    // Narrow on Intel only; AMD and any other vendor keep the full width.
    // Read once the processor's description is loaded, whenever the first
    // call comes.
    static std::atomic<bool> narrow{[] {
        __builtin_cpu_init();
        return __builtin_cpu_is("intel") != 0;
    }()};
#else
    static std::atomic<bool> narrow{true};
#endif
    return narrow;
}

}  // namespace

bool narrow_chain_lanes() noexcept { return chain_lanes_narrow().load(std::memory_order_relaxed); }
void set_narrow_chain_lanes(bool narrow) noexcept { chain_lanes_narrow().store(narrow, std::memory_order_relaxed); }

LF_DISPATCH(weighted_means, WeightedMeans)
LF_DISPATCH(any_nan, AnyNan)
LF_DISPATCH(running_means, RunningMeans)
LF_DISPATCH(window_extremes, WindowExtremes)

}  // namespace lumenfold::core::lanes
#endif
