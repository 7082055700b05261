// Shared pieces of the boundary's fuzz targets: registration, input reading,
// buffers of every shape the buffer rule tells apart, and a model of the value
// format, written independently of the runtime, that predicts the outcome of
// every lift.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "lumenfold/core/framework/panic.hpp"
#include "entry_points.h"
#include "runtime/serialize.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define LF_FUZZ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LF_FUZZ_ASAN 1
#endif
#endif
#ifdef LF_FUZZ_ASAN
#include <sanitizer/asan_interface.h>
#endif

#if defined(LUMENFOLD_LIBFUZZER) && defined(LF_FUZZ_ASAN)
// Impossible allocation sizes are among the inputs: they must fail and be
// reported, not end the run.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
#endif


namespace lf_fuzz {

using Bytes = std::vector<std::uint8_t>;

// ---- registration: the libFuzzer entry point, or a table the replay driver walks

using TargetFn = void (*)(const std::uint8_t*, std::size_t);
struct Target {
    const char* name;
    TargetFn run;
};
inline std::vector<Target>& targets() {
    static std::vector<Target> all;
    return all;
}
inline bool add_target(const char* name, TargetFn run) {
    targets().push_back({name, run});
    return true;
}

#ifdef LUMENFOLD_LIBFUZZER
#define LF_FUZZ_TARGET(name)                                                         \
    static void fuzz_##name(const std::uint8_t* data, std::size_t size);             \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { \
        fuzz_##name(data, size);                                                     \
        return 0;                                                                    \
    }                                                                                \
    static void fuzz_##name(const std::uint8_t* data, std::size_t size)
#else
#define LF_FUZZ_TARGET(name)                                                                    \
    static void fuzz_##name(const std::uint8_t* data, std::size_t size);                        \
    [[maybe_unused]] static const bool registered_##name = ::lf_fuzz::add_target(#name, fuzz_##name); \
    static void fuzz_##name(const std::uint8_t* data, std::size_t size)
#endif

// ---- oracle failures: printed on standard output (the fuzzer silences
// standard error of the code under test) and turned into a crash

[[noreturn]] inline void fail(const std::string& what) {
    std::printf("oracle mismatch: %s\n", what.c_str());
    std::fflush(stdout);
    std::abort();
}
#define LF_EXPECT(cond, message)                 \
    do {                                         \
        if (!(cond)) ::lf_fuzz::fail(message);   \
    } while (0)

inline std::string show(const Bytes& b) {
    static const char* hex = "0123456789abcdef";
    std::string s;
    for (std::uint8_t x : b) {
        s += hex[x >> 4];
        s += hex[x & 15];
    }
    return s;
}
inline std::string show(const RustBuffer& b) {
    std::string s = "{";
    s += std::to_string(b.capacity);
    s += ", ";
    s += std::to_string(b.len);
    s += b.data == nullptr ? ", null}" : ", ptr}";
    return s;
}

// ---- input reading: every read succeeds, an exhausted input reads zeros

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}
    bool empty() const { return n_ == 0; }
    std::uint8_t byte() {
        if (n_ == 0) return 0;
        --n_;
        return *p_++;
    }
    std::uint64_t u64() {
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v = v << 8 | byte();
        return v;
    }
    std::uint16_t u16() {
        const unsigned hi = byte();  // sequenced: the high byte comes first
        return static_cast<std::uint16_t>(hi << 8 | byte());
    }
    Bytes take(std::size_t n) {
        if (n > n_) n = n_;
        Bytes out(p_, p_ + n);
        p_ += n;
        n_ -= n;
        return out;
    }
    Bytes rest() { return take(n_); }

private:
    const std::uint8_t* p_;
    std::size_t n_;
};

// ---- the value format, modelled from its description

