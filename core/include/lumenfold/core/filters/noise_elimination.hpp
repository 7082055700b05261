// Noise elimination: the rank correlation of the last `period` inputs with
// time (Kendall's tau without tie correction). Every pair of bars in the
// window counts +1 when the newer value is above the older, -1 when below,
// and nothing for a tie or a NaN; the sum is divided by period·(period - 1)/2.
// Outputs 1 to period - 1 are 0; a period below 2 gives 0 divided by its zero
// pair count, NaN.
#pragma once

#include <cstdint>

#include "lumenfold/core/filters/window_fir.hpp"
#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

class NoiseElimination {
public:
    explicit NoiseElimination(std::uint64_t period)
        : window_(period), pairs_((to_f64(period) * 0.5) * (to_f64(period) + (-1.0))) {}

    double next(double x) noexcept {
        if (!window_.push(x)) return 0.0;
        const std::uint64_t n = window_.length();
        if (n < 2) return 0.0 / pairs_;
        double s = 0.0;
        for (std::uint64_t i = 1; i < n; ++i) {
            const double older = window_[i];
            for (std::uint64_t k = 0; k < i; ++k) {
                const double d = older - window_[k];
                if (d > 0.0) s = s + (-1.0);
                if (d < 0.0) s = s + 1.0;
            }
        }
        return s / pairs_;
    }

    std::uint64_t period() const noexcept { return window_.length(); }

private:
    FirWindow window_;  // last `period` inputs, newest at the front
    double pairs_;
};

}  // namespace lumenfold::core
