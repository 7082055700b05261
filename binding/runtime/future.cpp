// The 48 future entry points: poll, cancel, complete and free for each return kind.
#include "future.hpp"

using namespace lumenfold::ffi;

#define LF_FUTURE_FAMILY(K, T, RET, ZERO_RETURN)                                                      \
    LF_EXPORT void ffi_lumenfold_python_rust_future_poll_##K(std::uint64_t handle,                     \
                                                             ContinuationCallback cb,                 \
                                                             std::uint64_t data) noexcept {            \
        future_add_ref<T>(handle);                                                                    \
        future_from<T>(handle)->poll(cb, data);                                                       \
        future_release<T>(handle);                                                                    \
    }                                                                                                 \
    LF_EXPORT void ffi_lumenfold_python_rust_future_cancel_##K(std::uint64_t handle) noexcept {        \
        future_add_ref<T>(handle);                                                                    \
        future_from<T>(handle)->cancel();                                                             \
        future_release<T>(handle);                                                                    \
    }                                                                                                 \
    LF_EXPORT RET ffi_lumenfold_python_rust_future_complete_##K(std::uint64_t handle,                  \
                                                                RustCallStatus* status) noexcept {    \
        future_add_ref<T>(handle);                                                                    \
        auto result = future_from<T>(handle)->complete(status);                                       \
        future_release<T>(handle);                                                                    \
        ZERO_RETURN;                                                                                  \
    }                                                                                                 \
    LF_EXPORT void ffi_lumenfold_python_rust_future_free_##K(std::uint64_t handle) noexcept {          \
        future_from<T>(handle)->free_pending();                                                       \
        future_release<T>(handle);                                                                    \
    }

#define LF_FUTURE_VALUE(K, T) LF_FUTURE_FAMILY(K, T, T, return result.value)

LF_FUTURE_VALUE(u8, std::uint8_t)
LF_FUTURE_VALUE(i8, std::int8_t)
LF_FUTURE_VALUE(u16, std::uint16_t)
LF_FUTURE_VALUE(i16, std::int16_t)
LF_FUTURE_VALUE(u32, std::uint32_t)
LF_FUTURE_VALUE(i32, std::int32_t)
LF_FUTURE_VALUE(u64, std::uint64_t)
LF_FUTURE_VALUE(i64, std::int64_t)
LF_FUTURE_VALUE(f32, float)
LF_FUTURE_VALUE(f64, double)
LF_FUTURE_VALUE(rust_buffer, RustBuffer)
LF_FUTURE_FAMILY(void, void, void, (void)result)
