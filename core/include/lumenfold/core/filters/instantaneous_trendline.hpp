// Instantaneous trendline: each bar measures the dominant cycle with a Hilbert
// homodyne discriminator, smooths it, averages the most recent prices over one
// cycle length and smooths that average with a four-bar weighted mean.
// Bars 1 to 6 only fill the price history and price smoother; the Hilbert
// stages run from bar 7; the output is the input itself through bar 11.
// A NaN that reaches the discriminator makes the period NaN for good; the
// cycle length is then 0 and the trendline decays to 0.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "lumenfold/core/filters/hilbert_transform.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

class InstantaneousTrendline {
public:
    static constexpr std::uint64_t kHistory = 50;

    InstantaneousTrendline()
        : prices_(RingBuffer::from(std::vector<double>(kHistory, 0.0))),
          detrender_history_(RingBuffer::from(std::vector<double>(7, 0.0))) {}

    double next(double x) noexcept {
        const std::uint64_t n = ++count_;
        prices_.pop_back();
        prices_.push_front(x);
        const double smooth = price_smoother_.next(x);
        if (n < 7) return x;

        const double p = period_;
        const double detrender = detrender_.next(smooth, p);
        detrender_history_.pop_back();
        detrender_history_.push_front(detrender);
        const double q1 = quadrature_.next(detrender, p);
        const double i1 = detrender_history_[3];
        const double ji = in_phase_transform_.next(i1, p);
        const double jq = quadrature_transform_.next(q1, p);

        const double i2 = ((i1 - jq) * 0.2) + (i2_ * 0.8);
        const double q2 = ((q1 + ji) * 0.2) + (q2_ * 0.8);
        const double re = (re_ * 0.8) + (((i2_ * i2) + (q2_ * q2)) * 0.2);
        const double im = (((q2_ * i2) - (i2_ * q2)) * 0.2) + (im_ * 0.8);
        i2_ = i2;
        q2_ = q2;
        re_ = re;
        im_ = im;

        double c = p;
        if (im != 0.0 && re != 0.0) c = 360.0 / (std::atan(im / re) * kRadToDeg);
        // Plain comparisons: a NaN candidate passes every clamp.
        if (c > p * 1.5) c = p * 1.5;
        if (c < p * 0.67) c = p * 0.67;
        if (c < 6.0) c = 6.0;
        if (c > 50.0) c = 50.0;
        period_ = (p * 0.8) + (c * 0.2);
        smooth_period_ = (smooth_period_ * 0.67) + (period_ * 0.33);

        const std::uint64_t dc = cycle_length(smooth_period_ + 0.5);
        double t = 0.0;
        if (dc != 0) {
            // Indices past the stored history are skipped.
            const std::uint64_t held = dc < prices_.len() ? dc : prices_.len();
            double s = 0.0;
            for (std::uint64_t i = 0; i < held; ++i) s = s + prices_[i];
            t = s / to_f64(dc);
        }
        const double trendline = trendline_smoother_.next(t);
        return n < 12 ? x : trendline;
    }

    // Measured and smoothed cycle period, in bars (6 before bar 7).
    double period() const noexcept { return period_; }
    double smooth_period() const noexcept { return smooth_period_; }

    // Saturating truncation toward zero: negative and NaN give 0, values past
    // the u64 range give its maximum.
    static std::uint64_t cycle_length(double v) noexcept { return saturating_u64(v); }

private:
    RingBuffer prices_;  // last 50 inputs, newest at the front
    EhlersWma4 price_smoother_;
    HilbertFIR detrender_;
    RingBuffer detrender_history_;  // last 7 detrender values, newest at the front
    HilbertFIR quadrature_;
    HilbertFIR in_phase_transform_;
    HilbertFIR quadrature_transform_;
    double i2_ = 0.0;
    double q2_ = 0.0;
    double re_ = 0.0;
    double im_ = 0.0;
    double period_ = 6.0;
    double smooth_period_ = 6.0;
    std::uint64_t count_ = 0;
    EhlersWma4 trendline_smoother_;
};

}  // namespace lumenfold::core
