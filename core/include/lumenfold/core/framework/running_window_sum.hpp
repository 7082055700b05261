// Running sum over the last N values pushed (oldest first): the new value is
// added and the one leaving the window subtracted, never re-summed. SMA, the
// sums of squares under the RMS-scaled oscillators and the change sums of the
// reversion index use it.
#pragma once

#include <cstdint>

#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

class RunningWindowSum {
public:
    explicit RunningWindowSum(std::uint64_t length) : window_(length), length_(length) {}

    // Appends x, drops the oldest value beyond the length; returns the sum.
    double push(double x) noexcept {
        window_.push(x);
        sum_ = x + sum_;
        if (window_.len() > length_) sum_ = sum_ - window_.pop();
        return sum_;
    }

    // A sum of squares can end slightly below 0 by rounding once large values
    // have left the window; it restarts from 0 then (NaN is kept).
    double clamp_at_zero() noexcept {
        if (sum_ < 0.0) sum_ = 0.0;
        return sum_;
    }

    double sum() const noexcept { return sum_; }
    std::uint64_t len() const noexcept { return window_.len(); }

private:
    RingBuffer window_;
    std::uint64_t length_;
    double sum_ = 0.0;
};

}  // namespace lumenfold::core
