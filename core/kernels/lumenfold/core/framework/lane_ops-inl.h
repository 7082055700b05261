// The loop shapes every lane kernel file shares, compiled once per instruction
// set: include it after <hwy/highway.h> in a kernel file (it is included once
// per target, hence the toggling guard). Like the maps' templates
// (<family>/maps-inl.h) it is not installed: only the files that dispatch
// kernels include it.
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

#include "lumenfold/core/framework/lanes.hpp"

HWY_BEFORE_NAMESPACE();
namespace lumenfold::core::lanes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Kernels whose bars are independent run on the widest vectors.
using D = hn::ScalableTag<double>;
using V = hn::Vec<D>;
// The lane work beside a sequential chain runs on vectors of at most 256 bits
// (but where narrow_chain_lanes() says otherwise): on Intel's AVX-512
// processors, 512-bit divisions beside a scalar chain slow it as much as
// scalar ones would, where 256-bit ones hide behind it.
using DChain = hn::CappedTag<double, 4>;

// work(d, args...) with d the tag of the lane work beside a chain, `narrow`
// being narrow_chain_lanes(): one call site for each width.
template <class Work, class... Args>
HWY_INLINE void beside_chain(bool narrow, Work& work, Args... args) {
    if constexpr (hn::MaxLanes(D()) > hn::MaxLanes(DChain())) {
        if (!narrow) return work(D(), args...);
    }
    work(DChain(), args...);
}

// vec(i) for each whole vector of d's lanes from index 0 on, then one(i) for
// each index left below n.
template <class DD, class Vec, class One>
inline void lane_groups(DD d, std::size_t n, Vec vec, One one) {
    const std::size_t L = hn::Lanes(d);
    std::size_t i = 0;
    for (; i + L <= n; i += L) vec(i);
    for (; i < n; ++i) one(i);
}

template <class Vec, class One>
inline void lane_groups(std::size_t n, Vec vec, One one) {
    lane_groups(D(), n, vec, one);
}

// vec(i) for each vector of lanes from index 0 on, the last one partly past
// n: for padded arrays, whose room past n the lanes may read and write.
template <class Vec>
inline void padded_groups(std::size_t n, Vec vec) {
    const std::size_t L = hn::Lanes(D());
    for (std::size_t i = 0; i < n; i += L) vec(i);
}

// The groups q < ceil(count / group) of a sequential computation: ahead(d,
// q) prepares group q one group before chain(q) runs over it, and behind(d,
// q) completes it one group after, so that the work in lanes, which the chain
// does not wait for, runs while the chain does, and every load finds its
// values stored. The lane work takes its vectors from d (see beside_chain).
// Inlined with all three, so that a chain's state stays in registers.
template <class Ahead, class Chain, class Behind>
HWY_INLINE void pipelined_groups(std::size_t count, std::size_t group, Ahead ahead, Chain chain, Behind behind) {
    const bool narrow = narrow_chain_lanes();
    const std::size_t groups = (count + group - 1) / group;
    for (std::size_t q = 0; q < groups + 2; ++q) {
        if (q < groups) beside_chain(narrow, ahead, q);
        if (q >= 1 && q <= groups) chain(q - 1);
        if (q >= 2) beside_chain(narrow, behind, q - 2);
    }
}

// Per-bar terms computed in lanes one group ahead of the serial recursion
// that takes them in order: term(d, i) gives the vector of d's lanes of the
// terms of bars i, i + 1, ..., term1(i) bar i's alone, and step(i, t) takes
// bar i's term.
template <class Term, class Term1, class Step>
HWY_INLINE void terms_ahead(std::size_t count, Term term, Term1 term1, Step step) {
    constexpr std::size_t kGroup = 64;
    alignas(64) double terms[2][kGroup];
    auto size = [&](std::size_t q) { return count - q * kGroup < kGroup ? count - q * kGroup : kGroup; };
    pipelined_groups(
        count, kGroup,
        [&](auto d, std::size_t q) {
            double* t = terms[q % 2];
            const std::size_t at = q * kGroup;
            lane_groups(
                d, size(q), [&](std::size_t j) { hn::StoreU(term(d, at + j), d, t + j); },
                [&](std::size_t j) { t[j] = term1(at + j); });
        },
        [&](std::size_t q) {
            const double* t = terms[q % 2];
            for (std::size_t j = 0, at = q * kGroup, m = size(q); j < m; ++j) step(at + j, t[j]);
        },
        [](auto, std::size_t) {});
}

