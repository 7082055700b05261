// Checksums of the interface metadata: 64-bit FNV-1a over every byte of an
// item's blob, folded to 16 bits by XOR-ing its four quarters. Evaluated by
// the compiler from the very array that is exported, so blob and checksum
// cannot drift apart.
#pragma once

#include <cstddef>
#include <cstdint>

#define LF_EXPORT_DATA __attribute__((visibility("default")))

namespace lumenfold::ffi {

constexpr std::uint16_t checksum_bytes(const unsigned char* p, std::size_t n) {
    std::uint64_t h = 0xCBF29CE484222325ull;
    for (std::size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 0x100000001B3ull;
    }
    return static_cast<std::uint16_t>((h & 0xFFFF) ^ ((h >> 16) & 0xFFFF) ^ ((h >> 32) & 0xFFFF) ^
                                      ((h >> 48) & 0xFFFF));
}

template <std::size_t N>
constexpr std::uint16_t checksum(const unsigned char (&blob)[N]) {
    return checksum_bytes(blob, N);
}

}  // namespace lumenfold::ffi
