// Byte-order reversal of whole arrays of 8-byte words in lanes, compiled once
// per instruction set and dispatched at run time.
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

void SwapWords(const void* src, std::size_t n, void* dst) {
    const auto* in = static_cast<const std::uint8_t*>(src);
    auto* out = static_cast<std::uint8_t*>(dst);
    std::size_t i = 0;
#if HWY_TARGET != HWY_SCALAR
    // Serialized doubles sit 4 bytes off alignment, so a wide access often
    // straddles two cache lines. Measured, AVX-512 moves the bytes soonest in
    // whole vectors, fewer accesses though each straddles; AVX2 in 128-bit
    // ones, a quarter of which straddle (of 256-bit ones, half).
#if HWY_TARGET == HWY_AVX2
    const hn::CappedTag<std::uint8_t, 16> d8;
#else
    const hn::ScalableTag<std::uint8_t> d8;
#endif
    const hn::Repartition<std::uint64_t, decltype(d8)> d64;
    const std::size_t L = hn::Lanes(d64);
    alignas(16) static constexpr std::uint8_t kSwap[16] = {7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8};
    const auto order = hn::LoadDup128(d8, kSwap);
    for (; i + 4 * L <= n; i += 4 * L) {
        const auto a = hn::LoadU(d8, in + i * 8), b = hn::LoadU(d8, in + (i + L) * 8);
        const auto c = hn::LoadU(d8, in + (i + 2 * L) * 8), e = hn::LoadU(d8, in + (i + 3 * L) * 8);
        hn::StoreU(hn::TableLookupBytes(a, order), d8, out + i * 8);
        hn::StoreU(hn::TableLookupBytes(b, order), d8, out + (i + L) * 8);
        hn::StoreU(hn::TableLookupBytes(c, order), d8, out + (i + 2 * L) * 8);
        hn::StoreU(hn::TableLookupBytes(e, order), d8, out + (i + 3 * L) * 8);
    }
    for (; i + L <= n; i += L) hn::StoreU(hn::TableLookupBytes(hn::LoadU(d8, in + i * 8), order), d8, out + i * 8);
#endif
    for (; i < n; ++i) {
        std::uint64_t w;
        std::memcpy(&w, in + i * 8, 8);
        w = __builtin_bswap64(w);
        std::memcpy(out + i * 8, &w, 8);
    }
}

}  // namespace lumenfold::ffi::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lumenfold::ffi {
HWY_EXPORT(SwapWords);
void swap_words(const void* src, std::size_t n, void* dst) noexcept { HWY_DYNAMIC_DISPATCH(SwapWords)(src, n, dst); }
}  // namespace lumenfold::ffi
#endif
