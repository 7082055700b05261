// The two-pole recursion family shared by the super smoother, the high-pass
// and the ultimate smoother, and by every indicator that runs one of these
// recursions inside its own step. Coefficients and step formulas live here
// only; an embedding indicator holds a recursion and decides its own warm-up
// (what it outputs and stores before the first recursive step).
//
// From a period P: a = exp(-K/P), c2 = cos(K/P)·(a + a), c3 = -(a·a), with
// K = 1.414·pi (kTwoPoleArg), not sqrt(2)·pi.
#pragma once

#include <cmath>

#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

// The feedback pair of the family, from the period as f64.
struct TwoPoleFeedback {
    double c2;
    double c3;

    static TwoPoleFeedback from_period(double period) noexcept {
        const double a = std::exp(-kTwoPoleArg / period);
        return {std::cos(kTwoPoleArg / period) * (a + a), -(a * a)};
    }
};

struct TwoPoleCoefficients {
    double c1;
    double c2;
    double c3;

    // Low-pass gain: c1 = (1 - c2) - c3.
    static TwoPoleCoefficients super_smoother(double period) noexcept {
        const TwoPoleFeedback f = TwoPoleFeedback::from_period(period);
        return {(1.0 - f.c2) - f.c3, f.c2, f.c3};
    }
    // High-pass (and ultimate smoother) gain: c1 = ((c2 + 1) - c3)·0.25.
    static TwoPoleCoefficients high_pass(double period) noexcept {
        const TwoPoleFeedback f = TwoPoleFeedback::from_period(period);
        return {((f.c2 + 1.0) - f.c3) * 0.25, f.c2, f.c3};
    }
};

// One recursive step: the output for x from the stored history, then the
// history shifted by one bar. Recursions provide value() and store().
template <class Derived>
struct RecursionStep {
    double step(double x) noexcept {
        auto& self = static_cast<Derived&>(*this);
        const double y = self.value(x);
        self.store(x, y);
        return y;
    }
};

// History of two inputs and two outputs.
struct TwoPoleHistory {
    double x1 = 0.0;
    double x2 = 0.0;
    double y1 = 0.0;
    double y2 = 0.0;

    void store(double x, double y) noexcept {
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
    }
};

// y = ((c1·(x + x1))·0.5 + c2·y1) + c3·y2 over the previous input and the two
// previous outputs.
class SuperSmootherRecursion : public RecursionStep<SuperSmootherRecursion> {
public:
    explicit SuperSmootherRecursion(double period) noexcept
        : k_(TwoPoleCoefficients::super_smoother(period)) {}

    // The recursive output for x from the stored history; stores nothing.
    double value(double x) const noexcept {
        return ((k_.c1 * (x + x1_)) * 0.5 + k_.c2 * y1_) + k_.c3 * y2_;
    }
    // Shifts the history by one bar (also used for warm-up outputs).
    void store(double x, double y) noexcept {
        y2_ = y1_;
        y1_ = y;
        x1_ = x;
    }
    const TwoPoleCoefficients& coefficients() const noexcept { return k_; }

private:
    TwoPoleCoefficients k_;
    double x1_ = 0.0;
    double y1_ = 0.0;
    double y2_ = 0.0;
};

// y = (c1·((x - (x1 + x1)) + x2) + c2·y1) + c3·y2.
class HighPassRecursion : public RecursionStep<HighPassRecursion> {
public:
    explicit HighPassRecursion(double period) noexcept : k_(TwoPoleCoefficients::high_pass(period)) {}

    double value(double x) const noexcept {
        return (k_.c1 * ((x - (h_.x1 + h_.x1)) + h_.x2) + k_.c2 * h_.y1) + k_.c3 * h_.y2;
    }
    void store(double x, double y) noexcept { h_.store(x, y); }
    const TwoPoleCoefficients& coefficients() const noexcept { return k_; }

private:
    TwoPoleCoefficients k_;
    TwoPoleHistory h_;
};

// The input minus the high-pass response, summed strictly left to right:
// y = (((x·(1 - c1) + ((c1 + c1) - c2)·x1) - (c1 + c3)·x2) + c2·y1) + c3·y2.
class UltimateSmootherRecursion : public RecursionStep<UltimateSmootherRecursion> {
public:
    explicit UltimateSmootherRecursion(double period) noexcept
        : k_(TwoPoleCoefficients::high_pass(period)) {}

    double value(double x) const noexcept {
        return (((x * (1.0 - k_.c1) + ((k_.c1 + k_.c1) - k_.c2) * h_.x1) - (k_.c1 + k_.c3) * h_.x2) +
                k_.c2 * h_.y1) +
               k_.c3 * h_.y2;
    }
    void store(double x, double y) noexcept { h_.store(x, y); }
    const TwoPoleCoefficients& coefficients() const noexcept { return k_; }

private:
    TwoPoleCoefficients k_;
    TwoPoleHistory h_;
};

}  // namespace lumenfold::core
