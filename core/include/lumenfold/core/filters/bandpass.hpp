// Two-pole resonant band-pass centred on a cycle of P = `period` bars with
// relative bandwidth b = `bandwidth`; zero gain at zero frequency, so the
// output oscillates around 0. No warm-up: the history starts at zero and the
// first output is already ((1 - alpha)·0.5)·x.
//
// Coefficients: g = 1/cos((b·2pi)/P), alpha = g - sqrt(g·g - 1),
// beta = cos(2pi/P). Indicators that run this recursion on their own state use
// BandPassCoefficients; nothing guards against an unstable alpha <= -1.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

struct BandPassCoefficients {

    double alpha;
    double beta;

    static BandPassCoefficients from(double period, double bandwidth) noexcept {
        const double g = 1.0 / std::cos((bandwidth * kTwoPi) / period);
        return {g - std::sqrt(g * g - 1.0), std::cos(kTwoPi / period)};
    }

    // y = (((1 - alpha)·0.5)·(x - x2) + ((alpha + 1)·beta)·y1) - alpha·y2.
    double value(double x, double x2, double y1, double y2) const noexcept {
        return (((1.0 - alpha) * 0.5) * (x - x2) + ((alpha + 1.0) * beta) * y1) - alpha * y2;
    }
};

class BandPass {
public:
    BandPass(std::uint64_t period, double bandwidth) noexcept
        : k_(BandPassCoefficients::from(to_f64(period), bandwidth)) {}

    double next(double x) noexcept {
        const double y = k_.value(x, x2_, y1_, y2_);
        y2_ = y1_;
        y1_ = y;
        x2_ = x1_;
        x1_ = x;
        return y;
    }

    const BandPassCoefficients& coefficients() const noexcept { return k_; }

private:
    double y1_ = 0.0;
    double y2_ = 0.0;
    BandPassCoefficients k_;
    double x1_ = 0.0;
    double x2_ = 0.0;
};

}  // namespace lumenfold::core
