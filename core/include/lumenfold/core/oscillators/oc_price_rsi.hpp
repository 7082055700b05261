// Open/close price RSI: Wilder's RSI (0 to 100) of each bar's mid price
// (close + open)·0.5, with the RSI's own warm-up: NaN for bars 1 to period,
// and NaN on every bar for periods 0 and 1.
#pragma once

#include <cstdint>

#include "lumenfold/core/classic/rsi.hpp"

namespace lumenfold::core {

class OCPriceRSI {
public:
    explicit OCPriceRSI(std::uint64_t period) noexcept : rsi_(period) {}

    double next(double close, double open) noexcept { return rsi_.next((close + open) * 0.5); }

    std::uint64_t period() const noexcept { return rsi_.period(); }

private:
    Rsi rsi_;
};

}  // namespace lumenfold::core
