// Helpers shared by the boundary and thread-stress tests.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "runtime/object.hpp"

namespace lumenfold::test {

// A call status that starts cleared and releases the message a failed call left in it.
struct Status : RustCallStatus {
    Status() : RustCallStatus{0, {0, 0, nullptr}} {}
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;
    ~Status() { reset(); }
    void reset() {
        if (code != 0) ffi::release_storage(error_buf);
        code = 0;
        error_buf = RustBuffer{0, 0, nullptr};
    }
    std::string message() const { return std::string(reinterpret_cast<const char*>(error_buf.data), error_buf.len); }
};

// Every refused call prints the panic report; a million of them would flood
// the test log, so standard error goes to /dev/null while one of these lives.
class QuietStderr {
public:
    QuietStderr() : saved_(dup(2)) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        close(null);
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;
    ~QuietStderr() {
        dup2(saved_, 2);
        close(saved_);
    }

private:
    int saved_;
};

// A core whose step fails on a negative input, counting the steps it
// finished and its live instances.
struct Faulty {
    static inline std::atomic<int> alive{0};
    std::uint64_t calls = 0;
    Faulty() { ++alive; }
    Faulty(const Faulty&) = delete;
    ~Faulty() { --alive; }
    double next(double x) {
        if (x < 0) throw Panic("negative input");
        ++calls;
        return x;
    }
};

// The method entry point of Faulty exactly as the generator writes it.
inline double faulty_next(std::uint64_t handle, double x, RustCallStatus* status) {
    return ffi::call_with_status<double>(status, [&]() -> double {
        ffi::ConsumedHandle<Faulty> consumed_{handle, "Faulty.next"};
        return static_cast<double>(ffi::with_locked(consumed_, [&](Faulty& c) { return c.next(x); }));
    });
}

inline std::uint64_t make_faulty() { return ffi::make_object<Faulty>("Faulty"); }
inline std::uint64_t strong_count(std::uint64_t handle) { return ffi::object_from(handle)->strong.load(); }

// The core of a live Faulty handle.
inline const Faulty& faulty_of(std::uint64_t handle) {
    return static_cast<ffi::Object<Faulty>*>(ffi::object_from(handle))->core;
}

}  // namespace lumenfold::test
