// Template bodies of ffi.hpp.
#pragma once

#include <new>
#include <stdexcept>

#include "lumenfold/core/framework/panic.hpp"

namespace lumenfold::ffi {

template <class R, class F>
R call_with_status(RustCallStatus* status, F&& body) noexcept {
    try {
        if constexpr (std::is_void_v<R>) {
            body();
            return;
        } else {
            return body();
        }
    } catch (const ArgLiftFailure& e) {
        std::string message = "Failed to convert arg '";
        message += e.name;
        message += "':\n";
        message += e.reason;
        set_error(status, message);
    } catch (const Panic& p) {
        report_panic(p.message());
        set_error(status, p.message());
    } catch (const std::bad_alloc&) {
        report_panic("memory allocation failed");
        set_error(status, "memory allocation failed");
    } catch (const std::length_error&) {
        report_panic("capacity overflow");
        set_error(status, "capacity overflow");
    } catch (...) {
        report_panic("Unknown panic!");
        set_error(status, "Unknown panic!");
    }
    if constexpr (!std::is_void_v<R>) return R{};
}

}  // namespace lumenfold::ffi
