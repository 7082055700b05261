// Ultimate channel: the ultimate smoother (period `length`) of the close as the
// center line, with bands at ± num_strs times the ultimate smoother (period
// str_length) of the true range. Here the true range is max(high, previous
// close) - min(low, previous close), NaN operands ignored, and high - low on
// the first bar. Both smoothers pass their first three inputs through, so there
// is no warm-up placeholder.
#pragma once

#include <cstdint>

#include "lumenfold/core/filters/ultimate_smoother.hpp"
#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

struct UltimateChannelOutput {
    double upper;
    double center;
    double lower;
};

class UltimateChannel {
public:
    UltimateChannel(std::uint64_t length, std::uint64_t str_length, double num_strs)
        : center_smoother_(length), range_smoother_(str_length), num_strs_(num_strs) {}

    UltimateChannelOutput next(double high, double low, double close) noexcept {
        double top = high;
        double bottom = low;
        if (started_) {
            top = max_num(high, prev_close_);
            bottom = min_num(low, prev_close_);
        }
        started_ = true;
        prev_close_ = close;
        const double s = range_smoother_.next(top - bottom);
        const double center = center_smoother_.next(close);
        const double d = s * num_strs_;
        return UltimateChannelOutput{center + d, center, center - d};
    }

private:
    double prev_close_ = 0.0;
    bool started_ = false;  // whether prev_close_ holds a close
    UltimateSmoother center_smoother_;
    UltimateSmoother range_smoother_;
    double num_strs_;
};

}  // namespace lumenfold::core
