// Correlation cycle: the Pearson correlations of the last P = `period` prices
// with a cosine and a negative sine wave of period P (entry i pairs with the
// price i bars back) are the real and imaginary parts of a phasor; its angle in
// degrees may not run backwards from bar P + 2 on, except by a wrap of at least
// 270 degrees. Bars 1 to P - 1 return zeros and leave the angle alone. A window
// whose variance test fails (constant prices, a NaN among them) correlates as
// 0.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/classic/cycle_outputs.hpp"
#include "lumenfold/core/framework/allocation.hpp"
#include "lumenfold/core/framework/chunks.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Pearson correlations of the windows x[k .. k+p-1] with two waves, entry i
// of a wave meeting x[k + p - 1 - i]: the sums Σx, Σx², Σx·a, Σx·b added
// newest first, then (p·Σxy - Σx·Σy)/sqrt(d) with d = (p·Σx² - (Σx)²)·var_y,
// or 0 unless d > 0. Arrays are padded (x for count + p - 1 values).
extern const Kernel<void(const double* x, std::size_t count, std::size_t period, const double* a, double a_sum, double a_var, const double* b, double b_sum, double b_var, double* corr_a, double* corr_b)> wave_correlations;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

struct CorrelationCycleOutput {
    double in_phase;    // real part: correlation with the cosine wave
    double quadrature;  // imaginary part: correlation with the negative sine wave
    double angle;       // degrees
};

// The phasor of each bar: the correlations with the cosine (in_phase) and with
// the negative sine (quadrature), each from -1 to 1.
class CorrelationCycle {
public:
    explicit CorrelationCycle(std::uint64_t period)
        : window_(period), cosine_(wave(period, false)), negative_sine_(wave(period, true)), period_(period) {
        cosine_stats_ = wave_stats(cosine_);
        sine_stats_ = wave_stats(negative_sine_);
    }

    CorrelationCycleOutput next(double x) noexcept {
        ++count_;
        window_.push_front(x);
        if (window_.len() > period_) window_.pop_back();
        if (window_.len() < period_) return {0.0, 0.0, 0.0};

        // The price sums are the same for both waves; the wave sums are fixed.
        double sx = 0.0, sxx = 0.0, sxc = 0.0, sxs = 0.0;
        for (std::uint64_t i = 0; i < period_; ++i) {
            const double v = window_[i];
            sx += v;
            sxx += v * v;
            sxc += v * cosine_[i];
            sxs += v * negative_sine_[i];
        }
        const double n = to_f64(period_);
        const double price_var = n * sxx - sx * sx;
        const double real = correlation(n, sx, price_var, sxc, cosine_stats_);
        const double imaginary = correlation(n, sx, price_var, sxs, sine_stats_);
        return {real, imaginary, turn(real, imaginary)};
    }

    bool batch_ready() const noexcept { return count_ == 0; }

    // Batch form: the warm-up's zeros, then the correlations of every full
    // window read from the series in SIMD lanes. The record leaves out the
    // angle, which is then not followed. Period 0 (no window to read) is
    // stepped.
    using BatchOutput = PhasorOutput;
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        if (period_ == 0) {
            for (std::size_t t = 0; t < x.size(); ++t) {
                const CorrelationCycleOutput r = next(x[t]);
                out.put(t, PhasorOutput{r.in_phase, r.quadrature});
            }
            return;
        }
        const std::size_t warm = std::min(static_cast<std::size_t>(period_) - 1, x.size());
        for (std::size_t t = 0; t < warm; ++t) out.put(t, PhasorOutput{0.0, 0.0});
        // A copy of the sink: a local that the stores it makes cannot alias.
        correlations(x, [out](std::size_t t, double real, double imaginary) {
            out.put(t, PhasorOutput{real, imaginary});
        });
    }

    // For a fresh cycle over the whole series: out[t] = f(angle of bar t),
    // the warm-up's zero angle included; the angles, each held against the
    // one before, bar by bar. Needs a period of at least 1.
    template <class O, Series S, class F>
    void angles(const O& out, const S& x, F f) {
        const std::size_t warm = std::min(static_cast<std::size_t>(period_) - 1, x.size());
        for (std::size_t t = 0; t < warm; ++t) out.put(t, f(0.0));
        count_ = warm;
        // A copy of the sink, as in the batch form.
        correlations(x, [&, out](std::size_t t, double real, double imaginary) {
            ++count_;
            out.put(t, f(turn(real, imaginary)));
        });
    }

    std::uint64_t period() const noexcept { return period_; }

