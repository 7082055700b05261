// Heikin-Ashi bars: the open is the midpoint of the previous Heikin-Ashi open
// and close ((open + close)/2 of the raw bar on the first bar), the close the
// mean of the raw open, high, low and close, and the high and low extend the
// raw ones to cover that open and close (NaN-ignoring max and min). A NaN
// input carries into every later open through the previous bar.
#pragma once

#include <optional>

#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

struct HeikinAshiOutput {
    double open;
    double high;
    double low;
    double close;
};

class HeikinAshi {
public:
    HeikinAshiOutput next(double open, double high, double low, double close) noexcept {
        const double ha_open = (prev_open_ && prev_close_) ? (*prev_open_ + *prev_close_) * 0.5 : (open + close) * 0.5;
        const double ha_close = (((open + high) + low) + close) * 0.25;
        prev_open_ = ha_open;
        prev_close_ = ha_close;
        const double ha_high = max_num(max_num(high, ha_open), ha_close);
        const double ha_low = min_num(min_num(low, ha_open), ha_close);
        return {ha_open, ha_high, ha_low, ha_close};
    }

private:
    std::optional<double> prev_open_;
    std::optional<double> prev_close_;
};

}  // namespace lumenfold::core
