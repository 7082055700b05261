// Byte-order reversal of whole arrays of 8-byte words in lanes, compiled once
// per instruction set and dispatched at run time; for results, NaNs made one.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "wire.hpp"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "runtime/byte_order.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace lumenfold::ffi::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The byte order of each 8-byte word reversed, for TableLookupBytes.
alignas(16) static constexpr std::uint8_t kSwap[16] = {7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8};

// With kResults, each word is a result double whose NaNs become kResultNaN.
template <bool kResults>
void Swap(const void* src, std::size_t n, void* dst) {
    const auto* in = static_cast<const std::uint8_t*>(src);
    auto* out = static_cast<std::uint8_t*>(dst);
    std::size_t i = 0;
#if HWY_TARGET != HWY_SCALAR
    // At most 256 bits: serialized doubles sit 4 bytes off alignment, and
    // wider accesses that straddle cache lines cost more than they gain.
    const hn::CappedTag<std::uint8_t, 32> d8;
    const hn::Repartition<std::uint64_t, decltype(d8)> d64;
    const hn::Repartition<double, decltype(d8)> df;
    const std::size_t L = hn::Lanes(d64);
    const auto order = hn::LoadDup128(d8, kSwap);
    const auto nan = hn::Set(df, std::bit_cast<double>(kResultNaN));
    auto swap = [&](std::size_t at) {
        auto v = hn::LoadU(d8, in + at * 8);
        if constexpr (kResults) {
            const auto x = hn::BitCast(df, v);
            v = hn::BitCast(d8, hn::IfThenElse(hn::IsNaN(x), nan, x));
        }
        hn::StoreU(hn::TableLookupBytes(v, order), d8, out + at * 8);
    };
    for (; i + 4 * L <= n; i += 4 * L) {
        swap(i);
        swap(i + L);
        swap(i + 2 * L);
        swap(i + 3 * L);
    }
    for (; i + L <= n; i += L) swap(i);
#endif
    for (; i < n; ++i) {
        std::uint64_t w;
        std::memcpy(&w, in + i * 8, 8);
        if constexpr (kResults) w = result_bits(std::bit_cast<double>(w));
        w = __builtin_bswap64(w);
        std::memcpy(out + i * 8, &w, 8);
    }
}

// Serialized result doubles in place: each NaN made kResultNaN.
void OneNaN(void* words, std::size_t n) {
    auto* p = static_cast<std::uint8_t*>(words);
    std::size_t i = 0;
#if HWY_TARGET != HWY_SCALAR
    const hn::CappedTag<std::uint8_t, 32> d8;
    const hn::Repartition<double, decltype(d8)> df;
    const std::size_t L = hn::Lanes(df);
    const auto order = hn::LoadDup128(d8, kSwap);
    const auto nan = hn::BitCast(df, hn::TableLookupBytes(hn::BitCast(d8, hn::Set(df, std::bit_cast<double>(kResultNaN))), order));
    for (; i + L <= n; i += L) {
        double* q = reinterpret_cast<double*>(p + i * 8);
        const auto v = hn::LoadU(df, q);
        const auto is_nan = hn::IsNaN(hn::BitCast(df, hn::TableLookupBytes(hn::BitCast(d8, v), order)));
        if (!hn::AllFalse(df, is_nan)) hn::StoreU(hn::IfThenElse(is_nan, nan, v), df, q);
    }
#endif
    make_nans_one(p + i * 8, n - i);
}

void SwapWords(const void* src, std::size_t n, void* dst) { Swap<false>(src, n, dst); }
void SwapResults(const void* src, std::size_t n, void* dst) { Swap<true>(src, n, dst); }

}  // namespace lumenfold::ffi::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lumenfold::ffi {
HWY_EXPORT(SwapWords);
HWY_EXPORT(SwapResults);
HWY_EXPORT(OneNaN);
void swap_words(const void* src, std::size_t n, void* dst) noexcept { HWY_DYNAMIC_DISPATCH(SwapWords)(src, n, dst); }
void swap_results(const void* src, std::size_t n, void* dst) noexcept {
    HWY_DYNAMIC_DISPATCH(SwapResults)(src, n, dst);
}
void one_nan(void* words, std::size_t n) noexcept { HWY_DYNAMIC_DISPATCH(OneNaN)(words, n); }
}  // namespace lumenfold::ffi
#endif
