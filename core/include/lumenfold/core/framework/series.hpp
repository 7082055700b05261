// Whole series as the batch forms of the indicators see them: doubles stored
// contiguously in big-endian byte order (the layout of serialized vectors),
// converted as they are read and written.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lumenfold::core {

inline std::uint64_t big_endian_bits(std::uint64_t v) noexcept {
    if constexpr (std::endian::native == std::endian::little) return __builtin_bswap64(v);
    return v;
}

class BigEndianSeries {
public:
    BigEndianSeries(const std::uint8_t* bytes, std::size_t size) noexcept : bytes_(bytes), size_(size) {}

    std::size_t size() const noexcept { return size_; }
    const std::uint8_t* bytes() const noexcept { return bytes_; }
    double operator[](std::size_t i) const noexcept {
        std::uint64_t bits;
        std::memcpy(&bits, bytes_ + i * 8, 8);
        return std::bit_cast<double>(big_endian_bits(bits));
    }
    // The first n elements (n <= size()).
    BigEndianSeries first(std::size_t n) const noexcept { return BigEndianSeries(bytes_, n); }

private:
    const std::uint8_t* bytes_;
    std::size_t size_;
};

// Where a batch form writes its outputs: element i of a double result, or
// field f of bar i at element i * fields + f of a record result.
class BigEndianOut {
public:
    explicit BigEndianOut(std::uint8_t* bytes) noexcept : bytes_(bytes) {}

    void put(std::size_t i, double v) noexcept {
        const std::uint64_t bits = big_endian_bits(std::bit_cast<std::uint64_t>(v));
        std::memcpy(bytes_ + i * 8, &bits, 8);
    }
    std::uint8_t* bytes() const noexcept { return bytes_; }

private:
    std::uint8_t* bytes_;
};

}  // namespace lumenfold::core
