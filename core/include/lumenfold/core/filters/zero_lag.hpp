// Zero-lag (error-correcting) exponential smoother. Beside a plain EMA of
// `length` (the trigger field) it keeps a corrected line (the value field) that
// adds gain·(x - previous corrected) to the average, the gain chosen each bar
// from the grid -L/10, ..., L/10 (L = gain_limit truncated toward zero,
// saturated to the 32-bit range, NaN as 0) so that the new value lands closest
// to the input; ties keep the most negative gain, and with no candidate the
// gain is 0. Bar 1 returns the input in both fields.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/smoothing.hpp"

namespace lumenfold::core {

struct ZeroLagOutput {
    double value;
    double trigger;
};

class ZeroLag {
public:
    ZeroLag(std::uint64_t length, double gain_limit) noexcept
        : ema_(length), alpha_(ema_.alpha()), limit_(grid_limit(gain_limit)) {}

    ZeroLagOutput next(double x) noexcept {
        const double e = ema_.next(x);
        if (!corrected_) {
            corrected_ = x;
            return {x, x};
        }
        const double c = *corrected_;
        const double d = x - c;
        double best_gain = 0.0;
        double least_error = kMaxF64;
        // The bounds fit in 64 bits for every 32-bit limit, so -L never overflows;
        // a negative limit leaves the grid empty.
        for (std::int64_t i = -limit_; i <= limit_; ++i) {
            const double g = static_cast<double>(i) / 10.0;
            const double error = std::fabs(x - candidate(c, e, g, d));
            if (error < least_error) {
                best_gain = g;
                least_error = error;
            }
        }
        const double value = candidate(c, e, best_gain, d);
        corrected_ = value;
        return {value, e};
    }

    // The gain grid bound for a limit: truncation toward zero into the signed
    // 32-bit range, saturating at its ends; NaN gives 0.
    static std::int64_t grid_limit(double gain_limit) noexcept { return saturating_i32(gain_limit); }

private:
    double candidate(double c, double e, double g, double d) const noexcept {
        return (c * (1.0 - alpha_)) + alpha_ * (e + g * d);
    }

    EMA ema_;
    std::optional<double> corrected_;
    double alpha_;
    std::int64_t limit_;
};

}  // namespace lumenfold::core
