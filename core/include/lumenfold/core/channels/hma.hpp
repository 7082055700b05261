// Hull moving average: WMA(⌊√period⌋) of 2·WMA(period/2) − WMA(period). All
// three weighted averages answer from their first input, so there is no
// warm-up placeholder; period 0 gives 0 and period 1 gives −input (its half
// average has period 0 and returns 0).
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/smoothing.hpp"

namespace lumenfold::core {

class HMA {
public:
    explicit HMA(std::uint64_t period) : half_(period / 2), full_(period), root_(root_period(period)) {}

    double next(double x) noexcept {
        const double h = half_.next(x);
        const double f = full_.next(x);
        return root_.next((h + h) - f);
    }

    std::uint64_t period() const noexcept { return full_.period(); }

    // ⌊√period⌋ from the f64 square root (at most 2^32, always representable).
    static std::uint64_t root_period(std::uint64_t period) noexcept {
        return static_cast<std::uint64_t>(std::sqrt(to_f64(period)));
    }

private:
    WMA half_;
    WMA full_;
    WMA root_;
};

}  // namespace lumenfold::core
