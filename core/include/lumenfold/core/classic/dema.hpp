// Double exponential moving average: (e1 + e1) - e2, where e1 is a mean-seeded
// exponential average of the price and e2 the same average of e1. NaN until
// 2(period - 1) accepted inputs have been seen; a NaN input yields NaN and
// leaves the state untouched. Period 0 yields NaN on every bar.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/talib.hpp"

namespace lumenfold::core {

class DEMA {
public:
    explicit DEMA(std::uint64_t period) : first_(period), second_(period) {}

    double next(double x) noexcept {
        const double e1 = first_.next(x);
        if (std::isnan(e1)) return kNaN;
        const double e2 = second_.next(e1);
        if (std::isnan(e2)) return kNaN;
        return (e1 + e1) - e2;
    }

    std::uint64_t period() const noexcept { return first_.period(); }

private:
    TalibEma first_;
    TalibEma second_;
};

}  // namespace lumenfold::core
