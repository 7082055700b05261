// The big-endian value format: a reader that lifts arguments out of a
// consumed RustBuffer and a writer that lowers results into a new one.
#pragma once

#include <algorithm>
#include <bit>
#include <concepts>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "ffi.hpp"
#include "wire.hpp"

namespace lumenfold::ffi {

std::string shortage_reason(std::uint64_t remaining, std::uint64_t needed);
std::string leftover_reason(std::uint64_t remaining);
inline constexpr const char* kNegativeCount = "out of range integral type conversion attempted";
inline constexpr const char* kBadBool = "unexpected byte for Boolean";

// Sequential big-endian reads with the exact shortage reasons.
class Reader {
public:
    Reader(const std::uint8_t* data, std::uint64_t len) : p_(data), left_(len) {}

    std::uint64_t remaining() const noexcept { return left_; }
    void need(std::uint64_t n) const {
        if (left_ < n) throw LiftFailure{shortage_reason(left_, n)};
    }
    std::uint8_t u8() {
        need(1);
        --left_;
        return *p_++;
    }
    std::uint32_t u32() {
        need(4);
        std::uint32_t v;
        std::memcpy(&v, p_, 4);
        advance(4);
        return to_be(v);
    }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    std::uint64_t u64() {
        need(8);
        std::uint64_t v;
        std::memcpy(&v, p_, 8);
        advance(8);
        return to_be(v);
    }
    double f64() { return std::bit_cast<double>(u64()); }
    bool boolean() {
        const std::uint8_t b = u8();
        if (b > 1) throw LiftFailure{kBadBool};
        return b == 1;
    }
    // A vector count: non-negative signed 32-bit.
    std::uint32_t count() {
        const std::int32_t n = i32();
        if (n < 0) throw LiftFailure{kNegativeCount};
        return static_cast<std::uint32_t>(n);
    }
    const std::uint8_t* take(std::uint64_t n) {
        need(n);
        const std::uint8_t* at = p_;
        advance(n);
        return at;
    }
    void finish() const {
        if (left_ != 0) throw LiftFailure{leftover_reason(left_)};
    }

private:
    void advance(std::uint64_t n) noexcept {
        p_ += n;
        left_ -= n;
    }
    const std::uint8_t* p_;
    std::uint64_t left_;
};

// A growable byte vector in buffer storage, handed over as a RustBuffer.
class Writer {
public:
    Writer() = default;
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    ~Writer() { recycle_storage(data_); }

