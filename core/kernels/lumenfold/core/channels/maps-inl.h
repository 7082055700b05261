// Per-bar maps of the channels family, written over their inputs and outputs
// (see lane_ops-inl.h), compiled once per instruction set by each file that
// includes it.
#if defined(LUMENFOLD_CHANNELS_MAPS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef LUMENFOLD_CHANNELS_MAPS_INL_H_
#undef LUMENFOLD_CHANNELS_MAPS_INL_H_
#else
#define LUMENFOLD_CHANNELS_MAPS_INL_H_
#endif

#include <bit>
#include <cstddef>
#include <cstdint>

#include <hwy/highway.h>

#include "lumenfold/core/framework/lane_ops-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lumenfold::core::lanes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Floor-trader pivot levels of bars k < count, as records of five: p =
// (close + (low + high)) / 3, then p + p - low, p + p - high, (high - low) + p
// and p - (high - low).
template <class In, class Out>
void PivotLevelLanes(In high, In low, In close, std::size_t count, Out out) {
    const D d;
    const V three = hn::Set(d, 3.0);
    lane_groups(
        count,
        [&](std::size_t k) {
            const V h = high.Load(k), l = low.Load(k);
            const V p = hn::Div(hn::Add(close.Load(k), hn::Add(l, h)), three);
            const V two_p = hn::Add(p, p);
            const V range = hn::Sub(h, l);
            const V levels[5] = {p, hn::Sub(two_p, l), hn::Sub(two_p, h), hn::Add(range, p), hn::Sub(p, range)};
            out.Store(levels, k);
        },
        [&](std::size_t k) {
            const double h = high.Get(k), l = low.Get(k);
            const double p = (close.Get(k) + (l + h)) / 3.0;
            const double two_p = p + p;
            const double range = h - l;
            const double levels[5] = {p, two_p - l, two_p - h, range + p, p - range};
            out.Set(k, levels);
        });
}

// Five-bar fractals of the windows high[k .. k+4] and low[k .. k+4] (k <
// count): bearish when the middle high is strictly above the four others,
// bullish when the middle low is strictly below them (a NaN among them
// prevents either). Out takes StoreFlags(bearish, bullish, k) with masks of
// the bars k, k + 1, ..., and SetFlags(k, bearish, bullish).
template <class In, class Out>
void FractalFlagLanes(In high, In low, std::size_t count, Out out) {
    lane_groups(
        count,
        [&](std::size_t k) {
            const V h2 = high.Load(k + 2), l2 = low.Load(k + 2);
            const auto bear = hn::And(hn::And(h2 > high.Load(k), h2 > high.Load(k + 1)),
                                      hn::And(h2 > high.Load(k + 3), h2 > high.Load(k + 4)));
            const auto bull = hn::And(hn::And(l2 < low.Load(k), l2 < low.Load(k + 1)),
                                      hn::And(l2 < low.Load(k + 3), l2 < low.Load(k + 4)));
            out.StoreFlags(bear, bull, k);
        },
        [&](std::size_t k) {
            const double h2 = high.Get(k + 2), l2 = low.Get(k + 2);
            const bool bear = h2 > high.Get(k) && h2 > high.Get(k + 1) && h2 > high.Get(k + 3) && h2 > high.Get(k + 4);
            const bool bull = l2 < low.Get(k) && l2 < low.Get(k + 1) && l2 < low.Get(k + 3) && l2 < low.Get(k + 4);
            out.SetFlags(k, bear, bull);
        });
}

// Flag pairs as records of two bytes, 1 or 0: the layout of FractalsOutput.
// A group of lanes stores its pairs at once, each as the 16-bit value whose
// bytes in memory are the bearish flag, then the bullish one.
struct FlagPairs {
    unsigned char* p;
    void StoreFlags(hn::Mask<D> bear, hn::Mask<D> bull, std::size_t k) const {
        const hn::RebindToUnsigned<D> du;
        const hn::Rebind<std::uint16_t, D> d16;
        constexpr bool kLittle = std::endian::native == std::endian::little;
        const auto bear_bits = hn::Set(du, std::uint64_t{kLittle ? 0x0001u : 0x0100u});
        const auto bull_bits = hn::Set(du, std::uint64_t{kLittle ? 0x0100u : 0x0001u});
        const auto pairs = hn::Or(hn::IfThenElseZero(hn::RebindMask(du, bear), bear_bits),
                                  hn::IfThenElseZero(hn::RebindMask(du, bull), bull_bits));
        hn::StoreU(hn::TruncateTo(d16, pairs), d16, reinterpret_cast<std::uint16_t*>(p + 2 * k));
    }
    void SetFlags(std::size_t k, bool bear, bool bull) const {
        p[2 * k] = bear ? 1 : 0;
        p[2 * k + 1] = bull ? 1 : 0;
    }
};

}  // namespace lumenfold::core::lanes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // LUMENFOLD_CHANNELS_MAPS_INL_H_
