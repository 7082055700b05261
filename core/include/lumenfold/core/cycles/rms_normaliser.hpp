// Scales a value by the root mean square of the last 100 values (itself
// included): a running sum of squares added to on push and subtracted from on
// drop, divided by the number of values held. An RMS not above 1e-10 (or a
// NaN one, as a sum driven below zero by rounding gives) scales to 0.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

class RmsNormaliser {
public:
    static constexpr std::uint64_t kLength = 100;

    RmsNormaliser() : window_(kLength) {}

    double next(double x) noexcept {
        window_.push(x);
        sum_sq_ = sum_sq_ + x * x;
        if (window_.len() > kLength) {
            const double v = window_.pop();
            sum_sq_ = sum_sq_ - v * v;
        }
        const double rms = std::sqrt(sum_sq_ / to_f64(window_.len()));
        return rms > 1e-10 ? x / rms : 0.0;
    }

private:
    RingBuffer window_;
    double sum_sq_ = 0.0;
};

}  // namespace lumenfold::core