// max_num and min_num (framework/num.hpp) for vectors of any width: a NaN
// operand ignored (b when both are), and of two equal values the one whose
// bits are the AND (maximum: +0 over -0) or the OR (minimum: -0 over +0) of
// both.
template <class VV>
inline VV MaxNum(VV a, VV b) {
    VV r = hn::IfThenElse(hn::Gt(a, b), a, b);
    r = hn::IfThenElse(hn::Eq(a, b), hn::And(a, b), r);
    r = hn::IfThenElse(hn::IsNaN(b), a, r);
    return hn::IfThenElse(hn::IsNaN(a), b, r);
}

template <class VV>
inline VV MinNum(VV a, VV b) {
    VV r = hn::IfThenElse(hn::Lt(a, b), a, b);
    r = hn::IfThenElse(hn::Eq(a, b), hn::Or(a, b), r);
    r = hn::IfThenElse(hn::IsNaN(b), a, r);
    return hn::IfThenElse(hn::IsNaN(a), b, r);
}

// ---- maps ----
// A map (see map_bars in framework/chunks.hpp) is written once, as a
// template over how it reads its inputs and writes its outputs: an input In
// gives In.Load(i), the vector of lanes from element i on (In.Load(d, i),
// the vector of d's lanes), and In.Get(i), one element; an output Out takes
// Out.Store(v, k) (a vector of any width) and Out.Set(k, x) for doubles, or
// Out.Store(fields, k) and Out.Set(k, values) for records of N doubles
// (fields[f] holding field f of the records k, k + 1, ...). The kernels
// instantiate a map over plain arrays; other storage brings its own In and
// Out.

struct PlainIn {
    const double* p;
    template <class DD>
    hn::Vec<DD> Load(DD d, std::size_t i) const { return hn::LoadU(d, p + i); }
    V Load(std::size_t i) const { return Load(D(), i); }
    double Get(std::size_t i) const { return p[i]; }
};

struct PlainOut {
    double* p;
    template <class VV>
    void Store(VV v, std::size_t k) const { hn::StoreU(v, hn::DFromV<VV>(), p + k); }
    void Set(std::size_t k, double x) const { p[k] = x; }
};

// dst[j] = x.Get(from + j) for j < n, read a vector of d's lanes at a time.
template <class DD, class In>
inline void LoadInto(DD d, In x, std::size_t from, std::size_t n, double* dst) {
    lane_groups(
        d, n, [&](std::size_t j) { hn::StoreU(x.Load(d, from + j), d, dst + j); },
        [&](std::size_t j) { dst[j] = x.Get(from + j); });
}

// out.Set(at + j, src[j]) for j < n, written a vector of lanes at a time.
template <class Out>
inline void StoreFrom(const double* src, std::size_t n, Out out, std::size_t at) {
    lane_groups(
        n, [&](std::size_t j) { out.Store(hn::LoadU(D(), src + j), at + j); },
        [&](std::size_t j) { out.Set(at + j, src[j]); });
}

// The records of one group of lanes, record j holding lane j of each field,
// as n consecutive doubles per record.
template <class VV, std::size_t N>
inline void interleave(const VV (&fields)[N], double* records) {
    const hn::DFromV<VV> d;
    HWY_ALIGN double block[N][hn::MaxLanes(d)];
    for (std::size_t f = 0; f < N; ++f) hn::Store(fields[f], d, block[f]);
    for (std::size_t j = 0, lanes = hn::Lanes(d); j < lanes; ++j)
        for (std::size_t f = 0; f < N; ++f) records[j * N + f] = block[f][j];
}

// Records of N doubles in an array of them.
template <std::size_t N>
struct PlainRecords {
    double* p;
    template <class VV>
    void Store(const VV (&fields)[N], std::size_t k) const { interleave(fields, p + k * N); }
    void Set(std::size_t k, const double (&values)[N]) const {
        for (std::size_t f = 0; f < N; ++f) p[k * N + f] = values[f];
    }
};

}  // namespace lumenfold::core::lanes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // LUMENFOLD_LANE_OPS_INL_H_
