// Reference-counted binding objects: a core indicator behind a mutex with a
// poison flag. A handle is the object's address and designates one strong
// reference; every method call consumes the reference it is given.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "ffi.hpp"

namespace lumenfold::ffi {

#ifdef LUMENFOLD_COUNT_OBJECTS
// Test builds count live objects to prove every object is freed exactly once.
inline std::atomic<std::int64_t> live_objects{0};
#endif

// What every object starts with, whatever its core: its type (identity and
// destructor) and its exported name, so that a call on an object of another
// type is refused by name and a free destroys the right type.
struct ObjectBase;
struct ObjectType {
    void (*destroy)(ObjectBase*) noexcept;
};

struct ObjectBase {
    const ObjectType* type;
    std::string_view name;
    std::atomic<std::uint64_t> strong{1};
};

template <class Core>
struct Object : ObjectBase {
    template <class... Args>
    explicit Object(std::string_view exported_name, Args&&... args)
        : ObjectBase{&kType, exported_name}, core(std::forward<Args>(args)...) {
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

    static void destroy(ObjectBase* base) noexcept { delete static_cast<Object*>(base); }
    static constexpr ObjectType kType{&destroy};

    std::mutex mutex;
    bool poisoned = false;
    Core core;
};

inline ObjectBase* object_from(std::uint64_t handle) {
    if (handle == 0) throw Panic("null object handle");
    return reinterpret_cast<ObjectBase*>(static_cast<std::uintptr_t>(handle));
}

template <class Core, class... Args>
std::uint64_t make_object(std::string_view exported_name, Args&&... args) {
    auto* obj = new Object<Core>(exported_name, std::forward<Args>(args)...);
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(static_cast<ObjectBase*>(obj)));
}

// Adds one reference; a count that could wrap ends the process. The same for
// every type.
inline std::uint64_t clone_handle(std::uint64_t handle) noexcept {
    if (handle == 0) return 0;
    const std::uint64_t before = object_from(handle)->strong.fetch_add(1, std::memory_order_relaxed);
    if (before >= (std::uint64_t{1} << 63)) std::abort();
    return handle;
}

// Drops one reference; the last one destroys the object, as its own type.
inline void release_handle(std::uint64_t handle) noexcept {
    if (handle == 0) return;
    ObjectBase* obj = object_from(handle);
    if (obj->strong.fetch_sub(1, std::memory_order_release) == 1) {
        acquire_after_last_release(obj->strong);
        obj->type->destroy(obj);
    }
}

// The reference a method call consumes, held from the start of the call and
// released when the call ends, however it ends. A handle of another type is
// refused by name; its reference is consumed all the same.
template <class Core>
class ConsumedHandle {
public:
    ConsumedHandle(std::uint64_t handle, std::string_view method) : handle_(handle) {
        ObjectBase* base = object_from(handle);
        if (base->type != &Object<Core>::kType) {
            std::string message(method);
            message += " called on an object of type ";
            message += base->name;
            release_handle(handle);  // a throwing constructor runs no destructor
            throw Panic(message);
        }
        object_ = static_cast<Object<Core>*>(base);
    }
    ~ConsumedHandle() { release_handle(handle_); }
    ConsumedHandle(const ConsumedHandle&) = delete;
    ConsumedHandle& operator=(const ConsumedHandle&) = delete;

    Object<Core>* object() const noexcept { return object_; }

private:
    std::uint64_t handle_ = 0;
    Object<Core>* object_ = nullptr;
};

// Runs `step(core)` under the object's lock. A failure escaping the step
// poisons the object; a poisoned object refuses every later call.
template <class Core, class Step>
decltype(auto) with_locked(const ConsumedHandle<Core>& held, Step&& step) {
    Object<Core>* obj = held.object();
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
