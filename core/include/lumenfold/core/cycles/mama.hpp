// MESA adaptive moving average: an exponential average (mama) whose factor
// follows the rate of change of the Hilbert phase of the price, fastlimit
// divided by the phase decrease per bar in degrees (at least 1), held within
// [slowlimit, fastlimit]; fama follows mama with half the factor. The
// homodyne period measurement (starting from 0) sets the gain of the Hilbert
// FIRs. Bars 1 to 5 return (price, price); the averages run from bar 6, seeded
// with the bar-5 price.
//
// A step fails with "min > max, or either was NaN. min = .., max = .." when
// slowlimit > fastlimit or a limit is NaN (from bar 6 on). A NaN price that
// reaches the smoothed price makes the period NaN; the period limits are then
// skipped and the outputs stay NaN, like any recursion fed NaN.
#pragma once

#include <cstdint>

#include "lumenfold/core/cycles/quadrature.hpp"
#include "lumenfold/core/filters/hilbert_transform.hpp"

namespace lumenfold::core {

struct MamaOutput {
    double mama;
    double fama;
};

class MAMA {
public:
    MAMA(double fastlimit, double slowlimit) noexcept : fastlimit_(fastlimit), slowlimit_(slowlimit) {}

    MamaOutput next(double price);

    double fastlimit() const noexcept { return fastlimit_; }
    double slowlimit() const noexcept { return slowlimit_; }
    // The smoothed cycle period that sets the next bar's FIR gain.
    double period() const noexcept { return period_; }

private:
    EhlersWma4 smoother_;
    HomodyneMeasure measure_;
    double fastlimit_;
    double slowlimit_;
    double period_ = 0.0;
    double phase_ = 0.0;
    double mama_ = 0.0;
    double fama_ = 0.0;
    std::uint64_t count_ = 0;  // bars seen, held at 6 once running
};

}  // namespace lumenfold::core
