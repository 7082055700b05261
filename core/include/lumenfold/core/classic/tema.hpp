// Triple exponential moving average: (3 e1 - 3 e2) + e3 over three chained
// exponential averages seeded with their first input, so bar 0 returns the
// input itself and there is no warm-up. A NaN input poisons every stage for
// good; period 0 gives alpha 2 (each stage computes 2x - previous).
#pragma once

#include <cstdint>

#include "lumenfold/core/framework/smoothing.hpp"

namespace lumenfold::core {

class TEMA {
public:
    explicit TEMA(std::uint64_t period) : e1_(period), e2_(period), e3_(period) {}

    double next(double x) noexcept {
        const double e1 = e1_.next(x);
        const double e2 = e2_.next(e1);
        const double e3 = e3_.next(e2);
        return (3.0 * e1 - 3.0 * e2) + e3;
    }

private:
    EMA e1_;
    EMA e2_;
    EMA e3_;
};

}  // namespace lumenfold::core
