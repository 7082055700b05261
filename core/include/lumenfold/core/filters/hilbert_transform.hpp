// Finite-impulse-response building blocks of the cycle-measurement family.
//
// HilbertFIR: seven-tap Hilbert transformer (0.0962, 0, 0.5769, 0, -0.5769, 0,
// -0.0962 newest first) times the gain 0.075·period + 0.54. Both windows start
// full of zeros, so the missing past counts as zero and there is no warm-up
// placeholder. Each instance must be fed one stream only.
#pragma once

#include <vector>

#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

// Taps of the Hilbert transformer, newest first: kHilbertOuterTap, 0,
// kHilbertInnerTap, 0, -kHilbertInnerTap, 0, -kHilbertOuterTap.
inline constexpr double kHilbertOuterTap = 0.0962;
inline constexpr double kHilbertInnerTap = 0.5769;

// Gain of a Hilbert transform stage for the cycle period (in bars) that its
// owner currently holds.
inline double hilbert_gain(double period) noexcept { return (period * 0.075) + 0.54; }

// The four-bar weighted mean of x0 (newest) to x3 (oldest).
inline double weighted_mean4(double x0, double x1, double x2, double x3) noexcept {
    return ((((x0 * 4.0) + (x1 * 3.0)) + (x2 + x2)) + x3) / 10.0;
}

// EhlersWma4: the four-bar weighted mean (4, 3, 2, 1 newest first) / 10 of the
// input; bars 1 to 3 weigh the missing past as zeros (bar 1 gives 0.4·x).
class EhlersWma4 {
public:
    EhlersWma4() : window_(RingBuffer::from(std::vector<double>(4, 0.0))) {}

    double next(double x) noexcept {
        window_.pop_back();
        window_.push_front(x);
        return weighted_mean4(window_[0], window_[1], window_[2], window_[3]);
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
        const double s = (((window_[0] * kHilbertOuterTap) + (window_[2] * kHilbertInnerTap)) -
                          (window_[4] * kHilbertInnerTap)) -
                         (window_[6] * kHilbertOuterTap);
        return hilbert_gain(period) * s;
    }

private:
    RingBuffer window_;  // always seven values, newest at the front
};

}  // namespace lumenfold::core
