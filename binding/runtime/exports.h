// The runtime's own entry points: byte buffers, the contract version and the
// future family. entry_points.h (generated) declares every item's.
#pragma once

#include "ffi.hpp"

extern "C" {

RustBuffer ffi_lumenfold_python_rustbuffer_alloc(std::uint64_t size, RustCallStatus* status);
RustBuffer ffi_lumenfold_python_rustbuffer_from_bytes(ForeignBytes bytes, RustCallStatus* status);
void ffi_lumenfold_python_rustbuffer_free(RustBuffer buf, RustCallStatus* status);
RustBuffer ffi_lumenfold_python_rustbuffer_reserve(RustBuffer buf, std::uint64_t additional, RustCallStatus* status);
std::uint32_t ffi_lumenfold_python_uniffi_contract_version();

typedef void (*LumenfoldContinuationCallback)(std::uint64_t data, std::int8_t poll_code);

#define LF_DECLARE_FUTURE(K, RET)                                                                          \
    void ffi_lumenfold_python_rust_future_poll_##K(std::uint64_t handle, LumenfoldContinuationCallback cb, \
                                                   std::uint64_t data) noexcept;                          \
    void ffi_lumenfold_python_rust_future_cancel_##K(std::uint64_t handle) noexcept;                      \
    RET ffi_lumenfold_python_rust_future_complete_##K(std::uint64_t handle, RustCallStatus* status) noexcept; \
    void ffi_lumenfold_python_rust_future_free_##K(std::uint64_t handle) noexcept;

// The return kinds of the future family with a value, as (suffix, C type).
#define LF_FUTURE_VALUE_KINDS(X) \
    X(u8, std::uint8_t)          \
    X(i8, std::int8_t)           \
    X(u16, std::uint16_t)        \
    X(i16, std::int16_t)         \
    X(u32, std::uint32_t)        \
    X(i32, std::int32_t)         \
    X(u64, std::uint64_t)        \
    X(i64, std::int64_t)         \
    X(f32, float)                \
    X(f64, double)               \
    X(rust_buffer, RustBuffer)

LF_FUTURE_VALUE_KINDS(LF_DECLARE_FUTURE)
LF_DECLARE_FUTURE(void, void)
#undef LF_DECLARE_FUTURE

}  // extern "C"
