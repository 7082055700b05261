// Vortex indicator: VM+ = |high - previous low| and VM- = |low - previous
// high|, each summed over the last `period` bars and divided by the summed true
// range, giving VI+ (plus) and VI- (minus). The first bar enters the window
// with all three values 0 (not high - low) and bar 1 returns (1, 1); so does
// any window whose true ranges add up to exactly 0. The running sums never
// forget a NaN.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

struct VortexOutput {
    double plus;
    double minus;
};

class VortexIndicator {
public:
    explicit VortexIndicator(std::uint64_t period)
        : plus_window_(period), minus_window_(period), tr_window_(period), period_(period) {}

    VortexOutput next(double high, double low, double close) noexcept {
        double vp = 0.0;
        double vm = 0.0;
        double tr = 0.0;
        if (started_) {
            vp = std::fabs(high - prev_low_);
            vm = std::fabs(low - prev_high_);
            tr = true_range(high, low, prev_close_);
        }
        plus_window_.push(vp);
        minus_window_.push(vm);
        tr_window_.push(tr);
        plus_sum_ = vp + plus_sum_;
        minus_sum_ = vm + minus_sum_;
        tr_sum_ = tr + tr_sum_;
        if (plus_window_.len() > period_) {
            plus_sum_ = plus_sum_ - plus_window_.pop();
            minus_sum_ = minus_sum_ - minus_window_.pop();
            tr_sum_ = tr_sum_ - tr_window_.pop();
        }
        started_ = true;
        prev_high_ = high;
        prev_low_ = low;
        prev_close_ = close;
        if (tr_sum_ == 0.0) return VortexOutput{1.0, 1.0};
        return VortexOutput{plus_sum_ / tr_sum_, minus_sum_ / tr_sum_};
    }

private:
    // The previous bar, present from the second bar on.
    double prev_high_ = 0.0;
    double prev_low_ = 0.0;
    double prev_close_ = 0.0;
    bool started_ = false;
    RingBuffer plus_window_;
    RingBuffer minus_window_;
    RingBuffer tr_window_;
    std::uint64_t period_;
    double plus_sum_ = 0.0;
    double minus_sum_ = 0.0;
    double tr_sum_ = 0.0;
};

}  // namespace lumenfold::core
