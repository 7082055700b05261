// Fourier series model: three band-passes (bandwidth 0.1) at the fundamental
// period F and at the integer quotients F/2 and F/3 isolate the fundamental
// and its second and third harmonics. Each component's power over the last F
// bars is measured from the component and its scaled derivative (its
// quadrature); the output is the fundamental plus each harmonic scaled by the
// square root of its power relative to the fundamental's, or the fundamental
// alone while that power is not positive. No warm-up; a band period of 0
// (F < 3) makes its band NaN.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/filters/bandpass.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/smoothing.hpp"

namespace lumenfold::core {

class FourierSeriesModel {
public:
    explicit FourierSeriesModel(std::uint64_t fundamental)
        : power_{SMA(fundamental), SMA(fundamental), SMA(fundamental)},
          band_{BandPass(fundamental, kBandwidth), BandPass(fundamental / 2, kBandwidth),
                BandPass(fundamental / 3, kBandwidth)},
          fundamental_(to_f64(fundamental)),
          quadrature_scale_(to_f64(fundamental) / kTwoPi) {}

    double next(double x) noexcept {
        double bp[3];
        double p[3];
        for (int i = 0; i < 3; ++i) {
            bp[i] = band_[i].next(x);
            const double q = quadrature_scale_ * (bp[i] - prev_[i]);
            p[i] = power_[i].next(bp[i] * bp[i] + q * q) * fundamental_;
            prev_[i] = bp[i];
        }
        if (!(p[0] > 0.0)) return bp[0];
        return (bp[0] + bp[1] * std::sqrt(p[1] / p[0])) + bp[2] * std::sqrt(p[2] / p[0]);
    }

private:
    static constexpr double kBandwidth = 0.1;

    SMA power_[3];  // rolling means of each component's power term over F bars
    BandPass band_[3];
    double fundamental_;
    double quadrature_scale_;
    double prev_[3] = {};  // each band-pass's previous output
};

}  // namespace lumenfold::core
