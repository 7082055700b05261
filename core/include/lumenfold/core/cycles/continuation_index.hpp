// Continuation index: tanh of twice the gap between a fast ultimate smoother
// (period length/2, integer division) and a generalized Laguerre filter of the
// whole length, scaled by the mean absolute gap of the last `length` bars.
// Output in [-1, 1]; 0 while the mean gap is 0, so bar 1 gives 0 for a finite
// input. Length 0 gives NaN on every bar, length 0 or 1 NaN from bar 4 on
// (fast smoother period 0).
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/filters/generalized_laguerre.hpp"
#include "lumenfold/core/filters/ultimate_smoother.hpp"
#include "lumenfold/core/framework/smoothing.hpp"

namespace lumenfold::core {

class ContinuationIndex {
public:
    ContinuationIndex(double gamma, std::uint64_t order, std::uint64_t length)
        : deviation_(length), fast_(length / 2), laguerre_(length, gamma, order) {}

    double next(double x) noexcept {
        const double diff = fast_.next(x) - laguerre_.next(x);
        const double mean = deviation_.next(std::fabs(diff));
        return mean == 0.0 ? 0.0 : std::tanh((diff + diff) / mean);
    }

private:
    SMA deviation_;  // mean of the last `length` absolute gaps
    UltimateSmoother fast_;
    GeneralizedLaguerre laguerre_;
};

}  // namespace lumenfold::core
