// Per-bar maps of the classic family, written over their inputs and outputs
// (see lane_ops-inl.h), compiled once per instruction set by each file that
// includes it.
#if defined(LUMENFOLD_CLASSIC_MAPS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef LUMENFOLD_CLASSIC_MAPS_INL_H_
#undef LUMENFOLD_CLASSIC_MAPS_INL_H_
#else
#define LUMENFOLD_CLASSIC_MAPS_INL_H_
#endif

#include <cstddef>

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

}  // namespace lumenfold::core::lanes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // LUMENFOLD_CLASSIC_MAPS_INL_H_
