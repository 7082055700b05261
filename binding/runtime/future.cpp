// The 48 future entry points: poll, cancel, complete and free for each return kind.
#include "future.hpp"

using namespace lumenfold::ffi;

// Handle 0 designates no future, and is harmless as object handle 0 is: it
// behaves as a future already cancelled. poll tells the host at once to
// complete, complete reports code 3 with the zero value, cancel and free do
// nothing.
#define LF_FUTURE_FAMILY(K, T, RET, ZERO_RETURN)                                                      \
    LF_EXPORT void ffi_lumenfold_python_rust_future_poll_##K(std::uint64_t handle,                     \
                                                             ContinuationCallback cb,                 \
                                                             std::uint64_t data) noexcept {            \
        if (handle == 0) {                                                                            \
            if (cb != nullptr) cb(data, kPollReady);                                                  \
            return;                                                                                   \
        }                                                                                             \
        future_add_ref<T>(handle);                                                                    \
        future_from<T>(handle)->poll(cb, data);                                                       \
        future_release<T>(handle);                                                                    \
    }                                                                                                 \
    LF_EXPORT void ffi_lumenfold_python_rust_future_cancel_##K(std::uint64_t handle) noexcept {        \
        if (handle == 0) return;                                                                      \
        future_add_ref<T>(handle);                                                                    \
        future_from<T>(handle)->cancel();                                                             \
        future_release<T>(handle);                                                                    \
    }                                                                                                 \
    LF_EXPORT RET ffi_lumenfold_python_rust_future_complete_##K(std::uint64_t handle,                  \
                                                                RustCallStatus* status) noexcept {    \
        FutureValue<T> result{};                                                                      \
        if (handle == 0) {                                                                            \
            report_cancelled(status);                                                                 \
        } else {                                                                                      \
            future_add_ref<T>(handle);                                                                \
            result = future_from<T>(handle)->complete(status);                                        \
            future_release<T>(handle);                                                                \
        }                                                                                             \
        ZERO_RETURN;                                                                                  \
    }                                                                                                 \
    LF_EXPORT void ffi_lumenfold_python_rust_future_free_##K(std::uint64_t handle) noexcept {          \
        if (handle == 0) return;                                                                      \
        future_from<T>(handle)->free_pending();                                                       \
        future_release<T>(handle);                                                                    \
    }

#define LF_FUTURE_VALUE(K, T) LF_FUTURE_FAMILY(K, T, T, return result.value)

LF_FUTURE_VALUE_KINDS(LF_FUTURE_VALUE)
LF_FUTURE_FAMILY(void, void, void, (void)result)
