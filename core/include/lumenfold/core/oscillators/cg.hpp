// Centre of gravity: minus the mean bar position (1 for the newest) of the
// last `period` prices weighted by the prices, recomputed from the window each
// bar. A partial window is used from bar 1 on (bar 1 gives -1 for a nonzero
// price); an empty window (period 0) or a weight sum of exactly 0 gives 0.
#pragma once

#include <cstdint>

#include "lumenfold/core/filters/window_fir.hpp"
#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

class CenterOfGravity {
public:
    explicit CenterOfGravity(std::uint64_t period) : window_(period) {}

    double next(double x) noexcept {
        window_.push(x);
        const std::uint64_t n = window_.len();
        if (n == 0) return 0.0;
        double num = 0.0;
        double den = 0.0;
        for (std::uint64_t i = 0; i < n; ++i) {
            num = num + window_[i] * to_f64(i + 1);
            den = den + window_[i];
        }
        return den == 0.0 ? 0.0 : (-num) / den;
    }

private:
    FirWindow window_;  // newest first
};

}  // namespace lumenfold::core
