// Deviation-scaled moving average: an exponential average of the input whose
// factor is 5·|ss/rms(ss)|/period, capped at 1, where ss is the two-bar
// momentum x - x[2] smoothed by the super smoother recursion with the half
// period (a float, so odd periods give a half-integer) and rms is taken over
// the last `period` smoothed values. The first output is the input; the
// missing past counts as zero. An all-zero smoothed window gives the factor 0.
// The smoothed window fills as bars arrive: its missing values are zeros at
// the old end of the sum, where adding 0·0 changes nothing, so an enormous
// period costs memory only for the bars fed.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/filters/two_pole.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Sums of squares of windows of p values, newest first: out[k] =
// (((0 + x_0 * x_0) + x_1 * x_1) + ... + x_{p-1} * x_{p-1}) with
// x_i = x[k + p - 1 - i]; x holds count + p - 1 values, p >= 1.
extern const Kernel<void(const double* x, std::size_t count, std::size_t period, double* out)> sums_of_squares;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class DSMA {
public:
    explicit DSMA(std::uint64_t period)
        : smoothed_(period),
          period_(period),
          ss_(to_f64(period) * 0.5) {}

    double next(double x) noexcept {
        const std::uint64_t n = bars_++;
        const double two_back = x2_;
        x2_ = x1_;
        x1_ = x;
        if (n == 0) {
            value_ = x;
            return x;
        }
        const double ss = ss_.step(x - two_back);
        smoothed_.push_front(ss);
        if (smoothed_.len() > period_) smoothed_.pop_back();
        double sum = 0.0;
        const std::uint64_t held = smoothed_.len();
        for (std::uint64_t i = 0; i < held; ++i) sum = sum + smoothed_[i] * smoothed_[i];
        const double p = to_f64(period_);
        const double ms = sum / p;
        double alpha = ms == 0.0 ? 0.0 : (std::fabs(ss / std::sqrt(ms)) * 5.0) / p;
        if (alpha > 1.0) alpha = 1.0;
        value_ = (x * alpha) + (value_ * (1.0 - alpha));
        return value_;
    }

    bool batch_ready() const noexcept { return bars_ == 0; }

    // Batch form: the smoothed values run sequentially into a scratch array,
    // their windows' sums of squares in SIMD lanes, then the average bar by
    // bar. Each bar sums min(period, bars) values; those before the first
    // smoothed value are zeros, which add nothing.
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        const std::size_t n = x.size();
        if (period_ == 0) {
            for (std::size_t i = 0; i < n; ++i) out.put(i, next(x[i]));
            return;
        }
        if (n == 0) return;
        value_ = x[0];
        out.put(0, value_);
        const std::size_t width = static_cast<std::size_t>(std::min<std::uint64_t>(period_, n));
        const std::size_t history = width - 1;
        const std::size_t chunk = std::max<std::size_t>(2048, history);
        const std::size_t most = std::min(chunk, n - 1);
        std::vector<double> smoothed(history + most + lanes::kPad, 0.0), sums(most + lanes::kPad);
        // Locals, the views of the series and the sink included: the stores
        // to `out` and to the scratch arrays could otherwise alias anything
        // reached through a pointer.
        const S in = x;
        const O sink = out;
        double* const sm = smoothed.data();
        double* const sq = sums.data();
        SuperSmootherRecursion ss_step = ss_;
        double value = value_;
        const double p = to_f64(period_);
        double x1 = x[0], x2 = 0.0;
        for (std::size_t first = 1; first < n; first += chunk) {
            const std::size_t count = std::min(chunk, n - first);
            for (std::size_t j = 0; j < count; ++j) {
                const double xt = in[first + j];
                sm[history + j] = ss_step.step(xt - x2);
                x2 = x1;
                x1 = xt;
            }
            lanes::sums_of_squares(sm, count, width, sq);
            for (std::size_t j = 0; j < count; ++j) {
                const double ss = sm[history + j];
                const double ms = sq[j] / p;
                double alpha = ms == 0.0 ? 0.0 : (std::fabs(ss / std::sqrt(ms)) * 5.0) / p;
                if (alpha > 1.0) alpha = 1.0;
                value = (in[first + j] * alpha) + (value * (1.0 - alpha));
                sink.put(first + j, value);
            }
            // The last `history` smoothed values open the next chunk's windows.
            if (history != 0) std::memmove(sm, sm + count, history * sizeof(double));
        }
        ss_ = ss_step;
        value_ = value;
    }

    std::uint64_t period() const noexcept { return period_; }

private:
    RingBuffer smoothed_;  // last `period` smoothed values, newest at the front
    std::uint64_t period_;
    SuperSmootherRecursion ss_;
    double x1_ = 0.0;  // the inputs one and two bars back (zero before the first)
    double x2_ = 0.0;
    double value_ = 0.0;
    std::uint64_t bars_ = 0;
};

}  // namespace lumenfold::core