private:
    struct WaveStats {
        double sum;
        double var;  // n·Σy² - (Σy)²
    };

    // Entry i: cos or -sin of (i·2pi)/P.
    static std::vector<double> wave(std::uint64_t period, bool sine) {
        std::vector<double> w = sized_vector<double>(period);
        for (std::uint64_t i = 0; i < period; ++i) {
            const double t = (to_f64(i) * kTwoPi) / to_f64(period);
            w[i] = sine ? -std::sin(t) : std::cos(t);
        }
        return w;
    }

    static WaveStats wave_stats(const std::vector<double>& w) noexcept {
        double sy = 0.0, syy = 0.0;
        for (double y : w) {
            sy += y;
            syy += y * y;
        }
        return {sy, to_f64(w.size()) * syy - sy * sy};
    }

    // f(bar, real, imaginary) for every bar from the first full window on, in
    // bar order: the correlations computed from the series in SIMD lanes,
    // chunk by chunk. Needs a period of at least 1.
    template <Series S, class F>
    void correlations(const S& x, F f) const {
        const std::size_t p = static_cast<std::size_t>(period_);
        lanes::each_output_pair(x, p - 1, [&](const double* v, std::size_t count, double* real, double* imaginary) {
            lanes::wave_correlations(v, count, p, cosine_.data(), cosine_stats_.sum, cosine_stats_.var,
                                     negative_sine_.data(), sine_stats_.sum, sine_stats_.var, real, imaginary);
        }, f);
    }

    // (n·Sxy - Sx·Sy)/sqrt(d) with d the product of the two variances, or 0
    // unless d > 0 (a NaN d included).
    static double correlation(double n, double sx, double price_var, double sxy, WaveStats w) noexcept {
        const double d = price_var * w.var;
        if (!(d > 0.0)) return 0.0;
        return (n * sxy - sx * w.sum) / std::sqrt(d);
    }

    // The angle of a measured bar from its correlations, held against the
    // stored one from bar P + 2 on, and stored.
    double turn(double real, double imaginary) noexcept {
        double angle = 90.0;
        if (imaginary != 0.0) angle = 90.0 + std::atan(real / imaginary) * kRadToDeg;
        // Selects rather than branches: the half plane and the hold change
        // unpredictably from bar to bar.
        angle = select(imaginary > 0.0, angle - 180.0, angle);
        if (count_ > period_ + 1) {
            // Held when below the stored angle by less than 270 degrees: then
            // the larger of the two. Written as a maximum and a masked choice,
            // which stay in floating-point registers on the angle's chain.
            const double larger = angle_ > angle ? angle_ : angle;
            angle = angle_ - angle < 270.0 ? larger : angle;
        }
        angle_ = angle;
        return angle;
    }

    RingBuffer window_;  // the last P prices, newest first
    std::vector<double> cosine_;
    std::vector<double> negative_sine_;
    WaveStats cosine_stats_{};
    WaveStats sine_stats_{};
    std::uint64_t period_;
    double angle_ = 0.0;
    std::uint64_t count_ = 0;
};

// Market state: +1 (up trend) or -1 (down trend, negative angle) while the
// correlation angle moves by less than `threshold` degrees per bar, else 0 (a
// cycling market). It compares the warm-up zeros too, so bars 1 to P - 1 give
// +1 for a positive threshold.
class MarketState {
public:
    MarketState(std::uint64_t period, double threshold) : cycle_(period), threshold_(threshold) {}

    double next(double x) noexcept { return state(cycle_.next(x).angle); }

    bool batch_ready() const noexcept { return cycle_.batch_ready(); }

    // Batch form: the cycle's angles over the whole series, each turned into
    // a state; period 0 (no window to read) is stepped.
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        if (cycle_.period() == 0) {
            for (std::size_t t = 0; t < x.size(); ++t) out.put(t, next(x[t]));
            return;
        }
        cycle_.angles(out, x, [this](double angle) { return state(angle); });
    }

private:
    double state(double angle) noexcept {
        // A NaN angle or threshold fails the test. Selects rather than
        // branches: the state changes unpredictably from bar to bar.
        const double result = select(std::fabs(angle - angle_) < threshold_, select(angle < 0.0, -1.0, 1.0), 0.0);
        angle_ = angle;
        return result;
    }

    CorrelationCycle cycle_;
    double threshold_;
    double angle_ = 0.0;
};

}  // namespace lumenfold::core
