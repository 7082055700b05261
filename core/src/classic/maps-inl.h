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
#include <cstddef>

#include "lumenfold/core/framework/num.hpp"

#include <hwy/highway.h>

#include "framework/lane_ops-inl.h"

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

// Wilder's RSI of count bars from In x holding their prices after the one
// before them (classic/rsi.hpp, rsi_run): the averages bar by bar, the RSI of
// each group of bars in lanes one group behind.
template <class In, class Out>
void RsiLanes(In x, std::size_t count, double pf, double pf_less1, double* averages, Out out) {
    const D d;
    const V hundred = hn::Set(d, 100.0), one = hn::Set(d, 1.0);
    constexpr std::size_t kGroup = 64;
    alignas(64) double gains[2][kGroup], losses[2][kGroup];
    double avg_gain = averages[0], avg_loss = averages[1];
    auto size = [&](std::size_t q) { return std::min(kGroup, count - q * kGroup); };
    pipelined_groups(
        count, kGroup, [](std::size_t) {},
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
        [&](std::size_t q) {
            const double* g = gains[q % 2];
            const double* l = losses[q % 2];
            const std::size_t at = q * kGroup;
            lane_groups(
                size(q),
                [&](std::size_t j) {
                    const V gain = hn::LoadU(d, g + j), loss = hn::LoadU(d, l + j);
                    const V rsi = hn::Sub(hundred, hn::Div(hundred, hn::Add(hn::Div(gain, loss), one)));
                    out.Store(hn::IfThenElse(loss == hn::Zero(d), hundred, rsi), at + j);
                },
                [&](std::size_t j) { out.Set(at + j, l[j] == 0.0 ? 100.0 : 100.0 - 100.0 / (g[j] / l[j] + 1.0)); });
        });
    averages[0] = avg_gain;
    averages[1] = avg_loss;
}

}  // namespace lumenfold::core::lanes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // LUMENFOLD_CLASSIC_MAPS_INL_H_
