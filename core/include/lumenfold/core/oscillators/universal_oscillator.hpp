// Universal oscillator: the two-bar price difference smoothed by a two-pole
// low-pass of period band_edge and divided by a slowly decaying peak of its own
// magnitude, so the output lies in [-1, +1]. Bars 1 and 2 give 0 and only store
// their inputs. Unlike the rest of the two-pole family its coefficients use
// sqrt(2)·pi, and the mean of the two inputs is formed before the gain c1 is
// applied.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

class UniversalOscillator {
public:
    // sqrt(2)·pi, the exact value (the family's 1.414·pi is not used here).
    static constexpr double kSqrt2Pi = 4.442882938158366;
    static constexpr double kDecay = 0.991;

    explicit UniversalOscillator(std::uint64_t band_edge) noexcept {
        const double p = to_f64(band_edge);
        const double a = std::exp(-kSqrt2Pi / p);
        c2_ = std::cos(kSqrt2Pi / p) * (a + a);
        c3_ = -(a * a);
        c1_ = (1.0 - c2_) - c3_;
    }

    double next(double x) noexcept {
        if (warmup_ < 2) {
            ++warmup_;
            price2_ = price1_;
            price1_ = x;
            return 0.0;
        }
        const double wn = (x - price2_) * 0.5;
        const double filt = (c1_ * ((wn1_ + wn) * 0.5) + c2_ * filt1_) + c3_ * filt2_;
        const double decayed = kDecay * peak_;
        // A NaN filt fails the comparison and leaves the decayed peak.
        peak_ = std::fabs(filt) > decayed ? std::fabs(filt) : decayed;
        filt2_ = filt1_;
        filt1_ = filt;
        price2_ = price1_;
        wn1_ = wn;
        price1_ = x;
        return peak_ == 0.0 ? 0.0 : filt / peak_;
    }

    double c1() const noexcept { return c1_; }
    double c2() const noexcept { return c2_; }
    double c3() const noexcept { return c3_; }

private:
    double c1_;
    double c2_;
    double c3_;
    double filt1_ = 0.0;
    double filt2_ = 0.0;
    double peak_ = 1e-7;
    double price1_ = 0.0;
    double price2_ = 0.0;
    double wn1_ = 0.0;
    std::uint64_t warmup_ = 0;  // bars seen, held at 2 once running
};

}  // namespace lumenfold::core
