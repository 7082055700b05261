// Storage sized from a parameter or an input (windows from periods, spectra
// from bounds, outputs from series lengths). Every such allocation fails the
// same way, with a Panic whose message is "capacity overflow" for a
// size whose bytes would pass the signed 64-bit range, "memory allocation
// failed" for one the heap cannot supply. Parameters are not validated: a
// size that can be had is allocated, whatever it costs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "lumenfold/core/framework/panic.hpp"

namespace lumenfold::core {

inline constexpr const char* kCapacityOverflow = "capacity overflow";
inline constexpr const char* kAllocationFailed = "memory allocation failed";

// The two failures, thrown out of line: the code that checks for them stays
// small enough to be inlined into the constructors of the indicators, which
// then keep their state in registers.
[[noreturn, gnu::cold, gnu::noinline]] inline void throw_capacity_overflow() { throw Panic(kCapacityOverflow); }
[[noreturn, gnu::cold, gnu::noinline]] inline void throw_allocation_failed() { throw Panic(kAllocationFailed); }

// Runs `make`, whose allocations may fail, turning the standard library's
// failures into the Panic: std::length_error (a size past a container's
// max_size) into "capacity overflow", std::bad_alloc into "memory allocation
// failed".
template <class F>
decltype(auto) allocating(F&& make) {
    try {
        return std::forward<F>(make)();
    } catch (const std::length_error&) {
        throw_capacity_overflow();
    } catch (const std::bad_alloc&) {
        throw_allocation_failed();
    }
}

// n elements of `size` bytes as a count, or "capacity overflow" when they
// would take more than PTRDIFF_MAX bytes (the largest object there can be).
inline std::size_t element_count(std::uint64_t n, std::size_t size) {
    if (n > static_cast<std::uint64_t>(PTRDIFF_MAX) / size) throw_capacity_overflow();
    return static_cast<std::size_t>(n);
}

// A vector of n copies of `value`.
template <class T>
std::vector<T> sized_vector(std::uint64_t n, const T& value = T()) {
    const std::size_t count = element_count(n, sizeof(T));
    return allocating([&] { return std::vector<T>(count, value); });
}

// v with room for n elements.
template <class T>
void reserve(std::vector<T>& v, std::uint64_t n) {
    const std::size_t count = element_count(n, sizeof(T));
    allocating([&] { v.reserve(count); });
}

// v with n elements, new ones value-initialised.
template <class T>
void resize(std::vector<T>& v, std::uint64_t n) {
    const std::size_t count = element_count(n, sizeof(T));
    allocating([&] { v.resize(count); });
}

struct FreeDoubles {
    void operator()(double* p) const noexcept { std::free(p); }
};
using ZeroedDoubles = std::unique_ptr<double[], FreeDoubles>;

// n doubles, all +0.0, from calloc: the pages are not touched until written,
// so a large window costs memory only as it fills. Null for n = 0.
inline ZeroedDoubles zeroed_doubles(std::uint64_t n) {
    const std::size_t count = element_count(n, sizeof(double));
    if (count == 0) return nullptr;
    auto* p = static_cast<double*>(std::calloc(count, sizeof(double)));
    if (p == nullptr) throw_allocation_failed();
    return ZeroedDoubles(p);
}

}  // namespace lumenfold::core
