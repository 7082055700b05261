// Bill Williams' Alligator: three smoothed moving averages of the price, each
// shown a fixed number of bars late: jaw (13, 8), teeth (8, 5), lips (5, 3).
// Each line is NaN until period + shift bars have been seen (bars 21, 13 and
// 8). A smoothed average is seeded with its period-th input itself, not with
// the mean of the first inputs.
#pragma once

#include <cstdint>

#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

// A smoothed moving average, (x + average·(period − 1))/period, read `shift`
// bars late through a newest-first delay line of shift + 1 averages.
class SmmaOffset {
public:
    SmmaOffset(std::uint64_t period, std::uint64_t shift) : delay_(shift + 1), period_(period), shift_(shift) {}

    double next(double x) noexcept {
        ++count_;
        double v = 0.0;  // period 0 only: nothing ever seeds the average
        if (seeded_) {
            v = (x + average_ * (to_f64(period_) - 1.0)) / to_f64(period_);
            average_ = v;
        } else if (count_ < period_) {
            return kNaN;
        } else if (count_ == period_) {
            v = x;
            average_ = v;
            seeded_ = true;
        }
        delay_.push_front(v);
        if (delay_.len() > shift_ + 1) delay_.pop_back();
        return delay_.len() <= shift_ ? kNaN : delay_.back();
    }

private:
    bool seeded_ = false;  // the average exists from the period-th input on
    double average_ = 0.0;
    RingBuffer delay_;  // newest at the front
    std::uint64_t period_;
    std::uint64_t shift_;
    std::uint64_t count_ = 0;
};

struct AlligatorOutput {
    double jaw;
    double teeth;
    double lips;
};

class Alligator {
public:
    Alligator() : jaw_(13, 8), teeth_(8, 5), lips_(5, 3) {}

    AlligatorOutput next(double x) noexcept {
        const double jaw = jaw_.next(x);
        const double teeth = teeth_.next(x);
        const double lips = lips_.next(x);
        return {jaw, teeth, lips};
    }

private:
    SmmaOffset jaw_;
    SmmaOffset teeth_;
    SmmaOffset lips_;
};

}  // namespace lumenfold::core
