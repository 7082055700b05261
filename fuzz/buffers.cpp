// The byte-buffer entry points on arbitrary inputs: from_bytes on any length
// and pointer, free and reserve on RustBuffer triples of every shape,
// including those the buffer rule rejects, and alloc. Each outcome is
// predicted from the rules; rejected storage is poisoned so that reading it
// is caught, and everything the library hands out is released again.
#include <limits>

#include "fuzz_support.hpp"

using namespace lf_fuzz;

namespace {

constexpr std::uint64_t kMaxAlloc = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

// A buffer triple to hand to free or reserve, with the panic the rule must
// raise for it, if any.
struct Triple {
    RustBuffer buf{0, 0, nullptr};
    std::optional<std::string> fault;
    std::uint8_t* foreign = nullptr;
    Bytes content;  // the bytes in use, for a buffer that passes the rule
};

Triple make_triple(Input& in) {
    Triple t;
    switch (in.byte() % 6) {
        case 0: {  // from alloc, with any length up to the capacity
            const std::uint64_t cap = in.byte();
            Status st;
            t.buf = ffi_lumenfold_python_rustbuffer_alloc(cap, &st);
            LF_EXPECT(st.code == 0, "alloc failed");
            t.buf.len = cap == 0 ? 0 : in.byte() % (cap + 1);
            t.content = in.take(t.buf.len);
            t.content.resize(t.buf.len);
            if (t.buf.len != 0) std::memcpy(t.buf.data, t.content.data(), t.buf.len);
            break;
        }
        case 1: {  // from from_bytes
            t.content = in.take(in.byte());
            Status st;
            t.buf = ffi_lumenfold_python_rustbuffer_from_bytes(
                ForeignBytes{static_cast<std::int32_t>(t.content.size()),
                             t.content.empty() ? nullptr : t.content.data()},
                &st);
            LF_EXPECT(st.code == 0, "from_bytes failed");
            break;
        }
        case 2:  // null and empty
            break;
        case 3: {  // non-null, length beyond capacity
            std::uint64_t cap = in.u64();
            std::uint64_t len = in.u64();
            if (len <= cap) std::swap(len, cap);
            if (len == cap) {
                if (len == std::numeric_limits<std::uint64_t>::max()) --cap;
                else ++len;
            }
            t.foreign = foreign_storage();
            t.buf = RustBuffer{cap, len, t.foreign};
            t.fault = "RustBuffer length exceeds capacity";
            break;
        }
        default: {  // null with a capacity or a length
            std::uint64_t cap = in.u64();
            const std::uint64_t len = in.u64();
            if (cap == 0 && len == 0) cap = 1;
            t.buf = RustBuffer{cap, len, nullptr};
            t.fault = cap != 0 ? "null RustBuffer had non-zero capacity" : "null RustBuffer had non-zero length";
            break;
        }
    }
    return t;
}

void expect_failure(const char* op, Status& st, const std::string& message, const RustBuffer& returned = {}) {
    LF_EXPECT(st.code == 2, std::string(op) + ": succeeded, expected " + message);
    LF_EXPECT(is_zero_buffer(returned), std::string(op) + ": failure returned " + show(returned));
    const std::string got = st.take_message();
    LF_EXPECT(got == message, std::string(op) + ": message " + got + ", expected " + message);
}

void from_bytes(Input& in) {
    auto len = static_cast<std::int32_t>(in.u64());
    const bool null = in.byte() & 1;
    const Bytes bytes = in.take(512);
    // The library reads `len` bytes: never more than the caller really has.
    if (!null && len > static_cast<std::int32_t>(bytes.size())) len = static_cast<std::int32_t>(bytes.size());
    // A real address even when no byte is left (an empty vector may have none).
    static const std::uint8_t spare = 0;
    const std::uint8_t* at = null ? nullptr : bytes.empty() ? &spare : bytes.data();
    Status st;
    const RustBuffer b = ffi_lumenfold_python_rustbuffer_from_bytes(ForeignBytes{len, at}, &st);
    if (null && len != 0) return expect_failure("from_bytes", st, "null ForeignBytes had non-zero length", b);
    if (!null && len < 0) {
        LF_EXPECT(is_zero_buffer(b), "from_bytes: failure returned " + show(b));
        LF_EXPECT(st.code == 2, "from_bytes: negative length accepted");
        const std::string m = st.take_message();
        LF_EXPECT(m.rfind("bytes length negative or overflowed", 0) == 0, "from_bytes: message " + m);
        return;
    }
    LF_EXPECT(st.untouched(), "from_bytes: failed");
    LF_EXPECT(b.data != nullptr && b.len == static_cast<std::uint64_t>(len) && b.capacity == b.len,
              "from_bytes: returned " + show(b));
    LF_EXPECT(bytes_of(b) == Bytes(bytes.begin(), bytes.begin() + len), "from_bytes: bytes differ");
    free_result(b);
}

void free_triple(Input& in) {
    Triple t = make_triple(in);
    Status st;
    ffi_lumenfold_python_rustbuffer_free(t.buf, &st);
    if (t.fault) {
        expect_failure("free", st, *t.fault);
        if (t.foreign != nullptr) release_foreign(t.foreign);
    } else {
        LF_EXPECT(st.untouched(), "free: rejected " + show(t.buf));
    }
}

std::uint64_t additional(Input& in) {
    const std::uint64_t raw = in.u64();
    switch (in.byte() % 4) {
        case 0: return raw % 64;
        case 1: return raw % 4096;
        case 2: return std::numeric_limits<std::uint64_t>::max() - raw % 64;  // wraps
        default: return kMaxAlloc - raw % 512;                                // at the signed limit
    }
}

void reserve(Input& in) {
    Triple t = make_triple(in);
    const std::uint64_t add = additional(in);
    Status st;
    const RustBuffer r = ffi_lumenfold_python_rustbuffer_reserve(t.buf, add, &st);
    if (t.fault) {
        expect_failure("reserve", st, *t.fault, r);
        if (t.foreign != nullptr) release_foreign(t.foreign);
        return;
    }
    const RustBuffer& b = t.buf;
    if (b.capacity - b.len >= add) {
        LF_EXPECT(st.untouched(), "reserve: failed with room to spare");
        LF_EXPECT(r.capacity == b.capacity && r.len == b.len && r.data == b.data, "reserve: moved " + show(b));
        free_result(r);
        return;
    }
    // The old storage is gone either way from here on.
    const bool wraps = b.len + add < b.len;
    if (wraps || b.len + add > kMaxAlloc) return expect_failure("reserve", st, "capacity overflow", r);
    // Far beyond any heap: reported, not fatal.
    if (b.len + add > (std::uint64_t{1} << 40)) return expect_failure("reserve", st, "memory allocation failed", r);
    LF_EXPECT(st.untouched(), "reserve: failed to grow " + show(b) + " by " + std::to_string(add));
    LF_EXPECT(r.data != nullptr && r.len == b.len && r.capacity >= b.len + add, "reserve: returned " + show(r));
    LF_EXPECT(bytes_of(r) == t.content, "reserve: bytes not kept");
    free_result(r);
}

void alloc(Input& in) {
    const std::uint64_t raw = in.u64();
    // Beyond the signed range, far beyond any heap, or small.
    const std::uint64_t size = raw >> 62 ? raw : raw % 4096;
    Status st;
    const RustBuffer b = ffi_lumenfold_python_rustbuffer_alloc(size, &st);
    if (size > kMaxAlloc) return expect_failure("alloc", st, "capacity overflow", b);
    if (size > (std::uint64_t{1} << 40)) return expect_failure("alloc", st, "memory allocation failed", b);
    LF_EXPECT(st.untouched() && b.data != nullptr && b.len == size && b.capacity == size, "alloc: returned " + show(b));
    for (std::uint64_t i = 0; i < size; ++i) LF_EXPECT(b.data[i] == 0, "alloc: storage not zeroed");
    free_result(b);
}

}  // namespace

LF_FUZZ_TARGET(buffers) {
    Input in(data, size);
    for (int op = 0; op < 16 && !in.empty(); ++op) {
        switch (in.byte() % 4) {
            case 0: from_bytes(in); break;
            case 1: free_triple(in); break;
            case 2: reserve(in); break;
            default: alloc(in); break;
        }
    }
}
