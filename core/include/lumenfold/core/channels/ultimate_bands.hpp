// Ultimate bands: the ultimate smoother (period `length`) of the price as the
// middle line, with bands at ± num_sds times the root mean square of the
// price's distance from it over the last `length` bars (a partial window at the
// start: the mean is over the residuals held). The smoother passes the first
// three inputs through, so those bars give (x, x, x). A sum of squares that is
// not positive (0, negative through rounding, or NaN) gives zero width; the
// running sum never forgets a NaN, so after a NaN or infinite input the bands
// stay on the middle.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/channels/band_output.hpp"
#include "lumenfold/core/filters/ultimate_smoother.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

class UltimateBands {
public:
    UltimateBands(std::uint64_t length, double num_sds)
        : residuals_(length), smoother_(length), num_sds_(num_sds), length_(length) {}

    BandOutput next(double x) noexcept {
        const double middle = smoother_.next(x);
        const double r = x - middle;
        const double q = r * r;
        sum_sq_ = q + sum_sq_;
        residuals_.push(q);
        if (residuals_.len() > length_) sum_sq_ = sum_sq_ - residuals_.pop();
        const double rms = sum_sq_ > 0.0 ? std::sqrt(sum_sq_ / to_f64(residuals_.len())) : 0.0;
        const double d = rms * num_sds_;
        return BandOutput{middle + d, middle, middle - d};
    }

private:
    RingBuffer residuals_;  // squared residuals of the last `length` bars
    UltimateSmoother smoother_;
    double num_sds_;
    std::uint64_t length_;
    double sum_sq_ = 0.0;
};

}  // namespace lumenfold::core
