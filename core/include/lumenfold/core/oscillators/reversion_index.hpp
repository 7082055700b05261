// Reversion index: the sum of the last `period` bar-to-bar changes over the
// sum of their magnitudes (0 when that is exactly 0), a ratio in [-1, +1],
// smoothed by super smoothers of periods 8 (trend) and 4 (roc). Bar 1's change
// is 0; the smoothers pass the ratio through on bars 1 to 3. Running sums,
// never re-summed.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

#include "lumenfold/core/filters/super_smoother.hpp"
#include "lumenfold/core/framework/running_window_sum.hpp"
#include "lumenfold/core/oscillators/trend_roc.hpp"

namespace lumenfold::core {

class ReversionIndex {
public:
    static constexpr std::uint64_t kTrendPeriod = 8;
    static constexpr std::uint64_t kRocPeriod = 4;

    explicit ReversionIndex(std::uint64_t period)
        : changes_(period), abs_changes_(period), trend_smoother_(kTrendPeriod), roc_smoother_(kRocPeriod) {}

    TrendRocOutput next(double x) noexcept {
        const double d = prev_ ? x - *prev_ : 0.0;
        prev_ = x;
        const double change_sum = changes_.push(d);
        const double abs_sum = abs_changes_.push(std::fabs(d));
        const double ratio = abs_sum == 0.0 ? 0.0 : change_sum / abs_sum;
        const double trend = trend_smoother_.next(ratio);
        return {trend, roc_smoother_.next(ratio)};
    }

private:
    std::optional<double> prev_;
    RunningWindowSum changes_;
    RunningWindowSum abs_changes_;
    SuperSmoother trend_smoother_;
    SuperSmoother roc_smoother_;
};

}  // namespace lumenfold::core
