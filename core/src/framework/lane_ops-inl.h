// The loop shapes every lane kernel file shares, compiled once per instruction
// set: include it after <hwy/highway.h> in a kernel file (it is included once
// per target, hence the toggling guard).
#if defined(LUMENFOLD_LANE_OPS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef LUMENFOLD_LANE_OPS_INL_H_
#undef LUMENFOLD_LANE_OPS_INL_H_
#else
#define LUMENFOLD_LANE_OPS_INL_H_
#endif

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace lumenfold::core::lanes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using D = hn::ScalableTag<double>;
using V = hn::Vec<D>;

// vec(i) for each whole vector of lanes from index 0 on, then one(i) for
// each index left below n.
template <class Vec, class One>
inline void lane_groups(std::size_t n, Vec vec, One one) {
    const std::size_t L = hn::Lanes(D());
    std::size_t i = 0;
    for (; i + L <= n; i += L) vec(i);
    for (; i < n; ++i) one(i);
}

// vec(i) for each vector of lanes from index 0 on, the last one partly past
// n: for padded arrays, whose room past n the lanes may read and write.
template <class Vec>
inline void padded_groups(std::size_t n, Vec vec) {
    const std::size_t L = hn::Lanes(D());
    for (std::size_t i = 0; i < n; i += L) vec(i);
}

// The groups q < ceil(count / group) of a sequential computation: ahead(q)
// prepares group q one group before chain(q) runs over it, and behind(q)
// completes it one group after, so that the work in lanes, which the chain
// does not wait for, runs while the chain does, and every load finds its
// values stored.
template <class Ahead, class Chain, class Behind>
inline void pipelined_groups(std::size_t count, std::size_t group, Ahead ahead, Chain chain, Behind behind) {
    const std::size_t groups = (count + group - 1) / group;
    // One call site each, so that all three are inlined.
    for (std::size_t q = 0; q < groups + 2; ++q) {
        if (q < groups) ahead(q);
        if (q >= 1 && q <= groups) chain(q - 1);
        if (q >= 2) behind(q - 2);
    }
}

}  // namespace lumenfold::core::lanes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // LUMENFOLD_LANE_OPS_INL_H_
