// Ultimate strength index: each bar's up and down steps, each averaged over
// the last four bars (partial windows first) and smoothed by an ultimate
// smoother of period `length`; the output is (up - down)/(up + down). When
// either smoothed average is within 1e-12 of 0, their sum within 1e-10, or any
// of them NaN, the last computed value (0 at first) is repeated.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

#include "lumenfold/core/filters/ultimate_smoother.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/smoothing.hpp"

namespace lumenfold::core {

class USI {
public:
    explicit USI(std::uint64_t length)
        : up_avg_(4), down_avg_(4), up_smoother_(length), down_smoother_(length) {}

    double next(double x) noexcept {
        // Selections, not branches: the direction of each step and whether
        // the averages are large enough change unpredictably from bar to bar.
        double up = 0.0;
        double down = 0.0;
        if (prev_) {
            up = select(x > *prev_, x - *prev_, 0.0);
            down = select(x < *prev_, *prev_ - x, 0.0);
        }
        prev_ = x;
        const double usu = up_smoother_.next(up_avg_.next(up));
        const double usd = down_smoother_.next(down_avg_.next(down));
        const double sum = usu + usd;
        const bool measured = (std::fabs(usu) > 1e-12) & (std::fabs(usd) > 1e-12) & (std::fabs(sum) > 1e-10);
        last_ = select(measured, (usu - usd) / sum, last_);
        return last_;
    }

private:
    std::optional<double> prev_;
    SMA up_avg_;
    SMA down_avg_;
    UltimateSmoother up_smoother_;
    UltimateSmoother down_smoother_;
    double last_ = 0.0;
};

}  // namespace lumenfold::core
