// ATR trailing stop: a stop at multiplier·ATR (the exponential ATR of `period`)
// from the close that only moves in the trade's favour (up while long, down
// while short) until the close crosses it strictly, which flips the direction
// (+1 long, -1 short) and restarts the stop on the other side of the close. The
// first bar starts long at close - multiplier·ATR, so there is no warm-up
// placeholder. A NaN candidate stop is ignored, so a NaN close neither flips
// nor moves the stop.
#pragma once

#include <cstdint>

#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

struct AtrTsOutput {
    double stop;
    std::int8_t direction;  // +1 long, -1 short
};

class ATRTrailingStop {
public:
    ATRTrailingStop(std::uint64_t period, double multiplier) : atr_(period), multiplier_(multiplier) {}

    AtrTsOutput next(double high, double low, double close) noexcept {
        const double offset = atr_.next(high, low, close) * multiplier_;
        if (!started_) {
            started_ = true;
            stop_ = close - offset;
            direction_ = 1;
        } else if (direction_ == 1) {
            if (close < stop_) {
                direction_ = -1;
                stop_ = close + offset;
            } else {
                stop_ = max_num(stop_, close - offset);
            }
        } else {
            if (close > stop_) {
                direction_ = 1;
                stop_ = close - offset;
            } else {
                stop_ = min_num(stop_, close + offset);
            }
        }
        return AtrTsOutput{stop_, direction_};
    }

private:
    ATR atr_;
    double stop_ = 0.0;
    bool started_ = false;  // whether stop_ holds a stop
    double multiplier_;
    std::int8_t direction_ = 1;
};

}  // namespace lumenfold::core
