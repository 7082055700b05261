// Roofing filter: a two-pole high-pass in alpha form (RoofingHighPass) removes
// cycles longer than hp_period, then the super smoother recursion with
// ss_period smooths its output. Bars 1 and 2 give 0 (the inputs enter the
// history, the high-pass and smoother histories take 0).
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/filters/two_pole.hpp"

namespace lumenfold::core {

// hp = ((A·((x - (x1 + x1)) + x2)) + B·hp1) + C·hp2 with A = (1 - alpha/2)^2,
// B = 2(1 - alpha), C = -(1 - alpha)^2. Indicators that embed it decide their
// own warm-up through value/store.
class RoofingHighPass : public RecursionStep<RoofingHighPass> {
public:
    struct Coefficients {
        double a;
        double b;
        double c;
    };

    // alpha = ((cos t + sin t) - 1) / cos t for an angle t in radians.
    static double alpha_from_angle(double t) noexcept {
        const double ct = std::cos(t);
        return ((ct + std::sin(t)) - 1.0) / ct;
    }

    static Coefficients coefficients_from_alpha(double alpha) noexcept {
        const double half = (alpha * -0.5) + 1.0;
        const double one_minus = 1.0 - alpha;
        return {half * half, one_minus + one_minus, -(one_minus * one_minus)};
    }

    static RoofingHighPass from_alpha(double alpha) noexcept {
        return RoofingHighPass(coefficients_from_alpha(alpha));
    }
    static RoofingHighPass from_angle(double t) noexcept { return from_alpha(alpha_from_angle(t)); }
    // The angle 1.414·pi/P of the roofing filter and the stochastics.
    static RoofingHighPass from_period(std::uint64_t period) noexcept {
        return from_angle(kTwoPoleArg / to_f64(period));
    }

    explicit RoofingHighPass(Coefficients k) noexcept : k_(k) {}

    double value(double x) const noexcept {
        return ((k_.a * ((x - (h_.x1 + h_.x1)) + h_.x2)) + k_.b * h_.y1) + k_.c * h_.y2;
    }
    void store(double x, double hp) noexcept { h_.store(x, hp); }

    const Coefficients& coefficients() const noexcept { return k_; }

private:
    Coefficients k_;
    TwoPoleHistory h_;
};

class RoofingFilter {
public:
    RoofingFilter(std::uint64_t hp_period, std::uint64_t ss_period) noexcept
        : hp_(RoofingHighPass::from_period(hp_period)),
          ss_(to_f64(ss_period)),
          hp_period_(hp_period),
          ss_period_(ss_period) {}

    double next(double x) noexcept {
        ++count_;
        double hp = 0.0;
        double y = 0.0;
        if (count_ > 2) {
            hp = hp_.value(x);
            // The smoother's previous input is the previous high-pass output.
            y = ss_.value(hp);
        }
        hp_.store(x, hp);
        ss_.store(hp, y);
        return y;
    }

    std::uint64_t hp_period() const noexcept { return hp_period_; }
    std::uint64_t ss_period() const noexcept { return ss_period_; }

private:
    RoofingHighPass hp_;
    SuperSmootherRecursion ss_;
    std::uint64_t hp_period_;
    std::uint64_t ss_period_;
    std::uint64_t count_ = 0;
};

}  // namespace lumenfold::core
