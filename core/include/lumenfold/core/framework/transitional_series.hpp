// TRANSITIONAL: the byte-level series of the batch forms not yet moved to
// plain values. Removed once every batch form reads a Series.
#pragma once

#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace lumenfold::core {

namespace lanes {
void from_big_endian(const std::uint8_t* be, std::size_t n, double* out) noexcept;
void to_big_endian(const double* x, std::size_t n, std::uint8_t* be) noexcept;
}  // namespace lanes

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
    void load(std::size_t from, std::size_t count, double* dst) const noexcept {
        lanes::from_big_endian(bytes_ + from * 8, count, dst);
    }
    // The first n elements (n <= size()).
    BigEndianSeries first(std::size_t n) const noexcept { return BigEndianSeries(bytes_, n); }

private:
    const std::uint8_t* bytes_;
    std::size_t size_;
};

// Where a batch form writes its outputs, in the layout of serialized results:
// - element i of a double result (`put`), or field f of bar i at element
//   i * fields + f of a record of doubles;
// - record i of a fixed-size record with other fields (`record`): bars are
//   `stride` bytes apart and each field takes its own encoding;
// - row i of a result with a vector of fixed length per bar (`row_length`,
//   `row_put`): a 4-byte length, then the values.
class BigEndianOut {
public:
    // The longest vector a serialized result can hold (its length is an i32).
    static constexpr std::uint64_t kMaxRowLength = 0x7fffffff;

    explicit BigEndianOut(std::uint8_t* bytes, std::size_t stride = 0) noexcept : bytes_(bytes), stride_(stride) {}

    void put(std::size_t i, double v) const noexcept { put_at(bytes_ + i * 8, v); }
    void store(std::size_t from, std::size_t count, const double* v) const noexcept {
        lanes::to_big_endian(v, count, bytes_ + from * 8);
    }
    std::uint8_t* bytes() const noexcept { return bytes_; }
    std::size_t stride() const noexcept { return stride_; }

    // Fields of record i in declared order: double, std::int32_t, std::int8_t
    // or bool, exactly the types the record declares.
    template <class... F>
    void record(std::size_t i, F... fields) noexcept {
        std::uint8_t* at = bytes_ + i * stride_;
        ((at = field(at, fields)), ...);
        assert(at == bytes_ + (i + 1) * stride_ && "record fields must fill the record's stride exactly");
    }

    void row_length(std::size_t i, std::uint32_t m) noexcept { put_u32_at(bytes_ + i * stride_, m); }
    void row_put(std::size_t i, std::size_t j, double v) noexcept { put_at(bytes_ + i * stride_ + 4 + j * 8, v); }

private:
    static void put_u32_at(std::uint8_t* at, std::uint32_t v) noexcept {
        if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
        std::memcpy(at, &v, 4);
    }
    static void put_at(std::uint8_t* at, double v) noexcept {
        const std::uint64_t bits = big_endian_bits(std::bit_cast<std::uint64_t>(v));
        std::memcpy(at, &bits, 8);
    }
    template <class F>
    static std::uint8_t* field(std::uint8_t* at, F v) noexcept {
        static_assert(std::is_same_v<F, double> || std::is_same_v<F, std::int32_t> || std::is_same_v<F, std::int8_t> ||
                          std::is_same_v<F, bool>,
                      "record fields are double, std::int32_t, std::int8_t or bool");
        if constexpr (std::is_same_v<F, double>) {
            put_at(at, v);
            return at + 8;
        } else if constexpr (std::is_same_v<F, std::int32_t>) {
            put_u32_at(at, static_cast<std::uint32_t>(v));
            return at + 4;
        } else {
            *at = static_cast<std::uint8_t>(v);
            return at + 1;
        }
    }

    std::uint8_t* bytes_;
    std::size_t stride_;
};

}  // namespace lumenfold::core
