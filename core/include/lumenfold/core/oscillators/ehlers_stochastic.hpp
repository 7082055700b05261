// Ehlers stochastic: the roofing-filtered price (a two-pole high-pass of period
// hp_period, then a super smoother of period ss_period; 0 on bars 1 and 2)
// placed between the lowest and highest of its last stoch_period values and
// scaled to 0..100, unsmoothed.
//
// The window is used partly filled from bar 1; a flat window (exact equality)
// gives 50. With stoch_period 0 the window stays empty and the extremes keep
// their starting values -+1.7976931348623157e308, so every output is NaN.
#pragma once

#include <cstdint>

#include "lumenfold/core/channels/window_extreme.hpp"
#include "lumenfold/core/filters/roofing_filter.hpp"

namespace lumenfold::core {

class EhlersStochastic {
public:
    EhlersStochastic(std::uint64_t hp_period, std::uint64_t ss_period, std::uint64_t stoch_period)
        : front_(hp_period, ss_period),
          highest_(stoch_period),
          lowest_(stoch_period),
          stoch_period_(stoch_period) {}

    double next(double x) noexcept {
        const double filt = front_.next(x);
        const double highest = highest_.next(filt);
        const double lowest = lowest_.next(filt);
        if (stoch_period_ > 0 && highest == lowest) return 50.0;
        return ((filt - lowest) * 100.0) / (highest - lowest);
    }

    std::uint64_t hp_period() const noexcept { return front_.hp_period(); }
    std::uint64_t ss_period() const noexcept { return front_.ss_period(); }
    std::uint64_t stoch_period() const noexcept { return stoch_period_; }

private:
    RoofingFilter front_;
    WindowHighest highest_;
    WindowLowest lowest_;
    std::uint64_t stoch_period_;
};

}  // namespace lumenfold::core
