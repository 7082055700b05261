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

#include "lumenfold/core/classic/cycle_outputs.hpp"
#include "lumenfold/core/cycles/quadrature.hpp"
#include "lumenfold/core/filters/hilbert_transform.hpp"
#include "lumenfold/core/framework/chunks.hpp"
#include "lumenfold/core/framework/kernel.hpp"
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

    bool batch_ready() const noexcept { return count_ == 0; }

    // Batch form: the first bars stepped, the steady ones in SIMD lanes.
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        const std::size_t warm = std::min(kSteadyFrom, x.size());
        for (std::size_t t = 0; t < warm; ++t) out.put(t, next(x[t]));
        // A copy of the sink: a local that the stores it makes cannot alias.
        steady_components(x, [out](std::size_t t, const PhasorOutput& c) { out.put(t, c); });
    }

    // From this bar on (counted from 0) the smoother and both FIRs hold
    // measured values only, so a bar's components are a fixed function of
    // its last 16 inputs.
    static constexpr std::size_t kSteadyFrom = 18;

    // The components of bars kSteadyFrom .. n-1 at the stored period, read
    // from the inputs alone: the smoothed prices, then the detrender, then
    // the quadrature over whole chunks of bars in SIMD lanes; f(bar,
    // components) takes them in bar order, each as the chunk's lanes leave
    // it, so that a sink writes them while they are at hand.
    template <Series S, class F>
    void steady_components(const S& x, F f) const {
        constexpr std::size_t kHistory = kSteadyFrom - 3;
        if (x.size() <= kSteadyFrom) return;
        const double gain = hilbert_gain(period_);
        const std::size_t most = std::min(lanes::kChunk, x.size() - kSteadyFrom);
        std::vector<double> smooth(most + 12 + lanes::kPad), det(most + 6 + lanes::kPad), q(most + lanes::kPad);
        lanes::each_chunk(kHistory, kSteadyFrom, [&](std::size_t first, std::size_t count, const double* v) {
            lanes::four_bar_means(v, count + 12, smooth.data());
            lanes::hilbert_firs(smooth.data(), count + 6, kHilbertOuterTap, kHilbertInnerTap, gain, det.data());
            lanes::hilbert_firs(det.data(), count, kHilbertOuterTap, kHilbertInnerTap, gain, q.data());
            for (std::size_t k = 0; k < count; ++k) f(first + k, PhasorOutput{det[k + 3], q[k]});
        }, x);
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

    bool batch_ready() const noexcept { return phasor_.batch_ready(); }

    // Batch form: the first bars stepped, the steady ones' components in
    // SIMD lanes, each turned into its sines.
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        const std::size_t warm = std::min(Phasor::kSteadyFrom, x.size());
        for (std::size_t t = 0; t < warm; ++t) out.put(t, next(x[t]));
        // A copy of the sink: a local that the stores it makes cannot alias.
        phasor_.steady_components(x, [out](std::size_t t, const PhasorOutput& c) { out.put(t, sines(c)); });
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
