// The lane kernels of the oscillators family, compiled once per instruction set
// and dispatched at run time. Plain multiplies and adds only (the build never
// contracts them).
#include "lumenfold/core/oscillators/cg.hpp"
#include "lumenfold/core/oscillators/correlation_trend.hpp"
#include "lumenfold/core/oscillators/dmh.hpp"
#include "lumenfold/core/oscillators/rocket_rsi.hpp"
#include "lumenfold/core/oscillators/rsih.hpp"
#include "lumenfold/core/framework/num.hpp"
#include <cmath>
#include <cstddef>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "oscillators/lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "framework/dispatch.hpp"
#include "lumenfold/core/framework/lane_ops-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lumenfold::core::lanes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The sums of the rises and of the falls among the c changes that end at
// x[k + c], the i-th newest weighed by weights[i - 1] (unweighed without
// weights), added newest first: for the bars from k on in lanes, and for bar
// k alone.
inline void RiseFallSums(const double* x, std::size_t k, std::size_t c, const double* weights, V& up, V& down) {
    const D d;
    const V zero = hn::Zero(d);
    up = zero;
    down = zero;
    for (std::size_t i = 1; i <= c; ++i) {
        const V ch = hn::Sub(hn::LoadU(d, x + k + c - i + 1), hn::LoadU(d, x + k + c - i));
        const V size = weights ? hn::Mul(hn::Abs(ch), hn::Set(d, weights[i - 1])) : hn::Abs(ch);
        up = hn::Add(up, hn::IfThenElseZero(ch > zero, size));
        down = hn::Add(down, hn::IfThenElseZero(ch < zero, size));
    }
}

inline void RiseFallSums(const double* x, std::size_t k, std::size_t c, const double* weights, double& up,
                         double& down) {
    up = 0.0;
    down = 0.0;
    for (std::size_t i = 1; i <= c; ++i) {
        const double ch = x[k + c - i + 1] - x[k + c - i];
        const double size = weights ? std::fabs(ch) * weights[i - 1] : std::fabs(ch);
        up = up + (ch > 0.0 ? size : 0.0);
        down = down + (ch < 0.0 ? size : 0.0);
    }
}

void WeightedRsiOutputs(const double* x, std::size_t count, std::size_t c, const double* weights, double* out) {
    const D d;
    const V limit = hn::Set(d, 1e-10);
    lane_groups(
        count,
        [&](std::size_t k) {
            V up, down;
            RiseFallSums(x, k, c, weights, up, down);
            const V sum = hn::Add(down, up);
            hn::StoreU(hn::IfThenElseZero(hn::Abs(sum) > limit, hn::Div(hn::Sub(up, down), sum)), d, out + k);
        },
        [&](std::size_t k) {
            double up, down;
            RiseFallSums(x, k, c, weights, up, down);
            const double sum = down + up;
            out[k] = std::fabs(sum) > 1e-10 ? (up - down) / sum : 0.0;
        });
}

void MyRsiFisherRatios(const double* x, std::size_t count, std::size_t c, double* out) {
    const D d;
    const V zero = hn::Zero(d), one = hn::Set(d, 1.0), low = hn::Set(d, -0.999), high = hn::Set(d, 0.999);
    lane_groups(
        count,
        [&](std::size_t k) {
            V up, down;
            RiseFallSums(x, k, c, nullptr, up, down);
            const V sum = hn::Add(down, up);
            V v = hn::IfThenZeroElse(sum == zero, hn::Div(hn::Sub(up, down), sum));
            v = hn::IfThenElse(v < low, low, v);
            v = hn::IfThenElse(v > high, high, v);
            hn::StoreU(hn::Div(hn::Add(v, one), hn::Sub(one, v)), d, out + k);
        },
        [&](std::size_t k) {
            double up, down;
            RiseFallSums(x, k, c, nullptr, up, down);
            const double sum = down + up;
            double v = sum == 0.0 ? 0.0 : (up - down) / sum;
            v = v < -0.999 ? -0.999 : v;
            v = v > 0.999 ? 0.999 : v;
            out[k] = (v + 1.0) / (1.0 - v);
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

}  // namespace lumenfold::core::lanes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lumenfold::core::lanes {

LF_DISPATCH(weighted_rsi_outputs, WeightedRsiOutputs)
LF_DISPATCH(my_rsi_fisher_ratios, MyRsiFisherRatios)
LF_DISPATCH(correlation_trend_outputs, CorrelationTrendOutputs)
LF_DISPATCH(directional_differences, DirectionalDifferences)
LF_DISPATCH(center_of_gravity_outputs, CenterOfGravityOutputs)

}  // namespace lumenfold::core::lanes
#endif