inline std::string shortage(std::uint64_t remaining, std::uint64_t needed) {
    return "not enough bytes remaining in buffer (" + std::to_string(remaining) + " < " + std::to_string(needed) +
           ")";
}
inline std::string leftover(std::uint64_t count) {
    return "junk data left in buffer after lifting (count: " + std::to_string(count) + ")";
}
inline const std::string kNegativeCount = "out of range integral type conversion attempted";
inline const std::string kBadBool = "unexpected byte for Boolean";

inline std::uint32_t be32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}
inline std::uint64_t be64(const std::uint8_t* p) { return std::uint64_t{be32(p)} << 32 | be32(p + 4); }

// Why `b` is not a valid vector of `elem`-byte elements (bytes 0/1 only when
// `booleans`), reading element by element; nullopt when it is valid.
inline std::optional<std::string> vector_fault(const Bytes& b, std::size_t elem, bool booleans) {
    const std::size_t n = b.size();
    if (n < 4) return shortage(n, 4);
    const auto count = static_cast<std::int32_t>(be32(b.data()));
    if (count < 0) return kNegativeCount;
    std::size_t pos = 4;
    for (std::int32_t i = 0; i < count; ++i) {
        if (n - pos < elem) return shortage(n - pos, elem);
        if (booleans && b[pos] > 1) return kBadBool;
        pos += elem;
    }
    if (pos != n) return leftover(n - pos);
    return std::nullopt;
}

// The doubles of a valid vector-of-f64 encoding.
inline std::vector<double> decode_f64s(const Bytes& b) {
    std::vector<double> out;
    for (std::size_t pos = 4; pos + 8 <= b.size(); pos += 8) {
        const std::uint64_t bits = be64(b.data() + pos);
        double d;
        std::memcpy(&d, &bits, 8);
        out.push_back(d);
    }
    return out;
}

inline Bytes bytes_of(const RustBuffer& b) { return b.len == 0 ? Bytes{} : Bytes(b.data, b.data + b.len); }

// ---- buffers of every shape

// Storage the library must never read nor free: poisoned, so that any read
// is reported, and freed by the test itself after the call.
inline std::uint8_t* foreign_storage() {
    auto* p = static_cast<std::uint8_t*>(std::malloc(32));
#ifdef LF_FUZZ_ASAN
    ASAN_POISON_MEMORY_REGION(p, 32);
#endif
    return p;
}
inline void release_foreign(std::uint8_t* p) {
#ifdef LF_FUZZ_ASAN
    ASAN_UNPOISON_MEMORY_REGION(p, 32);
#endif
    std::free(p);
}

inline RustBuffer library_copy(const Bytes& b, std::uint64_t extra) {
    RustCallStatus st{0, {0, 0, nullptr}};
    RustBuffer buf = ffi_lumenfold_python_rustbuffer_alloc(b.size() + extra, &st);
    LF_EXPECT(st.code == 0, "alloc failed");
    if (!b.empty()) std::memcpy(buf.data, b.data(), b.size());
    buf.len = b.size();
    return buf;
}

// One RustBuffer argument. Shapes 0-4 pass the buffer rule (the lift then sees
// `bytes`); shapes 5-7 break it and must raise `rule_fault`.
struct Arg {
    RustBuffer buf{0, 0, nullptr};
    Bytes bytes;                           // what a lift reads when the rule passes
    std::optional<std::string> rule_fault;  // the panic the buffer rule must raise
    std::uint8_t* foreign = nullptr;

