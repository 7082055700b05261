// Byte-buffer entry points, the contract version and the status helpers.
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "exports.h"
#include "serialize.hpp"

namespace lumenfold::ffi {

namespace {
constexpr std::uint64_t kMaxAlloc = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

std::uint8_t* allocate(std::uint64_t size) {
    if (size > kMaxAlloc) throw Panic("capacity overflow");
    auto* p = static_cast<std::uint8_t*>(std::malloc(size));
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
}  // namespace

bool check_buffer(const RustBuffer& buf) {
    if (buf.data != nullptr) {
        if (buf.len > buf.capacity) throw Panic("RustBuffer length exceeds capacity");
        return true;
    }
    if (buf.capacity != 0) throw Panic("null RustBuffer had non-zero capacity");
    if (buf.len != 0) throw Panic("null RustBuffer had non-zero length");
    return false;
}

RustBuffer buffer_from(std::string_view bytes) {
    if (bytes.empty()) return empty_buffer();
    std::uint8_t* p = allocate(bytes.size());
    std::memcpy(p, bytes.data(), bytes.size());
    return RustBuffer{bytes.size(), bytes.size(), p};
}

void set_error(RustCallStatus* status, std::string_view message) noexcept {
    if (status == nullptr) return;
    status->code = kCallUnexpectedError;
    try {
        status->error_buf = buffer_from(message);
    } catch (...) {
        status->error_buf = empty_buffer();
    }
}

void report_panic(std::string_view message) noexcept {
    std::fprintf(stderr, "thread panicked at lumenfold boundary:\n%.*s\n", static_cast<int>(message.size()),
                 message.data());
}

std::string shortage_reason(std::uint64_t remaining, std::uint64_t needed) {
    return "not enough bytes remaining in buffer (" + std::to_string(remaining) + " < " + std::to_string(needed) +
           ")";
}

std::string leftover_reason(std::uint64_t remaining) {
    return "junk data left in buffer after lifting (count: " + std::to_string(remaining) + ")";
}

}  // namespace lumenfold::ffi

using namespace lumenfold::ffi;

LF_EXPORT RustBuffer ffi_lumenfold_python_rustbuffer_alloc(std::uint64_t size, RustCallStatus* status) {
    return call_with_status<RustBuffer>(status, [&] {
        if (size == 0) return empty_buffer();
        std::uint8_t* p = allocate(size);
        std::memset(p, 0, size);
        return RustBuffer{size, size, p};
    });
}

LF_EXPORT RustBuffer ffi_lumenfold_python_rustbuffer_from_bytes(ForeignBytes bytes, RustCallStatus* status) {
    return call_with_status<RustBuffer>(status, [&] {
        if (bytes.data == nullptr) {
            if (bytes.len != 0) throw lumenfold::Panic("null ForeignBytes had non-zero length");
            return empty_buffer();
        }
        if (bytes.len < 0)
            throw lumenfold::Panic("bytes length negative or overflowed: " + std::to_string(bytes.len));
        return buffer_from(std::string_view(reinterpret_cast<const char*>(bytes.data),
                                            static_cast<std::size_t>(bytes.len)));
    });
}

LF_EXPORT void ffi_lumenfold_python_rustbuffer_free(RustBuffer buf, RustCallStatus* status) {
    call_with_status<void>(status, [&] {
        if (check_buffer(buf)) release_storage(buf);
    });
}

LF_EXPORT RustBuffer ffi_lumenfold_python_rustbuffer_reserve(RustBuffer buf, std::uint64_t additional,
                                                             RustCallStatus* status) {
    return call_with_status<RustBuffer>(status, [&] {
        check_buffer(buf);
        if (buf.capacity - buf.len >= additional) return buf;
        // The old storage is gone after this call whatever happens.
        struct Release {
            RustBuffer* b;
            ~Release() {
                if (b) release_storage(*b);
            }
        } release{&buf};
        const std::uint64_t need = buf.len + additional;
        if (need < buf.len || need > kMaxAlloc) throw lumenfold::Panic("capacity overflow");
        // Geometric growth: hosts append element by element.
        std::uint64_t cap = buf.capacity * 2;
        if (cap < need) cap = need;
        if (cap < 8) cap = 8;
        if (cap > kMaxAlloc) cap = need;
        std::uint8_t* p = allocate(cap);
        if (buf.len != 0) std::memcpy(p, buf.data, buf.len);
        return RustBuffer{cap, buf.len, p};
    });
}

LF_EXPORT std::uint32_t ffi_lumenfold_python_uniffi_contract_version() { return 30; }
