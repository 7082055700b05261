// The serialized forms of batch inputs and outputs, offered to the core's
// batch forms as plain values: a vector of f64 read as a Series, and the
// result written through Outputs (one double, or one fixed-size record, per
// bar) or RowOutputs (a vector of doubles of one length per bar). Values are
// converted as they are read and written; whole chunks in lanes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

namespace lumenfold::ffi {

// n 8-byte words from src to dst with their byte order reversed: native
// doubles to serialized ones and back. src and dst do not overlap.
void swap_words(const void* src, std::size_t n, void* dst) noexcept;

inline std::uint64_t to_be(std::uint64_t v) noexcept {
    if constexpr (std::endian::native == std::endian::little) return __builtin_bswap64(v);
    return v;
}
inline std::uint32_t to_be(std::uint32_t v) noexcept {
    if constexpr (std::endian::native == std::endian::little) return __builtin_bswap32(v);
    return v;
}

inline double read_f64(const std::uint8_t* at) noexcept {
    std::uint64_t bits;
    std::memcpy(&bits, at, 8);
    return std::bit_cast<double>(to_be(bits));
}
// A double serialized with its exact bits.
inline void write_f64(std::uint8_t* at, double v) noexcept {
    const std::uint64_t bits = to_be(std::bit_cast<std::uint64_t>(v));
    std::memcpy(at, &bits, 8);
}
inline void write_u32(std::uint8_t* at, std::uint32_t v) noexcept {
    v = to_be(v);
    std::memcpy(at, &v, 4);
}

// The n doubles of a serialized vector (after its count).
class WireSeries {
public:
    WireSeries(const std::uint8_t* bytes, std::size_t n) noexcept : bytes_(bytes), n_(n) {}

    std::size_t size() const noexcept { return n_; }
    double operator[](std::size_t i) const noexcept { return read_f64(bytes_ + i * 8); }
    void load(std::size_t from, std::size_t count, double* dst) const noexcept {
        if constexpr (std::endian::native == std::endian::little) {
            swap_words(bytes_ + from * 8, count, dst);
        } else if (count != 0) {
            std::memcpy(dst, bytes_ + from * 8, count * 8);
        }
    }
    WireSeries first(std::size_t n) const noexcept { return WireSeries(bytes_, n); }
    const std::uint8_t* bytes() const noexcept { return bytes_; }

private:
    const std::uint8_t* bytes_;
    std::size_t n_;
};

// Outputs of type T serialized as element kind K, `stride` bytes each: K is
// F64 for doubles, or a record kind that writes T's fields (K::put_at).
template <class K, class T>
class WireOutputs {
public:
    WireOutputs(std::uint8_t* bytes, std::size_t stride) noexcept : bytes_(bytes), stride_(stride) {}

    void put(std::size_t i, const T& v) const noexcept { K::put_at(bytes_ + i * stride_, v); }
    std::uint8_t* at(std::size_t i) const noexcept { return bytes_ + i * stride_; }
    void store(std::size_t from, std::size_t count, const T* values) const noexcept {
        if constexpr (kWords) {
            swap_words(values, count * (sizeof(T) / 8), bytes_ + from * stride_);
        } else {
            for (std::size_t k = 0; k < count; ++k) put(from + k, values[k]);
        }
    }

private:
    // Doubles, or records of doubles only laid out as consecutive doubles:
    // the serialized form is the native one with each word's bytes reversed.
    static constexpr bool kWords = std::endian::native == std::endian::little && [] {
        if constexpr (std::is_same_v<T, double>) return true;
        else if constexpr (requires { K::template native_layout<T>(); }) return K::template native_layout<T>();
        else return false;
    }();

    std::uint8_t* bytes_;
    std::size_t stride_;
};

// Rows of m doubles, each serialized as its 4-byte length and its values.
class WireRows {
public:
    WireRows(std::uint8_t* bytes, std::uint32_t m) noexcept : bytes_(bytes), m_(m) {}

    void put(std::size_t i, std::span<const double> row) const noexcept {
        std::uint8_t* at = bytes_ + i * stride();
        write_u32(at, m_);
        if constexpr (std::endian::native == std::endian::little) {
            swap_words(row.data(), m_, at + 4);
        } else {
            std::memcpy(at + 4, row.data(), std::size_t{m_} * 8);
        }
    }
    std::size_t stride() const noexcept { return 4 + std::size_t{m_} * 8; }

private:
    std::uint8_t* bytes_;
    std::uint32_t m_;
};

}  // namespace lumenfold::ffi
