// Ultimate oscillator: a two-pole high-pass of period bandwidth·band_edge
// minus one of period band_edge keeps the cycles between the two cut-offs;
// the difference is divided by its root mean square over the last 100 bars
// (over the bars seen while fewer are held). Bars 1 to 3 give 0 (both
// high-passes are still 0); a root mean square of 1e-10 or less, or NaN,
// gives 0.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/filters/high_pass.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/running_window_sum.hpp"

namespace lumenfold::core {

class EhlersUltimateOscillator {
public:
    static constexpr std::uint64_t kRmsLength = 100;

    EhlersUltimateOscillator(std::uint64_t band_edge, double bandwidth)
        : wide_(wide_period(band_edge, bandwidth)), edge_(band_edge), sum_sq_(kRmsLength) {}

    // The wide high-pass period bandwidth·band_edge, truncated toward zero and
    // saturated (negative or NaN give 0, past the u64 range its maximum).
    static std::uint64_t wide_period(std::uint64_t band_edge, double bandwidth) noexcept {
        return saturating_u64(bandwidth * to_f64(band_edge));
    }

    double next(double x) noexcept {
        const double wide = wide_.next(x);
        const double signal = wide - edge_.next(x);
        sum_sq_.push(signal * signal);
        const double rms = std::sqrt(sum_sq_.clamp_at_zero() / to_f64(sum_sq_.len()));
        return rms > 1e-10 ? signal / rms : 0.0;
    }

private:
    HighPass wide_;
    HighPass edge_;
    RunningWindowSum sum_sq_;  // squares of the last 100 signal values
};

}  // namespace lumenfold::core
