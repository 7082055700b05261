// Instantaneous trendline: each bar measures the dominant cycle with a Hilbert
// homodyne discriminator, smooths it, averages the most recent prices over one
// cycle length and smooths that average with a four-bar weighted mean.
// Bars 1 to 6 only fill the price history and price smoother; the Hilbert
// stages run from bar 7; the output is the input itself through bar 11.
// A NaN that reaches the discriminator makes the period NaN for good; the
// cycle length is then 0 and the trendline decays to 0.
#pragma once

#include <cstdint>
#include <vector>

#include "lumenfold/core/cycles/homodyne_discriminator.hpp"
#include "lumenfold/core/filters/hilbert_transform.hpp"
#include "lumenfold/core/filters/homodyne.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

class InstantaneousTrendline {
public:
    static constexpr std::uint64_t kHistory = 50;

    InstantaneousTrendline() : prices_(RingBuffer::from(std::vector<double>(kHistory, 0.0))) {}

    double next(double x) noexcept {
        const std::uint64_t n = ++count_;
        prices_.pop_back();
        prices_.push_front(x);
        // The discriminator's own warm-up matches this one: it measures from bar 7.
        const double period = discriminator_.next(x);
        if (n < 7) return x;
        smooth_period_ = smooth_cycle_period(smooth_period_, period);

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
    double period() const noexcept { return discriminator_.period(); }
    double smooth_period() const noexcept { return smooth_period_; }

    // Saturating truncation toward zero: negative and NaN give 0, values past
    // the u64 range give its maximum.
    static std::uint64_t cycle_length(double v) noexcept { return saturating_u64(v); }

private:
    RingBuffer prices_;  // last 50 inputs, newest at the front
    HomodyneDiscriminator discriminator_;
    double smooth_period_ = 6.0;
    std::uint64_t count_ = 0;
    EhlersWma4 trendline_smoother_;
};

}  // namespace lumenfold::core