    void reserve_more(std::uint64_t n) {
        if (cap_ - len_ >= n) return;
        std::uint64_t want = len_ + n;
        if (want < len_ || want > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            throw Panic("capacity overflow");
        std::uint64_t cap = cap_ < 64 ? 64 : cap_;
        while (cap < want) cap = cap > (std::uint64_t{1} << 62) ? want : cap * 2;
        std::uint8_t* p = acquire_storage(cap);
        if (len_ != 0) std::memcpy(p, data_, len_);
        recycle_storage(data_);
        data_ = p;
        cap_ = cap;
    }
    void bytes(const void* src, std::uint64_t n) {
        reserve_more(n);
        if (n != 0) std::memcpy(data_ + len_, src, n);
        len_ += n;
    }
    void u8(std::uint8_t v) { bytes(&v, 1); }
    void i8(std::int8_t v) { u8(static_cast<std::uint8_t>(v)); }
    void boolean(bool v) { u8(v ? 1 : 0); }
    void u16(std::uint16_t v) {
        const std::uint8_t b[2] = {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
        bytes(b, 2);
    }
    void u32(std::uint32_t v) {
        v = to_be(v);
        bytes(&v, 4);
    }
    void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
    void u64(std::uint64_t v) {
        v = to_be(v);
        bytes(&v, 8);
    }
    void i64(std::int64_t v) { u64(static_cast<std::uint64_t>(v)); }
    void f64(double v) { u64(std::bit_cast<std::uint64_t>(v)); }
    void f32(float v) { u32(std::bit_cast<std::uint32_t>(v)); }
    // A vector count; 2^31 elements or more cannot be represented.
    void count(std::uint64_t n) {
        if (n > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
            throw Panic("vector too long to serialize: " + std::to_string(n) + " elements");
        i32(static_cast<std::int32_t>(n));
    }
    // Appends n bytes to be filled in by the caller.
    std::uint8_t* claim(std::uint64_t n) {
        reserve_more(n);
        std::uint8_t* at = data_ + len_;
        len_ += n;
        return at;
    }

    // Bulk big-endian doubles.
    void f64_array(const double* v, std::uint64_t n) {
        reserve_more(n * 8);
        if constexpr (std::endian::native == std::endian::little) {
            swap_words(v, n, data_ + len_);
        } else if (n != 0) {
            std::memcpy(data_ + len_, v, n * 8);
        }
        len_ += n * 8;
    }

    std::uint64_t size() const noexcept { return len_; }
    const std::uint8_t* data() const noexcept { return data_; }

    // Hands the bytes over to the caller as a RustBuffer (capacity may exceed len).
    RustBuffer release() noexcept {
        if (data_ == nullptr) return empty_buffer();
        RustBuffer out{cap_, len_, data_};
        data_ = nullptr;
        cap_ = len_ = 0;
        return out;
    }

private:
    std::uint8_t* data_ = nullptr;
    std::uint64_t cap_ = 0;
    std::uint64_t len_ = 0;
};

// ---- value kinds: each has read(Reader&) for arguments and write(Writer&, v) for results ----

struct U8 {
    static std::uint8_t read(Reader& r) { return r.u8(); }
    static void write(Writer& w, std::uint8_t v) { w.u8(v); }
};
// Fixed-size kinds also write one value in place: put_at(at, v) returns the
// address past it.
struct I8 {
    static std::int8_t read(Reader& r) { return static_cast<std::int8_t>(r.u8()); }
    template <std::integral T> static void write(Writer& w, T v) { w.i8(static_cast<std::int8_t>(v)); }
    template <std::integral T> static std::uint8_t* put_at(std::uint8_t* at, T v) noexcept {
        *at = static_cast<std::uint8_t>(static_cast<std::int8_t>(v));
        return at + 1;
    }
};
struct U32 {
    static std::uint32_t read(Reader& r) { return r.u32(); }
    template <std::integral T> static void write(Writer& w, T v) { w.u32(static_cast<std::uint32_t>(v)); }
    template <std::integral T> static std::uint8_t* put_at(std::uint8_t* at, T v) noexcept {
        write_u32(at, static_cast<std::uint32_t>(v));
        return at + 4;
    }
};
struct I32 {
    static std::int32_t read(Reader& r) { return r.i32(); }
    template <std::integral T> static void write(Writer& w, T v) { w.i32(static_cast<std::int32_t>(v)); }
    template <std::integral T> static std::uint8_t* put_at(std::uint8_t* at, T v) noexcept {
        write_u32(at, static_cast<std::uint32_t>(static_cast<std::int32_t>(v)));
        return at + 4;
    }
};
struct U64 {
    static constexpr std::uint64_t kSize = 8;
    static std::uint64_t read(Reader& r) { return r.u64(); }
    template <std::integral T> static void write(Writer& w, T v) { w.u64(static_cast<std::uint64_t>(v)); }
    template <std::integral T> static std::uint8_t* put_at(std::uint8_t* at, T v) noexcept {
        const std::uint64_t bits = to_be(static_cast<std::uint64_t>(v));
        std::memcpy(at, &bits, 8);
        return at + 8;
    }
};
struct I64 {
    static std::int64_t read(Reader& r) { return static_cast<std::int64_t>(r.u64()); }
    template <std::integral T> static void write(Writer& w, T v) { w.i64(static_cast<std::int64_t>(v)); }
};
struct F64 {
    static constexpr std::uint64_t kSize = 8;
    static constexpr std::size_t kBytes = 8;
    static double read(Reader& r) { return r.f64(); }
    static void write(Writer& w, double v) { w.f64(v); }
    static std::uint8_t* put_at(std::uint8_t* at, double v) noexcept {
        write_f64(at, v);
        return at + 8;
    }
};
struct Bool {
    static constexpr std::uint64_t kSize = 1;
    static bool read(Reader& r) { return r.boolean(); }
    static void write(Writer& w, bool v) { w.boolean(v); }
    static std::uint8_t* put_at(std::uint8_t* at, bool v) noexcept {
        *at = v ? 1 : 0;
        return at + 1;
    }
};

template <class E>
struct Vec {
    static auto read(Reader& r) {
        using T = decltype(E::read(r));
        const std::uint32_t n = r.count();
        std::vector<T> out;
        if constexpr (std::is_same_v<E, F64> || std::is_same_v<E, U64>) {
            // Fixed-size elements are converted in one pass over the bytes.
            const std::uint64_t whole = r.remaining() / 8;
            if (n > whole) throw LiftFailure{shortage_reason(r.remaining() - whole * 8, 8)};
            const std::uint8_t* src = r.take(std::uint64_t{n} * 8);
            out.resize(n);
            for (std::uint32_t i = 0; i < n; ++i) {
                std::uint64_t be;
                std::memcpy(&be, src + std::uint64_t{i} * 8, 8);
                out[i] = std::bit_cast<T>(to_be(be));
            }
        } else {
            // Never reserve more than the remaining bytes can fill.
            if constexpr (requires { E::kSize; }) out.reserve(std::min<std::uint64_t>(n, r.remaining() / E::kSize));
            for (std::uint32_t i = 0; i < n; ++i) out.push_back(E::read(r));
        }
        return out;
    }
    template <class V>
    static void write(Writer& w, const V& v) {
        w.count(v.size());
        if constexpr (std::is_same_v<E, F64> && requires { v.data(); }) {
            w.f64_array(v.data(), v.size());
        } else {
            for (const auto& e : v) E::write(w, e);
        }
    }
};

template <class E>
struct Opt {
    static auto read(Reader& r) {
        std::optional<decltype(E::read(r))> out;
        if (r.boolean()) out = E::read(r);
        return out;
    }
    template <class V>
    static void write(Writer& w, const V& v) {
        if (!v) {
            w.u8(0);
            return;
        }
        w.u8(1);
        E::write(w, *v);
    }
};

// An enum: signed 32-bit variant number counted from 1.
template <class CoreEnum, int Count, const char* Name>
struct Enum {
    static CoreEnum read(Reader& r) {
        const std::int32_t v = r.i32();
        if (v < 1 || v > Count) throw LiftFailure{std::string("Invalid ") + Name + " enum value: " + std::to_string(v)};
        return static_cast<CoreEnum>(v);
    }
    static void write(Writer& w, CoreEnum v) { w.i32(static_cast<std::int32_t>(v)); }
};

// A validated vector-of-f64 argument read in place, converting on access.
class F64View : public WireSeries {
public:
    static F64View of(const RustBuffer& buf) {
        if (!check_buffer(buf)) {
            Reader r(nullptr, 0);
            r.count();
        }
        Reader r(buf.data, buf.len);
        const std::uint32_t n = r.count();
        const std::uint64_t whole = r.remaining() / 8;
        if (n > whole) throw LiftFailure{shortage_reason(r.remaining() - whole * 8, 8)};
        const std::uint8_t* data = r.take(std::uint64_t{n} * 8);
        r.finish();
        return F64View(data, n);
    }

private:
    F64View(const std::uint8_t* data, std::size_t n) : WireSeries(data, n) {}
};

// ---- whole-buffer lift and lower ----

// The value of kind K a checked buffer holds, read whole; the buffer stays
// the caller's.
template <class K>
auto read_buffer(const RustBuffer& buf) {
    Reader r(buf.data, buf.len);
    auto v = K::read(r);
    r.finish();
    return v;
}

// The text a checked string buffer holds: its bytes are the text itself.
inline std::string string_of(const RustBuffer& buf) {
    if (buf.len == 0) return {};
    return std::string(reinterpret_cast<const char*>(buf.data), buf.len);
}

// Releases a checked buffer when the scope ends, however it ends.
struct ReleaseAtEnd {
    RustBuffer buf;
    bool owned;
    ~ReleaseAtEnd() {
        if (owned) release_storage(buf);
    }
};

// Lifts a whole argument buffer as kind K and releases it, whether the lift
// succeeds or fails. Buffer-rule violations are panics.
template <class K>
auto lift_buffer(RustBuffer buf) {
    const ReleaseAtEnd release{buf, check_buffer(buf)};
    return read_buffer<K>(buf);
}

// A string argument, its buffer released.
inline std::string lift_string(RustBuffer buf) {
    const ReleaseAtEnd release{buf, check_buffer(buf)};
    return string_of(buf);
}

template <class K, class V>
RustBuffer lower(const V& value) {
    Writer w;
    K::write(w, value);
    return w.release();
}

inline RustBuffer lower_string(std::string_view s) {
    Writer w;
    w.bytes(s.data(), s.size());
    return w.release();
}

}  // namespace lumenfold::ffi
