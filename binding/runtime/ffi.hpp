// The shared boundary types and the building blocks every entry point uses:
// byte buffers, call status, panic capture and argument-lift failures.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#define LF_EXPORT extern "C" __attribute__((visibility("default")))

extern "C" {

struct RustBuffer {
    std::uint64_t capacity;
    std::uint64_t len;
    std::uint8_t* data;
};

struct ForeignBytes {
    std::int32_t len;
    const std::uint8_t* data;
};

struct RustCallStatus {
    std::int8_t code;
    RustBuffer error_buf;
};

}  // extern "C"

namespace lumenfold::ffi {

inline constexpr std::int8_t kCallSuccess = 0;
inline constexpr std::int8_t kCallUnexpectedError = 2;
inline constexpr std::int8_t kCallCancelled = 3;

inline constexpr std::string_view kPoisonMessage =
    "called `Result::unwrap()` on an `Err` value: PoisonError { .. }";

// Non-null address of a buffer that owns no storage; never dereferenced or freed.
inline std::uint8_t* dangling() noexcept { return reinterpret_cast<std::uint8_t*>(alignof(std::uint8_t)); }
inline RustBuffer empty_buffer() noexcept { return RustBuffer{0, 0, dangling()}; }

// The acquire half of dropping a reference: after the decrement (release) that
// reached zero, the destroying thread must see every access the other owners
// made. ThreadSanitizer does not model standalone fences, so under it an
// acquire load of the same count, which orders the same accesses, stands in.
#if defined(__SANITIZE_THREAD__)
#define LF_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define LF_THREAD_SANITIZER 1
#endif
#endif
inline void acquire_after_last_release(const std::atomic<std::uint64_t>& count) noexcept {
#ifdef LF_THREAD_SANITIZER
    (void)count.load(std::memory_order_acquire);
#else
    (void)count;
    std::atomic_thread_fence(std::memory_order_acquire);
#endif
}

// Applies the buffer rule; a violation is a panic. Returns false for a null
// (empty) buffer, true when `data` may be read.
bool check_buffer(const RustBuffer& buf);

// Buffer storage. Blocks of 64 KiB and more are recycled: a freed one is kept
// in a small cache (a few blocks, bounded in total bytes, shared by all
// threads) and handed out again for a request it fits, so repeated calls of
// the same sizes touch no fresh pages. Every block may also be released with
// std::free. acquire_storage panics with "capacity overflow" past the signed
// 64-bit range and throws std::bad_alloc when the heap cannot supply the size.
// recycle_storage returns false, and does nothing, for a block the cache
// holds already (one freed twice).
std::uint8_t* acquire_storage(std::uint64_t size);
bool recycle_storage(std::uint8_t* block) noexcept;

// Releases a buffer that passed check_buffer; false for one freed already
// (as far as the cache can tell).
inline bool release_storage(const RustBuffer& buf) noexcept {
    return buf.capacity == 0 || buf.data == nullptr || recycle_storage(buf.data);
}

// A new buffer holding a copy of `bytes`.
RustBuffer buffer_from(std::string_view bytes);

// A failure to decode one argument: reported as
// "Failed to convert arg '<name>':\n<reason>", never as a panic.
struct LiftFailure {
    std::string reason;
};
struct ArgLiftFailure {
    std::string name;
    std::string reason;
};

// Writes a failure into the caller's status (code 2, message in error_buf).
void set_error(RustCallStatus* status, std::string_view message) noexcept;

// Prints the process-wide panic report on standard error.
void report_panic(std::string_view message) noexcept;

// Runs `body` and turns every failure into status code 2 with its message:
// a Panic gives its message, an argument failure the conversion message, an
// exhausted allocation "memory allocation failed", an impossible size
// "capacity overflow", anything else "Unknown panic!". Returns R{} on failure.
template <class R, class F>
R call_with_status(RustCallStatus* status, F&& body) noexcept;

}  // namespace lumenfold::ffi

#include "ffi_impl.hpp"
