// Reference-counted binding objects: a core indicator behind a mutex with a
// poison flag. A handle is the object's address and designates one strong
// reference; every method call consumes the reference it is given.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <utility>

#include "ffi.hpp"

namespace lumenfold::ffi {

#ifdef LUMENFOLD_COUNT_OBJECTS
// Test builds count live objects to prove every object is freed exactly once.
inline std::atomic<std::int64_t> live_objects{0};
#endif

template <class Core>
struct Object {
    template <class... Args>
    explicit Object(Args&&... args) : core(std::forward<Args>(args)...) {
#ifdef LUMENFOLD_COUNT_OBJECTS
        live_objects.fetch_add(1, std::memory_order_relaxed);
#endif
    }
    ~Object() {
#ifdef LUMENFOLD_COUNT_OBJECTS
        live_objects.fetch_sub(1, std::memory_order_relaxed);
#endif
    }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    std::atomic<std::uint64_t> strong{1};
    std::mutex mutex;
    bool poisoned = false;
    Core core;
};

template <class Core>
Object<Core>* object_from(std::uint64_t handle) {
    if (handle == 0) throw Panic("null object handle");
    return reinterpret_cast<Object<Core>*>(static_cast<std::uintptr_t>(handle));
}

template <class Core, class... Args>
std::uint64_t make_object(Args&&... args) {
    auto* obj = new Object<Core>(std::forward<Args>(args)...);
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(obj));
}

// Adds one reference; a count that could wrap ends the process.
template <class Core>
std::uint64_t clone_handle(std::uint64_t handle) noexcept {
    if (handle == 0) return 0;
    auto* obj = reinterpret_cast<Object<Core>*>(static_cast<std::uintptr_t>(handle));
    const std::uint64_t before = obj->strong.fetch_add(1, std::memory_order_relaxed);
    if (before >= (std::uint64_t{1} << 63)) std::abort();
    return handle;
}

// Drops one reference; the last one destroys the object.
template <class Core>
void release_handle(std::uint64_t handle) noexcept {
    if (handle == 0) return;
    auto* obj = reinterpret_cast<Object<Core>*>(static_cast<std::uintptr_t>(handle));
    if (obj->strong.fetch_sub(1, std::memory_order_release) == 1) {
        acquire_after_last_release(obj->strong);
        delete obj;
    }
}

// Releases the consumed reference when the method scaffolding ends, however it ends.
template <class Core>
struct ConsumedHandle {
    std::uint64_t handle;
    ~ConsumedHandle() { release_handle<Core>(handle); }
};

// Runs `step(core)` under the object's lock. A failure escaping the step
// poisons the object; a poisoned object refuses every later call.
template <class Core, class Step>
decltype(auto) with_locked(std::uint64_t handle, Step&& step) {
    Object<Core>* obj = object_from<Core>(handle);
    std::unique_lock<std::mutex> lock(obj->mutex);
    if (obj->poisoned) {
        lock.unlock();
        throw Panic(std::string(kPoisonMessage));
    }
    try {
        return step(obj->core);
    } catch (...) {
        obj->poisoned = true;
        throw;
    }
}

// A scalar bool argument arrives as a signed byte: 0 or 1, anything else fails.
inline bool lift_bool_arg(std::int8_t v, const char* name) {
    if (v != 0 && v != 1) throw ArgLiftFailure{name, "unexpected byte for Boolean"};
    return v == 1;
}

}  // namespace lumenfold::ffi
