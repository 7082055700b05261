// The lane kernels of the channels family, compiled once per instruction set
// and dispatched at run time. Plain multiplies and adds only (the build never
// contracts them).
#include "lumenfold/core/channels/fractals.hpp"
#include "lumenfold/core/channels/pivot_points.hpp"
#include "lumenfold/core/channels/ttm_squeeze.hpp"
#include "lumenfold/core/channels/volume_profile.hpp"
#include "lumenfold/core/framework/num.hpp"
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <type_traits>
#include <limits>
#include <vector>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "channels/lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "framework/dispatch.hpp"
#include "framework/lane_ops-inl.h"
#include "channels/maps-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lumenfold::core::lanes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void FractalFlags(const double* high, const double* low, std::size_t count, FractalsOutput* out) {
    static_assert(sizeof(FractalsOutput) == 2 && offsetof(FractalsOutput, bullish) == 1);
    FractalFlagLanes(PlainIn{high}, PlainIn{low}, count, FlagPairs{reinterpret_cast<unsigned char*>(out)});
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

// A group of lanes is stored as whole vectors into a field-major block, then
// copied out record by record.
void PivotLevels(const double* high, const double* low, const double* close, std::size_t count,
                 PivotPointsOutput* out) {
    static_assert(sizeof(PivotPointsOutput) == 5 * sizeof(double) && std::is_standard_layout_v<PivotPointsOutput>);
    PivotLevelLanes(PlainIn{high}, PlainIn{low}, PlainIn{close}, count,
                    PlainRecords<5>{reinterpret_cast<double*>(out)});
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

LF_DISPATCH(fractal_flags, FractalFlags)
LF_DISPATCH(squeeze_parts, SqueezeParts)
LF_DISPATCH(regression_values, RegressionValues)
LF_DISPATCH(pivot_levels, PivotLevels)
LF_DISPATCH(points_of_control, PointsOfControl)

}  // namespace lumenfold::core::lanes
#endif
