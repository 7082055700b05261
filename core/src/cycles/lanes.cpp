// The lane kernels of the cycles family, compiled once per instruction set
// and dispatched at run time. Plain multiplies and adds only (the build never
// contracts them).
#include "lumenfold/core/cycles/correlation_cycle.hpp"
#include "lumenfold/core/cycles/hurst.hpp"
#include "lumenfold/core/cycles/phasor.hpp"
#include "lumenfold/core/framework/num.hpp"
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "cycles/lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "framework/dispatch.hpp"
#include "framework/lane_ops-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lumenfold::core::lanes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

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

}  // namespace lumenfold::core::lanes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lumenfold::core::lanes {

LF_DISPATCH(rescaled_ranges, RescaledRanges)
LF_DISPATCH(wave_correlations, WaveCorrelations)
LF_DISPATCH(four_bar_means, FourBarMeans)
LF_DISPATCH(hilbert_firs, HilbertFirs)

}  // namespace lumenfold::core::lanes
#endif
