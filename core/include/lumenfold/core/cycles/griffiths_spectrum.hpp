// Griffiths spectrum: every bar, the power of the Griffiths adaptive filter's
// model at each integer period lower..=upper (lowest first), divided by the
// strongest so that it reads 1. The vector has upper - lower + 1 entries
// (wrapping: lower = upper + 1 gives empty vectors, a larger lower cannot be
// sized and fails with "capacity overflow"); it is all zeros before the
// window first holds `length` values and whenever no power is positive (a
// NaN model).
//
// Griffiths predictor: after each adaptation, the model run `bars_fwd` bars
// past the newest normalised value, each prediction fed back as the newest;
// the output is the last prediction, in the filter's normalised units. 0
// before the window fills and for bars_fwd = 0.
#pragma once

#include <cstdint>
#include <vector>

#include "lumenfold/core/cycles/griffiths.hpp"

namespace lumenfold::core {

class GriffithsSpectrum {
public:
    GriffithsSpectrum(std::uint64_t lower_bound, std::uint64_t upper_bound, std::uint64_t length)
        : model_(lower_bound, upper_bound, length) {}

    std::vector<double> next(double x) {
        const bool adapted = model_.next(x);
        std::vector<double> out(model_.upper_bound() - model_.lower_bound() + 1, 0.0);
        if (!adapted || out.empty()) return out;  // empty: no period, or 2^64 of them
        double best = 0.0;
        model_.sweep([&](std::uint64_t p, double power) {
            out[p - model_.lower_bound()] = power;
            if (power > best) best = power;
        });
        for (double& v : out) v = best == 0.0 ? 0.0 : v / best;
        return out;
    }

private:
    GriffithsSweep model_;
};

class GriffithsPredictor {
public:
    GriffithsPredictor(std::uint64_t lower_bound, std::uint64_t upper_bound, std::uint64_t length,
                       std::uint64_t bars_fwd)
        : filter_(lower_bound, upper_bound, length), bars_fwd_(bars_fwd), work_(length + 1, 0.0) {}

    double next(double x) {
        if (!filter_.push(x)) return 0.0;
        filter_.adapt();
        if (bars_fwd_ == 0) return 0.0;
        const std::uint64_t n = filter_.length();
        for (std::uint64_t k = 0; k <= n; ++k) work_[k] = filter_.input(k);
        const std::vector<double>& coef = filter_.coefficients();
        double q = 0.0;
        for (std::uint64_t step = 0; step < bars_fwd_; ++step) {
            // coef[1] meets the newest value.
            q = 0.0;
            for (std::uint64_t k = 1; k <= n; ++k) q = q + work_[n + 1 - k] * coef[k];
            for (std::uint64_t i = 1; i < n; ++i) work_[i] = work_[i + 1];
            work_[n] = q;
        }
        return q;
    }

private:
    GriffithsFilter filter_;
    std::uint64_t bars_fwd_;
    std::vector<double> work_;  // the window vector, extended by the predictions
};

}  // namespace lumenfold::core
