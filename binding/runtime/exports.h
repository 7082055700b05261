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

LF_DECLARE_FUTURE(u8, std::uint8_t)
LF_DECLARE_FUTURE(i8, std::int8_t)
LF_DECLARE_FUTURE(u16, std::uint16_t)
LF_DECLARE_FUTURE(i16, std::int16_t)
LF_DECLARE_FUTURE(u32, std::uint32_t)
LF_DECLARE_FUTURE(i32, std::int32_t)
LF_DECLARE_FUTURE(u64, std::uint64_t)
LF_DECLARE_FUTURE(i64, std::int64_t)
LF_DECLARE_FUTURE(f32, float)
LF_DECLARE_FUTURE(f64, double)
LF_DECLARE_FUTURE(rust_buffer, RustBuffer)
LF_DECLARE_FUTURE(void, void)
#undef LF_DECLARE_FUTURE

}  // extern "C"
