// Multi-mode second-order filter: one step,
//   y = ((c0·((b0·x0 + b1·x1) + b2·x2) + a1·y1) + a2·y2) - xP·c1,
// whose seven coefficients the SwissMode selects at construction (EMA, SMA,
// Gauss, Butterworth, (1, 2, 1)/4 smoother, one- and two-pole high-pass,
// band-pass, band-stop), from `period` (bars) and, in the band modes only, the
// half bandwidth `delta` (the band spans 2·delta relative to the period). xP is
// the input `period` bars back in SMA mode and 0 otherwise. Bars 1..period
// return the input (0 in the two high-pass modes) and enter the output history.
// Terms whose coefficient is 0 are still evaluated, so a non-finite history
// value reaches the output.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/filters/bandpass.hpp"
#include "lumenfold/core/filters/gaussian.hpp"
#include "lumenfold/core/filters/roofing_filter.hpp"
#include "lumenfold/core/filters/swiss_mode.hpp"
#include "lumenfold/core/framework/allocation.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

class SwissArmyKnife {
public:
    SwissArmyKnife(SwissMode mode, std::uint64_t period, double delta)
        : period_(period), delta_(delta), mode_(mode), history_(period) {
        const double p = to_f64(period);
        const double t = kTwoPi / p;
        // One-pole factor: ((cos t + sin t) - 1) / cos t.
        const auto alpha1 = [t] { return RoofingHighPass::alpha_from_angle(t); };
        // Two-pole factor with g = (1 - cos t)·2.415.
        const auto alpha2 = [t] { return gaussian_alpha((1.0 - std::cos(t)) * 2.415); };
        switch (mode) {
            case SwissMode::EMA: {
                const double a = alpha1();
                b0_ = a;
                a1_ = 1.0 - a;
                break;
            }
            case SwissMode::SMA:
                c1_ = 1.0 / p;
                b0_ = 1.0 / p;
                a1_ = 1.0;
                break;
            case SwissMode::Gauss:
            case SwissMode::Butterworth:
            case SwissMode::TwoPoleHighPass: {
                const double a = alpha2();
                // The feedback 2(1 - a)·y1 - (1 - a)^2·y2 and the high-pass gain
                // (1 - a/2)^2 are those of the alpha-form two-pole high-pass.
                const RoofingHighPass::Coefficients k = RoofingHighPass::coefficients_from_alpha(a);
                a1_ = k.b;
                a2_ = k.c;
                if (mode == SwissMode::Gauss) {
                    c0_ = a * a;
                } else if (mode == SwissMode::Butterworth) {
                    c0_ = (a * a) * 0.25;
                    b1_ = 2.0;
                    b2_ = 1.0;
                } else {
                    c0_ = k.a;
                    b1_ = -2.0;
                    b2_ = 1.0;
                }
                break;
            }
            case SwissMode::Smooth:
                c0_ = 0.25;
                b1_ = 2.0;
                b2_ = 1.0;
                break;
            case SwissMode::HighPass: {
                const double a = alpha1();
                c0_ = (a * -0.5) + 1.0;
                b1_ = -1.0;
                a1_ = 1.0 - a;
                break;
            }
            case SwissMode::BandPass:
            case SwissMode::BandStop: {
                // The band-pass coefficients for the angle 4pi·delta/P: the
                // bandwidth 2·delta over 2pi is the same angle to the bit.
                const BandPassCoefficients k = BandPassCoefficients::from(p, delta + delta);
                a1_ = k.beta * (k.alpha + 1.0);
                a2_ = -k.alpha;
                if (mode == SwissMode::BandPass) {
                    c0_ = (1.0 - k.alpha) * 0.5;
                    b2_ = -1.0;
                } else {
                    c0_ = (k.alpha + 1.0) * 0.5;
                    b1_ = k.beta * -2.0;
                    b2_ = 1.0;
                }
                break;
            }
        }
    }

    double next(double x) {
        ++count_;
        x2_ = x1_;
        x1_ = x0_;
        x0_ = x;
        const bool sma = mode_ == SwissMode::SMA;
        if (sma) history_.push(x);
        double y;
        if (count_ <= period_) {
            y = (mode_ == SwissMode::HighPass || mode_ == SwissMode::TwoPoleHighPass) ? 0.0 : x;
        } else {
            const double xp = sma ? history_.oldest() : 0.0;
            y = ((c0_ * ((b0_ * x0_ + b1_ * x1_) + b2_ * x2_) + a1_ * y1_) + a2_ * y2_) - xp * c1_;
        }
        y2_ = y1_;
        y1_ = y;
        return y;
    }

    bool batch_ready() const noexcept { return count_ == 0; }

    // Batch form: bars 1..period stepped, then the recursion run over the
    // series itself, which holds the inputs of the two bars before and, in
    // SMA mode, the one `period` bars back: no history kept, nothing
    // allocated, the state in registers.
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        const std::size_t n = x.size();
        const std::size_t head = period_ < n ? static_cast<std::size_t>(period_) : n;
        for (std::size_t i = 0; i < head; ++i) out.put(i, next(x[i]));
        // Locals, the views of the series and the sink included: the output
        // stores could otherwise alias anything reached through a pointer.
        const S in = x;
        const O sink = out;
        const std::size_t lag = static_cast<std::size_t>(period_);
        const bool sma = mode_ == SwissMode::SMA;
        const double c0 = c0_, c1 = c1_, b0 = b0_, b1 = b1_, b2 = b2_, a1 = a1_, a2 = a2_;
        double x1 = x0_, x2 = x1_, y1 = y1_, y2 = y2_;
        for (std::size_t i = head; i < n; ++i) {
            const double x0 = in[i];
            const double xp = sma ? in[i - lag] : 0.0;
            const double y = ((c0 * ((b0 * x0 + b1 * x1) + b2 * x2) + a1 * y1) + a2 * y2) - xp * c1;
            sink.put(i, y);
            x2 = x1;
            x1 = x0;
            y2 = y1;
            y1 = y;
        }
    }

    SwissMode mode() const noexcept { return mode_; }
    std::uint64_t period() const noexcept { return period_; }
    double delta() const noexcept { return delta_; }
    // Inputs held for the SMA mode (at most period + 1).
    std::uint64_t history_size() const noexcept { return history_.size(); }

private:
    // The last period + 1 inputs: only the one `period` bars back is ever
    // read. Storage grows with the bars fed up to that count, then each input
    // overwrites the oldest.
    class History {
    public:
        explicit History(std::uint64_t period) : period_(period) {}

        void push(double x) {
            if (ring_.size() <= period_) {
                allocating([&] { ring_.push_back(x); });
                return;
            }
            ring_[oldest_] = x;
            oldest_ = oldest_ + 1 == ring_.size() ? 0 : oldest_ + 1;
        }
        // The input `period` bars before the newest, once period + 1 are held.
        double oldest() const noexcept { return ring_[oldest_]; }
        std::uint64_t size() const noexcept { return ring_.size(); }

    private:
        std::vector<double> ring_;
        std::uint64_t period_;
        std::size_t oldest_ = 0;
    };

    std::uint64_t period_;
    double delta_;
    double c0_ = 1.0;
    double c1_ = 0.0;
    double b0_ = 1.0;
    double b1_ = 0.0;
    double b2_ = 0.0;
    double a1_ = 0.0;
    double a2_ = 0.0;
    double x0_ = 0.0;
    double x1_ = 0.0;
    double x2_ = 0.0;
    double y1_ = 0.0;
    double y2_ = 0.0;
    std::uint64_t count_ = 0;
    SwissMode mode_;
    History history_;
};

}  // namespace lumenfold::core
