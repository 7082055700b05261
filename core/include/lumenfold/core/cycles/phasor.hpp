// Phasor: the in-phase and quadrature components of the four-bar smoothed
// price at a cycle period of 6 bars. The in-phase value is the detrender of
// three bars back, the quadrature the Hilbert transform of the detrender.
// Bars 1 to 6 return (0, 0) while only the smoother advances.
//
// SineWave: the same front end turned into a phase angle (no quadrant
// correction, 0 while |I1| <= 0.0001) and returned as the sine of the phase
// and the sine of the phase advanced by 45 degrees.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/classic/cycle_outputs.hpp"
#include "lumenfold/core/cycles/quadrature.hpp"
#include "lumenfold/core/filters/hilbert_transform.hpp"
#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

class Phasor {
public:
    PhasorOutput next(double x) noexcept { return next_with_period(x, period_); }

    // One bar at a caller-given period, limited to 6..50 bars and stored (a
    // NaN period is stored as it is).
    PhasorOutput next_with_period(double x, double period) noexcept {
        if (period < 6.0) period = 6.0;
        if (period > 50.0) period = 50.0;
        period_ = period;
        const double s = smoother_.next(x);
        if (count_ < 7) ++count_;
        if (count_ < 7) return {0.0, 0.0};
        return front_.next(s, period_);
    }

    double period() const noexcept { return period_; }
    // True from bar 7 on, when the components are measured.
    bool running() const noexcept { return count_ == 7; }

private:
    EhlersWma4 smoother_;
    QuadratureFrontEnd front_;
    double period_ = 6.0;
    std::uint64_t count_ = 0;  // bars seen, held at 7 once running
};

class SineWave {
public:
    PhasorOutput next(double x) noexcept {
        const PhasorOutput c = phasor_.next(x);  // (0, 0) on bars 1 to 6
        if (!phasor_.running()) return c;
        double phase = 0.0;
        // A NaN I1 fails the test and gives phase 0.
        if (std::fabs(c.in_phase) > 0.0001) phase = std::atan(c.quadrature / c.in_phase) * kRadToDeg;
        return {std::sin(phase * kDegToRad), std::sin((phase + 45.0) * kDegToRad)};
    }

private:
    Phasor phasor_;  // stepped at its stored period, which stays 6
};

}  // namespace lumenfold::core
