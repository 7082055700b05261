// Finite-impulse-response building blocks of the cycle-measurement family.
//
// EhlersWma4: four-bar weighted mean (4, 3, 2, 1 newest first) / 10.
// HilbertFIR: seven-tap Hilbert transformer (0.0962, 0, 0.5769, 0, -0.5769, 0,
// -0.0962 newest first) times the gain 0.075·period + 0.54.
// Both windows start full of zeros, so the missing past counts as zero and
// there is no warm-up placeholder. Each instance must be fed one stream only.
#pragma once

#include <vector>

#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

class EhlersWma4 {
public:
    EhlersWma4() : window_(RingBuffer::from(std::vector<double>(4, 0.0))) {}

    double next(double x) noexcept {
        window_.pop_back();
        window_.push_front(x);
        const double x0 = window_[0];
        const double x1 = window_[1];
        const double x2 = window_[2];
        const double x3 = window_[3];
        return ((((x0 * 4.0) + (x1 * 3.0)) + (x2 + x2)) + x3) / 10.0;
    }

private:
    RingBuffer window_;  // always four values, newest at the front
};

class HilbertFIR {
public:
    HilbertFIR() : window_(RingBuffer::from(std::vector<double>(7, 0.0))) {}

    // Advances the window by x and returns the transform scaled for the cycle
    // period the caller currently holds. The odd taps are zero.
    double next(double x, double period) noexcept {
        window_.pop_back();
        window_.push_front(x);
        const double s =
            (((window_[0] * 0.0962) + (window_[2] * 0.5769)) - (window_[4] * 0.5769)) - (window_[6] * 0.0962);
        const double gain = (period * 0.075) + 0.54;
        return gain * s;
    }

private:
    RingBuffer window_;  // always seven values, newest at the front
};

}  // namespace lumenfold::core