    Arg(std::uint8_t shape, const Bytes& payload) {
        const std::uint64_t k = shape >> 3;
        switch (shape & 7) {
            case 0:
            case 1:
            case 2: {  // a library buffer with spare capacity
                bytes = payload;
                buf = library_copy(payload, k & 15);
                break;
            }
            case 3: {  // a copy made by from_bytes
                bytes = payload;
                RustCallStatus st{0, {0, 0, nullptr}};
                buf = ffi_lumenfold_python_rustbuffer_from_bytes(
                    ForeignBytes{static_cast<std::int32_t>(payload.size()), payload.empty() ? nullptr : payload.data()},
                    &st);
                LF_EXPECT(st.code == 0, "from_bytes failed");
                break;
            }
            case 4:  // the null buffer: no bytes at all
                buf = RustBuffer{0, 0, nullptr};
                break;
            case 5:
                foreign = foreign_storage();
                buf = RustBuffer{payload.size(), payload.size() + 1 + k, foreign};
                rule_fault = "RustBuffer length exceeds capacity";
                break;
            case 6:
                buf = RustBuffer{1 + k, payload.size(), nullptr};
                rule_fault = "null RustBuffer had non-zero capacity";
                break;
            default:
                buf = RustBuffer{0, 1 + k + payload.size(), nullptr};
                rule_fault = "null RustBuffer had non-zero length";
                break;
        }
    }
    Arg(const Arg&) = delete;
    Arg& operator=(const Arg&) = delete;
    // The test's own storage; a buffer that passed the rule was consumed by the call.
    ~Arg() {
        if (foreign != nullptr) release_foreign(foreign);
    }
};

// ---- outcomes

struct Status : RustCallStatus {
    Status() : RustCallStatus{0, {0, 0, nullptr}} {}
    Status(const Status&) = delete;
    // Takes the message of a failed call and releases its buffer.
    std::string take_message() {
        std::string m(reinterpret_cast<const char*>(error_buf.data), error_buf.len);
        RustCallStatus st{0, {0, 0, nullptr}};
        ffi_lumenfold_python_rustbuffer_free(error_buf, &st);
        LF_EXPECT(st.code == 0, "error buffer rejected by free");
        error_buf = RustBuffer{0, 0, nullptr};
        return m;
    }
    bool untouched() const { return code == 0 && error_buf.capacity == 0 && error_buf.len == 0 && error_buf.data == nullptr; }
};

inline void free_result(const RustBuffer& b) {
    RustCallStatus st{0, {0, 0, nullptr}};
    ffi_lumenfold_python_rustbuffer_free(b, &st);
    LF_EXPECT(st.code == 0, "result buffer rejected by free");
}

// Lifts the argument's buffer with `lift` and checks the outcome against the
// model: a value when the buffer passes the rule and its bytes are a valid
// encoding (`fault` empty), else the exact reason or panic message. A failure
// reported through the batch scaffolding must name the argument "arg".
// `check` examines a lifted value.
template <class Lift, class Check>
void check_lift(const char* path, Arg& arg, const std::optional<std::string>& fault, Lift lift, Check check) {
    const std::string expected =
        arg.rule_fault ? "panic: " + *arg.rule_fault : fault ? "lift: " + *fault : std::string("value");
    const RustBuffer given = arg.buf;
    std::string got;
    try {
        auto value = lift(arg.buf);
        got = "value";
        LF_EXPECT(got == expected, std::string(path) + ": " + show(given) + " " + show(arg.bytes) +
                                       " lifted, expected " + expected);
        check(value);
        return;
    } catch (const lumenfold::ffi::LiftFailure& e) {
        got = "lift: " + e.reason;
    } catch (const lumenfold::ffi::ArgLiftFailure& e) {
        got = (e.name == "arg" ? "lift: " : "misnamed lift: ") + e.reason;
    } catch (const lumenfold::Panic& p) {
        got = "panic: " + p.message();
    }
    LF_EXPECT(got == expected,
              std::string(path) + ": " + show(given) + " " + show(arg.bytes) + " gave " + got + ", expected " + expected);
}

// Checks that lowering gave exactly `want`, and releases the lowered buffer.
inline void expect_lowered(const char* path, RustBuffer lowered, const Bytes& want) {
    const Bytes got = bytes_of(lowered);
    lumenfold::ffi::release_storage(lowered);
    LF_EXPECT(got == want, std::string(path) + ": lowered " + show(got) + ", lifted from " + show(want));
}

inline bool is_zero_buffer(const RustBuffer& b) { return b.capacity == 0 && b.len == 0 && b.data == nullptr; }

}  // namespace lf_fuzz
