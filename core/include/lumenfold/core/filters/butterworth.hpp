// Recursive Butterworth low-pass filters of period P (`period`, in bars).
// Warm-up inputs and outputs enter the history, so the first recursive step
// sees them.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/filters/two_pole.hpp"

namespace lumenfold::core {

// Two-pole Butterworth low-pass: the poles of the two-pole family (b = its c2,
// c = a·a), binomial input weights 1, 2, 1; the first two inputs pass through
// unchanged.
class Butterworth2 {
public:
    explicit Butterworth2(std::uint64_t period) noexcept {
        const TwoPoleFeedback f = TwoPoleFeedback::from_period(to_f64(period));
        b_ = f.c2;
        c_ = -f.c3;  // a·a
        c1_ = (c_ + (1.0 - b_)) * 0.25;
    }

    double next(double x) noexcept {
        ++count_;
        const double y = count_ <= 2 ? x : (b_ * y1_ - c_ * y2_) + c1_ * (x2_ + (x + (x1_ + x1_)));
        x2_ = x1_;
        x1_ = x;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

private:
    double x1_ = 0.0;
    double x2_ = 0.0;
    double y1_ = 0.0;
    double y2_ = 0.0;
    double c1_;
    double b_;
    double c_;
    std::uint64_t count_ = 0;
};

// Three-pole Butterworth low-pass: poles from a = exp(-pi/P) and the angle
// 1.738·pi/P, input weights 1, 3, 3, 1; the first three inputs pass through
// unchanged.
class Butterworth3 {
public:
    // 1.738·pi in double precision.
    static constexpr double kAngle = 5.46008803193906;

    explicit Butterworth3(std::uint64_t period) noexcept {
        const double p = to_f64(period);
        const double a = std::exp(-kPi / p);
        b_ = std::cos(kAngle / p) * (a + a);
        c_ = a * a;
        bc_ = c_ * b_;
        cc_ = c_ * c_;
        c1_ = ((1.0 - c_) * (c_ + (1.0 - b_))) * 0.125;
    }

    double next(double x) noexcept {
        ++count_;
        double y = x;
        if (count_ > 3) {
            const double f = (((b_ + c_) * y1_ - (c_ + bc_) * y2_) + cc_ * y3_);
            const double s = x3_ + ((x + 3.0 * x1_) + 3.0 * x2_);
            y = f + c1_ * s;
        }
        x3_ = x2_;
        x2_ = x1_;
        x1_ = x;
        y3_ = y2_;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

private:
    double c1_;
    double b_;
    double c_;
    double bc_;
    double cc_;
    double x1_ = 0.0;
    double x2_ = 0.0;
    double x3_ = 0.0;
    double y1_ = 0.0;
    double y2_ = 0.0;
    double y3_ = 0.0;
    std::uint64_t count_ = 0;
};

}  // namespace lumenfold::core
