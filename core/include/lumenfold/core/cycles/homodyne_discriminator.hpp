// Homodyne discriminator: the dominant cycle period in bars, from the phase
// advance per bar of the Hilbert phasor of the four-bar smoothed price. Bars 1
// to 6 return 0 (only the smoother advances); from bar 7 on the period is
// measured, held within a factor 0.67 to 1.5 of the previous bar's and within
// 6 to 50 bars, and blended 0.8/0.2 with the previous one, which starts at 6.
// A NaN measurement passes the limits and makes the period NaN for good.
#pragma once

#include <cstdint>

#include "lumenfold/core/cycles/quadrature.hpp"
#include "lumenfold/core/filters/hilbert_transform.hpp"
#include "lumenfold/core/filters/homodyne.hpp"

namespace lumenfold::core {

class HomodyneDiscriminator {
public:
    double next(double x) noexcept {
        const double s = smoother_.next(x);
        if (count_ < 7) ++count_;
        if (count_ < 7) return 0.0;
        const double prev = period_;
        period_ = next_cycle_period(prev, measure_.next(s, prev).raw_period);
        return period_;
    }

    // The period that sets the next bar's FIR gain (6 before bar 7).
    double period() const noexcept { return period_; }

private:
    EhlersWma4 smoother_;
    HomodyneMeasure measure_;
    double period_ = 6.0;
    std::uint64_t count_ = 0;  // bars seen, held at 7 once running
};

}  // namespace lumenfold::core
