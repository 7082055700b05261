// Two-pole high-pass filter of critical period `period` (bars): it removes the
// trend and the cycles longer than the period, its output oscillating around 0.
// The first three bars give 0 (the inputs enter the history, the outputs stored
// are 0); the recursion runs from the fourth bar on.
#pragma once

#include <cstdint>

#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/filters/two_pole.hpp"

namespace lumenfold::core {

class HighPass {
public:
    explicit HighPass(std::uint64_t period) noexcept : rec_(to_f64(period)) {}

    double next(double x) noexcept {
        ++count_;
        const double y = count_ <= 3 ? 0.0 : rec_.value(x);
        rec_.store(x, y);
        return y;
    }

private:
    HighPassRecursion rec_;
    std::uint64_t count_ = 0;
};

}  // namespace lumenfold::core
