// Two-pole low-pass smoother of critical period `period` (bars): cycles shorter
// than the period are attenuated, longer ones pass. The first three inputs pass
// through unchanged (and enter the history); the recursion runs from the fourth
// bar on.
#pragma once

#include <cstdint>

#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/filters/two_pole.hpp"

namespace lumenfold::core {

class SuperSmoother {
public:
    explicit SuperSmoother(std::uint64_t period) noexcept : rec_(to_f64(period)) {}

    double next(double x) noexcept {
        ++count_;
        const double y = count_ < 4 ? x : rec_.value(x);
        rec_.store(x, y);
        return y;
    }

private:
    SuperSmootherRecursion rec_;
    std::uint64_t count_ = 0;
};

}  // namespace lumenfold::core
