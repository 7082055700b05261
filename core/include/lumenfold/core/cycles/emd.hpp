// Empirical mode decomposition: a band-pass centred on `period` (bandwidth
// 2·delta) isolates the cycle; its mean over 2·period bars is the trend, and
// the means over 50 bars of its most recent peak and valley (each recognised
// one bar late, from bar 3, by strict comparison with both neighbours; 0 until
// the first), times `fraction`, are the upper and lower thresholds. No
// warm-up: every mean averages the values seen so far.
#pragma once

#include <cstdint>

#include "lumenfold/core/filters/bandpass.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/smoothing.hpp"

namespace lumenfold::core {

struct EmdOutput {
    double trend;
    double upper;
    double lower;
};

class EMD {
public:
    EMD(std::uint64_t period, double delta, double fraction)
        : trend_(period * 2),
          peak_mean_(kExtremeBars),
          valley_mean_(kExtremeBars),
          k_(BandPassCoefficients::from(to_f64(period), delta + delta)),
          fraction_(fraction) {}

    EmdOutput next(double x) noexcept {
        ++count_;
        const double bp = k_.value(x, x2_, bp1_, bp2_);
        const double trend = trend_.next(bp);
        // Selects rather than branches: turning points come at random on
        // market prices.
        const bool turns = count_ >= 3;
        peak_ = select(turns & (bp1_ > bp) & (bp1_ > bp2_), bp1_, peak_);
        valley_ = select(turns & (bp1_ < bp) & (bp1_ < bp2_), bp1_, valley_);
        const double upper = peak_mean_.next(peak_) * fraction_;
        const double lower = valley_mean_.next(valley_) * fraction_;
        bp2_ = bp1_;
        bp1_ = bp;
        x2_ = x1_;
        x1_ = x;
        return {trend, upper, lower};
    }

private:
    static constexpr std::uint64_t kExtremeBars = 50;

    SMA trend_;
    SMA peak_mean_;
    SMA valley_mean_;
    BandPassCoefficients k_;
    double fraction_;
    double x1_ = 0.0;
    double x2_ = 0.0;
    double bp1_ = 0.0;
    double bp2_ = 0.0;
    double peak_ = 0.0;    // the last recognised peak
    double valley_ = 0.0;  // the last recognised valley
    std::uint64_t count_ = 0;
};

}  // namespace lumenfold::core
