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

// TRANSITIONAL: big-endian access of the kernels not yet moved to plain values.
inline double load_be1(const std::uint8_t* p) {
    std::uint64_t bits;
    std::memcpy(&bits, p, 8);
    return std::bit_cast<double>(__builtin_bswap64(bits));
}
inline void store_be1(double x, std::uint8_t* p) {
    const std::uint64_t bits = __builtin_bswap64(std::bit_cast<std::uint64_t>(x));
    std::memcpy(p, &bits, 8);
}

// Vectors of doubles read and written big-endian.
#if HWY_TARGET == HWY_SCALAR
inline V load_be(const std::uint8_t* p) { return hn::Set(D(), load_be1(p)); }
inline void store_be(V v, std::uint8_t* p) { store_be1(hn::GetLane(v), p); }
#else
inline hn::Vec<hn::Repartition<std::uint8_t, D>> swap_bytes(hn::Vec<hn::Repartition<std::uint8_t, D>> v) {
    const hn::Repartition<std::uint8_t, D> d8;
    alignas(16) static constexpr std::uint8_t kSwap[16] = {7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8};
    return hn::TableLookupBytes(v, hn::LoadDup128(d8, kSwap));
}
inline V load_be(const std::uint8_t* p) {
    const hn::Repartition<std::uint8_t, D> d8;
    return hn::BitCast(D(), swap_bytes(hn::LoadU(d8, p)));
}
inline void store_be(V v, std::uint8_t* p) {
    const hn::Repartition<std::uint8_t, D> d8;
    hn::StoreU(swap_bytes(hn::BitCast(d8, v)), d8, p);
}
#endif

inline void FromBigEndian(const std::uint8_t* be, std::size_t n, double* out) {
    lane_groups(
        n, [&](std::size_t i) { hn::StoreU(load_be(be + i * 8), D(), out + i); },
        [&](std::size_t i) { out[i] = load_be1(be + i * 8); });
}

inline void ToBigEndian(const double* x, std::size_t n, std::uint8_t* be) {
    lane_groups(
        n, [&](std::size_t i) { store_be(hn::LoadU(D(), x + i), be + i * 8); },
        [&](std::size_t i) { store_be1(x[i], be + i * 8); });
}

}  // namespace lumenfold::core::lanes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // LUMENFOLD_LANE_OPS_INL_H_
