// Batch functions: lift the vector arguments in declared order, run a fresh
// core indicator over them zipped to the shortest, lower the outputs.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <concepts>
#include <limits>
#include <string>
#include <cstddef>
#include <vector>

#include "lumenfold/core/framework/traits.hpp"
#include "direct_maps.hpp"
#include "serialize.hpp"

namespace lumenfold::ffi {

// Owns the buffer arguments of one call. Each is lifted once, in order, and
// every one is released when the call ends, however it ends (a malformed one
// excepted: it is not ours to free). A block passed as several arguments is
// read as each of them and released once.
template <std::size_t N>
class ArgBuffers {
public:
    template <class... P>
    explicit ArgBuffers(P*... bufs) : bufs_{bufs...} {}
    ArgBuffers(const ArgBuffers&) = delete;
    ArgBuffers& operator=(const ArgBuffers&) = delete;
    ~ArgBuffers() {
        for (std::size_t i = next_; i < N; ++i) keep(*bufs_[i]);
        for (std::size_t i = 0; i < kept_count_ && i < N; ++i)
            if (!kept_earlier(i)) release_storage(kept_[i]);
    }

    // A vector of doubles read in place: the buffer is validated whole now and
    // elements are converted as they are read.
    F64View view(const char* name) {
        const RustBuffer& buf = next();
        try {
            return F64View::of(buf);
        } catch (const LiftFailure& e) {
            throw ArgLiftFailure{name, e.reason};
        }
    }

    template <class K>
    auto lift(const char* name) {
        const RustBuffer& buf = next();
        try {
            return read_buffer<K>(buf);
        } catch (const LiftFailure& e) {
            throw ArgLiftFailure{name, e.reason};
        }
    }

    std::string lift_string() { return string_of(next()); }

private:
    // The next argument, checked (a violation of the buffer rule is a panic)
    // and kept for release; a null buffer reads as empty.
    const RustBuffer& next() {
        const RustBuffer& buf = *bufs_[next_++];
        if (check_buffer(buf) && kept_count_ < N) kept_[kept_count_++] = buf;
        return buf;
    }

    void keep(const RustBuffer& buf) noexcept {
        try {
            if (check_buffer(buf) && kept_count_ < N) kept_[kept_count_++] = buf;
        } catch (...) {
            // A malformed buffer is not ours to free.
        }
    }

    // Whether the block of kept buffer i is also that of an earlier one.
    bool kept_earlier(std::size_t i) const noexcept {
        for (std::size_t j = 0; j < i && j < N; ++j)
            if (kept_[j].data == kept_[i].data) return true;
        return false;
    }

    std::array<RustBuffer*, N> bufs_;
    std::array<RustBuffer, N> kept_{};
    std::size_t next_ = 0;
    std::size_t kept_count_ = 0;
};

// Bytes per output of element kind K when every output has one fixed size: a
// double or a record of fixed-size scalars (0 otherwise).
template <class K>
constexpr std::size_t bytes_per_output() {
    if constexpr (requires { K::kBytes; }) return K::kBytes;
    else return 0;
}

template <class>
using AsDouble = double;

// Whether `Core` offers a batch form whose outputs serialize as element kind
// K: fixed-size outputs, or rows of doubles of one length.
template <class K, class Core, class... Vecs>
inline constexpr bool kUsesBatchForm = (std::is_base_of_v<WireSeries, Vecs> && ...) &&
                                       (bytes_per_output<K>() != 0 ||
                                        (std::is_same_v<K, Vec<F64>> && core::FixedRows<Core>)) &&
                                       core::BatchForm<Core, AsDouble<Vecs>...>;

// Claims the bytes of n outputs of `stride` bytes each, failing the call when
// they could not be addressed.
inline std::uint8_t* claim_rows(Writer& w, std::uint64_t n, std::uint64_t stride) {
    if (stride != 0 && n > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) / stride)
        throw Panic("capacity overflow");
    return w.claim(n * stride);
}

// The longest vector a serialized result can hold (its length is an i32).
inline constexpr std::uint64_t kMaxRowLength = 0x7fffffff;

// Runs `core` over the inputs zipped to the shortest and writes each output
// straight into the result buffer as element kind K: through the core's batch
// form when it offers one, else by stepping it bar by bar. Every double keeps
// the bits its arithmetic made. The core is taken by value and the call always
// inlined into the entry point that makes the core: a local the output stores
// provably cannot alias, so its state can stay in registers.
template <class K, class Core, class... Vecs>
[[gnu::always_inline]] inline RustBuffer run_lowered(Core core, const Vecs&... inputs) {
    const std::size_t n = std::min({inputs.size()...});
    Writer w;
    w.count(n);
    if constexpr (kUsesBatchForm<K, Core, Vecs...>) {
        if constexpr (core::FixedRows<Core>) {
            const std::uint64_t m = core.batch_row_length();
            if (m > kMaxRowLength) {
                // No bar, no row to refuse: an empty result, as stepping gives.
                if (n == 0) return w.release();
                throw Panic("vector too long to serialize: " + std::to_string(m) + " elements");
            }
            const WireRows rows(nullptr, static_cast<std::uint32_t>(m));
            std::uint8_t* out = claim_rows(w, n, rows.stride());
            core.batch(WireRows(out, static_cast<std::uint32_t>(m)), inputs.first(n)...);
        } else {
            std::uint8_t* out = claim_rows(w, n, bytes_per_output<K>());
            core.batch(WireOutputs<K, core::BatchOutput<Core, AsDouble<Vecs>...>>(out, bytes_per_output<K>()),
                       inputs.first(n)...);
        }
    } else if constexpr (bytes_per_output<K>() != 0) {
        // Doubles and records of one fixed size, each written in place.
        constexpr std::size_t kBytes = bytes_per_output<K>();
        std::uint8_t* out = claim_rows(w, n, kBytes);
        for (std::size_t i = 0; i < n; ++i) K::put_at(out + i * kBytes, core.next(inputs[i]...));
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            K::write(w, core.next(inputs[i]...));
            // Records of varying size: the first one tells what the rest may need.
            if (i == 0) w.reserve_more((w.size() - 4) * (n - 1));
        }
    }
    return w.release();
}

}  // namespace lumenfold::ffi
