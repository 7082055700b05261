// Gaussian low-pass filter of period P = `period`: N identical first-order
// stages (N = poles clamped to 1..4) combined into one recursion of order N,
// the binomial expansion of (1 - d·z^-1)^N with d = 1 - alpha and input weight
// alpha^N, alpha = sqrt(beta² + 2·beta) - beta for
// beta = (1 - cos(2pi/P))/(2^(1/(2N)) - 1). The first N inputs pass through and
// are stored as outputs; the recursion runs from bar N + 1 on.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

// The stage factor of a Gaussian-style pole from its beta:
// alpha = sqrt(beta·beta + (beta + beta)) - beta.
inline double gaussian_alpha(double beta) noexcept { return std::sqrt(beta * beta + (beta + beta)) - beta; }

class GaussianFilter {
public:
    GaussianFilter(std::uint64_t period, std::uint64_t poles) noexcept
        : poles_(poles == 0 ? 1 : (poles >= 4 ? 4 : poles)) {
        const double p = to_f64(period);
        const double beta =
            (1.0 - std::cos(kTwoPi / p)) / (std::exp2(1.0 / to_f64(2 * poles_)) - 1.0);
        alpha_ = gaussian_alpha(beta);
        const double a2 = alpha_ * alpha_;
        switch (poles_) {
            case 1: alpha_pow_ = alpha_; break;
            case 2: alpha_pow_ = a2; break;
            case 3: alpha_pow_ = alpha_ * a2; break;
            default: alpha_pow_ = a2 * a2; break;
        }
        one_minus_alpha_ = 1.0 - alpha_;
    }

    double next(double x) noexcept {
        ++count_;
        double y = x;
        if (count_ > poles_) {
            const double d = one_minus_alpha_;
            const double a = alpha_pow_;
            const double y1 = out_[0];
            const double y2 = out_[1];
            const double y3 = out_[2];
            const double y4 = out_[3];
            switch (poles_) {
                case 1: y = x * alpha_ + d * y1; break;
                case 2: y = (x * a + (2.0 * d) * y1) - (d * d) * y2; break;
                case 3:
                    y = ((x * a + (d * 3.0) * y1) - ((d * d) * 3.0) * y2) + (d * (d * d)) * y3;
                    break;
                default:
                    y = (((x * a + (d * 4.0) * y1) - ((d * d) * 6.0) * y2) + ((d * (d * d)) * 4.0) * y3) -
                        ((d * d) * (d * d)) * y4;
                    break;
            }
        }
        for (std::uint64_t k = poles_ - 1; k > 0; --k) out_[k] = out_[k - 1];
        out_[0] = y;
        return y;
    }

    std::uint64_t poles() const noexcept { return poles_; }
    double alpha() const noexcept { return alpha_; }
    double alpha_pow() const noexcept { return alpha_pow_; }

private:
    std::array<double, 5> out_{};  // past outputs, newest first
    std::uint64_t poles_;
    double alpha_;
    double alpha_pow_;
    double one_minus_alpha_;
    std::uint64_t count_ = 0;
};

}  // namespace lumenfold::core
