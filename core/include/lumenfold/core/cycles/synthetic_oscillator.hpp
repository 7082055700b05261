// Synthetic oscillator: a clean sine wave that follows the measured dominant
// cycle. The cycle comes from the rotation rate of an RMS-normalised
// in-phase/quadrature pair taken from a band-limited copy of the Hann-smoothed
// price (high-pass at the upper bound, super smoother at the lower bound),
// clamped to [lower_bound, upper_bound] (the upper bound applied last). A phase
// accumulator advances by 2pi/cycle each bar and is re-aligned at the zero
// crossings of a trend-free reference wave (high-pass, then ultimate smoother,
// both at the integer geometric mean of the bounds). The output is the sine of
// the phase, held at the previous output where it would turn back against the
// phase quadrant (falling in the first, rising in the third).
//
// No placeholder: bars 1 to 3 free-run at the lower bound. A zero bound makes
// the phase infinite and every output NaN.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/cycles/rms_normaliser.hpp"
#include "lumenfold/core/filters/hann.hpp"
#include "lumenfold/core/filters/high_pass.hpp"
#include "lumenfold/core/filters/super_smoother.hpp"
#include "lumenfold/core/filters/ultimate_smoother.hpp"
#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

class SyntheticOscillator {
public:
    SyntheticOscillator(std::uint64_t lower_bound, std::uint64_t upper_bound)
        : hann_(12),
          band_hp_(upper_bound),
          band_lp_(lower_bound),
          ref_hp_(reference_period(lower_bound, upper_bound)),
          ref_lp_(reference_period(lower_bound, upper_bound)),
          cycle_(to_f64(lower_bound)),
          lower_(to_f64(lower_bound)),
          upper_(to_f64(upper_bound)) {}

    // The integer part of sqrt(lower·upper), the product wrapping in u64.
    static std::uint64_t reference_period(std::uint64_t lower, std::uint64_t upper) noexcept {
        return saturating_u64(std::sqrt(to_f64(lower * upper)));
    }

    double next(double x) noexcept {
        const double lp = band_lp_.next(band_hp_.next(hann_.next(x)));
        const double i = in_phase_.next(lp);
        const double q = quadrature_.next(i - i1_);
        const double a = (i - i1_) * q;
        const double b = i * (q - q1_);
        const double d = a - b;
        double cycle = std::fabs(a - b) > 1e-10 ? (kTwoPi * (i * i + q * q)) / d : cycle_;
        if (cycle < lower_) cycle = lower_;
        if (cycle > upper_) cycle = upper_;

        const double r = ref_lp_.next(ref_hp_.next(x));
        phase_ = phase_ + kTwoPi / cycle;
        if (r > 0.0 && ref1_ <= 0.0) {
            phase_ = kPi / cycle;
        } else if (r < 0.0 && ref1_ >= 0.0) {
            phase_ = kPi / cycle + kPi;
        }

        const double s = std::sin(phase_);
        const double w = std::fmod(phase_, kTwoPi);
        const bool hold = (0.0 < w && w < kHalfPi && s < out1_) || (kPi < w && w < kThreeHalfPi && s > out1_);
        const double out = hold ? out1_ : s;

        i1_ = i;
        q1_ = q;
        cycle_ = cycle;
        ref1_ = r;
        out1_ = out;
        return out;
    }

    // The cycle of the last bar (the lower bound before the first).
    double cycle() const noexcept { return cycle_; }

private:
    static constexpr double kHalfPi = 1.5707963267948966;
    static constexpr double kThreeHalfPi = 4.71238898038469;

    HannFilter hann_;
    RmsNormaliser in_phase_;
    RmsNormaliser quadrature_;
    HighPass band_hp_;
    SuperSmoother band_lp_;
    double i1_ = 0.0;
    double q1_ = 0.0;
    HighPass ref_hp_;
    UltimateSmoother ref_lp_;
    double cycle_;
    double ref1_ = 0.0;
    double phase_ = 0.0;
    double out1_ = 0.0;
    double lower_;
    double upper_;
};

}  // namespace lumenfold::core
