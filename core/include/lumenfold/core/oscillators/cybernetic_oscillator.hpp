// Cybernetic oscillator: a two-pole high-pass of period hp_length, then a
// super smoother of period lp_length, divided by the root mean square over the
// last rms_len smoothed values. The mean is always taken over rms_len, also
// while the window fills, so the first computed bar (bar 4) gives
// ±sqrt(rms_len). Bars 1 to 3 give 0; a mean square of 0 gives 0, and
// rms_len 0 gives NaN on every bar (0/0).
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/filters/high_pass.hpp"
#include "lumenfold/core/filters/super_smoother.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/running_window_sum.hpp"

namespace lumenfold::core {

class CyberneticOscillator {
public:
    CyberneticOscillator(std::uint64_t hp_length, std::uint64_t lp_length, std::uint64_t rms_len)
        : hp_(hp_length), ss_(lp_length), sum_sq_(rms_len), rms_len_(to_f64(rms_len)) {}

    double next(double x) noexcept {
        // The smoother passes its first three inputs (the high-pass zeros) through.
        const double filt = ss_.next(hp_.next(x));
        sum_sq_.push(filt * filt);
        const double ms = sum_sq_.clamp_at_zero() / rms_len_;
        return ms == 0.0 ? 0.0 : filt / std::sqrt(ms);
    }

private:
    HighPass hp_;
    SuperSmoother ss_;
    RunningWindowSum sum_sq_;  // squares of the last rms_len smoothed values
    double rms_len_;
};

}  // namespace lumenfold::core
