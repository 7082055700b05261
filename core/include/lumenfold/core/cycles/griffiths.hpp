// The Griffiths adaptive filter shared by the Griffiths dominant cycle,
// spectrum and predictor.
//
// Front end: a two-pole high-pass at the upper period bound (0 for the first
// three bars) and a super smoother at the lower bound (the first three values
// pass through) band-limit the price; a peak that decays by 0.991 per bar
// (from 0.1) normalises it, and the last `length` normalised values, newest
// first, train a least-mean-squares one-step predictor with step 1/length.
// The coefficients coef[1..length] are read as an all-pole model whose power
// at the period p is 0.1 / (im² + (1 - re)²), re and im the projections of
// the coefficients on cos and sin of (k·2pi)/p.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/cycles/contiguous_window.hpp"
#include "lumenfold/core/cycles/period_basis.hpp"
#include "lumenfold/core/filters/high_pass.hpp"
#include "lumenfold/core/filters/super_smoother.hpp"
#include "lumenfold/core/framework/allocation.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core::lanes {

// The LMS step of the coefficients: c[k] = c[k] + s·x[k] for k < count.
extern const Kernel<void(double* c, const double* x, std::size_t count, double s)> lms_updates;

// The all-pole model's power 0.1 / (im·im + (1 - re)·(1 - re)) at every
// column j < stride, re and im the projections of `coef` as
// period_projections forms them.
extern const Kernel<void(const double* cos_t, const double* sin_t, std::size_t stride, std::size_t terms, const double* coef, double* power)> all_pole_powers;

// The strongest of count powers as a running maximum from +0 that a value
// replaces only when strictly greater: `best` is the largest value above 0
// (NaN never counts), or 0 when none is; the result is the index of its first
// occurrence, or count when none is above 0.
extern const Kernel<std::size_t(const double* x, std::size_t count, double& best)> strongest_power;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class GriffithsFilter {
public:
    GriffithsFilter(std::uint64_t lower_bound, std::uint64_t upper_bound, std::uint64_t length)
        : window_(length),  // fails first for a length whose window cannot exist: length + 1 cannot wrap
          coef_(sized_vector<double>(length + 1, 0.0)),
          length_(length),
          mu_(1.0 / to_f64(length)),
          high_pass_(upper_bound),
          smoother_(lower_bound) {}

    // Filters, normalises and stores x; true once the window holds `length`
    // values (always for length 0), when the predictor may adapt.
    bool push(double x) noexcept {
        const double h = high_pass_.next(x);
        const double s = smoother_.next(h);
        const double decayed = 0.991 * peak_;
        // A NaN s fails the test and leaves the decayed peak.
        peak_ = std::fabs(s) > decayed ? std::fabs(s) : decayed;
        const double v = peak_ == 0.0 ? 0.0 : s / peak_;
        window_.push_front(v);
        return window_.len() >= length_;
    }

    // One LMS step: predicts the newest value from the ones before it and
    // moves every coefficient along its input by mu·error. Needs a full window.
    //
    // Coefficient k meets the value k bars back, input(length - k), and the
    // last one the window vector's leading 0; the updates are independent of
    // one another and run in SIMD lanes.
    void adapt() noexcept {
        if (length_ == 0) return;  // no coefficient
        const double* w = window_.data();
        double pred = 0.0;
        for (std::uint64_t k = 1; k < length_; ++k) pred = pred + coef_[k] * w[k];
        pred = pred + coef_[length_] * 0.0;
        const double step = mu_ * (w[0] - pred);
        lanes::lms_updates(coef_.data() + 1, w + 1, static_cast<std::size_t>(length_ - 1), step);
        coef_[length_] = coef_[length_] + step * 0.0;
    }

    // Entry k (0..length) of the oldest-first window vector: 0 for k = 0, the
    // oldest value for k = 1, the newest for k = length.
    double input(std::uint64_t k) const noexcept { return k == 0 ? 0.0 : window_.data()[length_ - k]; }

    // The coefficients, index 0 unused.
    const std::vector<double>& coefficients() const noexcept { return coef_; }
    std::uint64_t length() const noexcept { return length_; }

private:
    ContiguousWindow window_;   // the last `length` normalised values, newest first
    std::vector<double> coef_;  // LMS coefficients, index 0..length
    std::uint64_t length_;
    double mu_;
    HighPass high_pass_;
    SuperSmoother smoother_;
    double peak_ = 0.1;
};

// The filter with its model's power sweep over the periods lower..=upper.
class GriffithsSweep {
public:
    GriffithsSweep(std::uint64_t lower_bound, std::uint64_t upper_bound, std::uint64_t length)
        : filter_(lower_bound, upper_bound, length),
          basis_(lower_bound, upper_bound, 1, length),
          powers_(sized_vector<double>(basis_.stride())),
          lower_bound_(lower_bound),
          upper_bound_(upper_bound) {}

    // The filter's push and, once it is trained, its adaptation: true when
    // the model has adapted on this bar.
    bool next(double x) noexcept {
        if (!filter_.push(x)) return false;
        filter_.adapt();
        return true;
    }

    // Whether the periods' angles are tabulated; then powers() gives every
    // period's power, lowest first, their sums run side by side in SIMD lanes.
    bool tabulated() const noexcept { return basis_.tabulated(); }
    const double* powers() {
        lanes::all_pole_powers(basis_.cosines(), basis_.sines(), basis_.stride(), filter_.length(),
                                filter_.coefficients().data() + 1, powers_.data());
        return powers_.data();
    }

    // Without the tables: calls f(period, power) for every period, lowest
    // first, each angle evaluated on the spot.
    template <class F>
    void sweep(F&& f) {
        const std::vector<double>& coef = filter_.coefficients();
        basis_.each([&coef](std::uint64_t i) { return coef[i + 1]; }, [&f](std::uint64_t p, Projection c) {
            const double one_minus_re = 1.0 - c.re;
            f(p, 0.1 / (c.im * c.im + one_minus_re * one_minus_re));
        });
    }

    std::uint64_t lower_bound() const noexcept { return lower_bound_; }
    std::uint64_t upper_bound() const noexcept { return upper_bound_; }

private:
    GriffithsFilter filter_;
    PeriodBasis basis_;            // cos and sin of (k·2pi)/p, k = 1..length
    std::vector<double> powers_;  // scratch: the tabulated periods' powers
    std::uint64_t lower_bound_;
    std::uint64_t upper_bound_;
};

}  // namespace lumenfold::core
