// Phasor: the in-phase and quadrature components of the four-bar smoothed
// price at a cycle period of 6 bars. The in-phase value is the detrender of
// three bars back, the quadrature the Hilbert transform of the detrender.
// Bars 1 to 6 return (0, 0) while only the smoother advances.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/classic/cycle_outputs.hpp"
#include "lumenfold/core/cycles/quadrature.hpp"
#include "lumenfold/core/filters/hilbert_transform.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Four-bar weighted means of windows x[k .. k+3] (x holds count + 3 values):
// out[k] = ((((x[k+3] * 4) + (x[k+2] * 3)) + (x[k+1] + x[k+1])) + x[k]) / 10.
extern const Kernel<void(const double* x, std::size_t count, double* out)> four_bar_means;

// Seven-tap Hilbert transforms of windows x[k .. k+6] (x holds count + 6
// values): out[k] = gain * ((((x[k+6] * outer) + (x[k+4] * inner)) -
// (x[k+2] * inner)) - (x[k] * outer)).
extern const Kernel<void(const double* x, std::size_t count, double outer, double inner, double gain, double* out)> hilbert_firs;

}  // namespace lumenfold::core::lanes

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

    // Batch form: the first bars stepped, the steady ones in SIMD lanes.
    void batch(BigEndianOut out, BigEndianSeries x) {
        const std::size_t warm = std::min(kSteadyFrom, x.size());
        for (std::size_t t = 0; t < warm; ++t) put(out, t, next(x[t]));
        steady_components(x, [&](std::size_t t, PhasorOutput c) { put(out, t, c); });
    }

    // From this bar on (counted from 0) the smoother and both FIRs hold
    // measured values only, so a bar's components are a fixed function of
    // its last 16 inputs.
    static constexpr std::size_t kSteadyFrom = 18;

    // The components of bars kSteadyFrom .. n-1 at the stored period, as
    // f(bar, components) in bar order, read from the inputs alone: the
    // smoothed prices, then the detrender, then the quadrature over whole
    // chunks of bars in SIMD lanes.
    template <class F>
    void steady_components(BigEndianSeries x, F f) const {
        constexpr std::size_t kHistory = kSteadyFrom - 3;
        const std::size_t n = x.size();
        if (n <= kSteadyFrom) return;
        const double gain = hilbert_gain(period_);
        const std::size_t chunk = std::min<std::size_t>(2048, n - kSteadyFrom);
        std::vector<double> v(chunk + kHistory + lanes::kPad), smooth(chunk + 12 + lanes::kPad),
            det(chunk + 6 + lanes::kPad), q(chunk + lanes::kPad);
        for (std::size_t first = kSteadyFrom; first < n; first += chunk) {
            const std::size_t count = std::min(chunk, n - first);
            lanes::from_big_endian(x.bytes() + (first - kHistory) * 8, count + kHistory, v.data());
            lanes::four_bar_means(v.data(), count + 12, smooth.data());
            lanes::hilbert_firs(smooth.data(), count + 6, kHilbertOuterTap, kHilbertInnerTap, gain, det.data());
            lanes::hilbert_firs(det.data(), count, kHilbertOuterTap, kHilbertInnerTap, gain, q.data());
            for (std::size_t k = 0; k < count; ++k) f(first + k, PhasorOutput{det[k + 3], q[k]});
        }
    }

    static void put(BigEndianOut out, std::size_t t, PhasorOutput c) noexcept {
        out.put(2 * t, c.in_phase);
        out.put(2 * t + 1, c.quadrature);
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

// SineWave: the phasor turned into a phase angle (no quadrant correction, 0
// while |I1| <= 0.0001), returned as the sine of the phase (in_phase) and the
// sine of the phase advanced by 45 degrees (quadrature). Bars 1 to 6 return
// (0, 0).
class SineWave {
public:
    PhasorOutput next(double x) noexcept {
        const PhasorOutput c = phasor_.next(x);  // (0, 0) on bars 1 to 6
        if (!phasor_.running()) return c;
        return sines(c);
    }

    // Batch form: the first bars stepped, the steady ones' components in
    // SIMD lanes, each turned into its sines.
    void batch(BigEndianOut out, BigEndianSeries x) {
        const std::size_t warm = std::min(Phasor::kSteadyFrom, x.size());
        for (std::size_t t = 0; t < warm; ++t) Phasor::put(out, t, next(x[t]));
        phasor_.steady_components(x, [&](std::size_t t, PhasorOutput c) { Phasor::put(out, t, sines(c)); });
    }

private:
    static PhasorOutput sines(PhasorOutput c) noexcept {
        double phase = 0.0;
        // A NaN I1 fails the test and gives phase 0.
        if (std::fabs(c.in_phase) > 0.0001) phase = std::atan(c.quadrature / c.in_phase) * kRadToDeg;
        return {std::sin(phase * kDegToRad), std::sin((phase + 45.0) * kDegToRad)};
    }

    Phasor phasor_;  // stepped at its stored period, which stays 6
};

}  // namespace lumenfold::core
