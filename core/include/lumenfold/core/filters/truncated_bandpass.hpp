// Truncated band-pass filter: the two-pole band-pass centred on `period` with
// relative `bandwidth`, recomputed every bar over the last length + 2 inputs
// from a zero state `length` bars back, so a shock leaves the output after
// length + 2 bars. Coefficients are formed in degrees. Outputs 1 to
// length + 1 are 0; length 0 gives 0 on every bar.
#pragma once

#include <cmath>
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/filters/window_fir.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Truncated band-pass of the bars whose windows of p + 2 inputs end at
// x[k + p + 1], w_c = x[k + p + 1 - c] newest first: from t1 = t2 = 0, for
// c = p-1 down to 0, t = ((a * t1) + (b * (w_c - w_{c+2}))) - (s1 * t2),
// t2 = t1, t1 = t; out[k] = t1. p >= 1.
extern const Kernel<void(const double* x, std::size_t count, std::size_t period, double a, double b, double s1, double* out)> truncated_bandpass_outputs;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class TruncatedBandpass {
public:
    TruncatedBandpass(std::uint64_t period, double bandwidth, std::uint64_t length)
        : window_(window_size(length, 1, 2)), period_(to_f64(period)), bandwidth_(bandwidth), length_(length) {
        l1_ = std::cos((360.0 / period_) * kDegToRad);
        const double g1 = std::cos(((bandwidth * 360.0) / period_) * kDegToRad);
        s1_ = (1.0 / g1) - std::sqrt((1.0 / (g1 * g1)) + (-1.0));
        a_ = (s1_ + 1.0) * l1_;
        b_ = (1.0 - s1_) * 0.5;
    }

    double next(double x) noexcept {
        if (!window_.push(x) || length_ == 0) return 0.0;
        double t1 = 0.0;  // T(c + 1)
        double t2 = 0.0;  // T(c + 2)
        for (std::uint64_t c = length_; c-- > 0;) {
            const double t = ((a_ * t1) + (b_ * (window_[c] - window_[c + 2]))) - (s1_ * t2);
            t2 = t1;
            t1 = t;
        }
        return t1;
    }

    bool batch_ready() const noexcept { return window_.len() == 0; }

    // Batch form: zeros until a window is full, then every bar's recursion
    // over its own window run side by side in SIMD lanes.
    template <class O, Series S>
    void batch(const O& out, const S& x) const {
        const std::size_t n = x.size();
        const std::size_t length = static_cast<std::size_t>(length_);
        const std::size_t partial = length == 0 ? n : std::min(length + 1, n);
        for (std::size_t i = 0; i < partial; ++i) out.put(i, 0.0);
        if (length == 0) return;
        lanes::run_chunks(out, length + 1, partial, [&](std::size_t count, double* r, const double* v) {
            lanes::truncated_bandpass_outputs(v, count, length, a_, b_, s1_, r);
        }, x);
    }

    double l1() const noexcept { return l1_; }
    double s1() const noexcept { return s1_; }
    double period() const noexcept { return period_; }
    double bandwidth() const noexcept { return bandwidth_; }
    std::uint64_t length() const noexcept { return length_; }

private:
    FirWindow window_;  // last length + 2 inputs, newest at the front
    double period_;
    double bandwidth_;
    std::uint64_t length_;
    double l1_;
    double s1_;
    double a_;  // (S1 + 1)·L1, the feedback of T(c + 1)
    double b_;  // (1 - S1)·0.5, the gain of the input difference
};

}  // namespace lumenfold::core
