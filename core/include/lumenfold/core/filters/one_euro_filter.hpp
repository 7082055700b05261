// One-euro filter: an exponential smoother whose period follows the speed of
// the input. The first difference is smoothed with the fixed factor
// 2pi/(10 + 4pi); the effective period is period_min + beta·|derivative| and
// the factor 2pi/(period + 4pi). The first input is returned and seeds both
// the output and the previous input; the derivative starts at 0.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

class OneEuroFilter {
public:
    // 2pi / (10 + 4pi).
    static constexpr double kDerivativeFactor = 0.2784313620720889;
    static constexpr double kFourPi = 12.566370614359172;

    OneEuroFilter(std::uint64_t period_min, double beta) noexcept
        : period_min_(to_f64(period_min)), beta_(beta) {}

    double next(double x) noexcept {
        if (count_++ == 0) {
            previous_output_ = x;
            previous_input_ = x;
            return x;
        }
        const double ad = kDerivativeFactor;
        derivative_ = ad * (x - previous_input_) + (1.0 - ad) * derivative_;
        const double alpha = kTwoPi / ((period_min_ + beta_ * std::fabs(derivative_)) + kFourPi);
        const double y = x * alpha + previous_output_ * (1.0 - alpha);
        previous_output_ = y;
        previous_input_ = x;
        return y;
    }

private:
    double period_min_;
    double beta_;
    double previous_input_ = 0.0;
    double derivative_ = 0.0;
    double previous_output_ = 0.0;
    std::uint64_t count_ = 0;
};

}  // namespace lumenfold::core
