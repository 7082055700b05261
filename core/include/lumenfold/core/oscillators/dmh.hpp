// Directional movement with Hann weighting: plus minus minus directional
// movement of each (high, low) bar, smoothed by an exponential average with
// alpha = 1/length seeded with bar 1's value, then the Hann-weighted mean of
// the last `length` smoothed values (weight 1 for the newest). A partial
// window uses the leading weights and their own sum, not a rescaled window.
// Bar 1 gives 0; length 0 gives 0 on every bar.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/filters/hann.hpp"
#include "lumenfold/core/filters/window_fir.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Directional movement differences: for the bar of high[k + 1], low[k + 1]
// after high[k], low[k], up = high[k+1] - high[k] and down = low[k] - low[k+1];
// plus is up when up > down and up > 0, minus is down when down > up and
// down > 0, each +0 otherwise; out[k] = plus - minus. The arrays hold n + 1 bars.
extern const Kernel<void(const double* high, const double* low, std::size_t n, double* out)> directional_differences;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class DMH {
public:
    explicit DMH(std::uint64_t length)
        : window_(length),
          weights_(hann_weights(length)),
          weights_sum_(weight_sum(weights_)),
          alpha_(1.0 / to_f64(length)) {}

    double next(double high, double low) noexcept {
        double plus = 0.0;
        double minus = 0.0;
        if (prev_high_ && prev_low_) {
            const double up = high - *prev_high_;
            const double down = *prev_low_ - low;
            // Equal moves, and any comparison with NaN, count for neither side.
            if (up > down && up > 0.0) plus = up;
            if (down > up && down > 0.0) minus = down;
        }
        prev_high_ = high;
        prev_low_ = low;
        const double diff = plus - minus;
        ema_ = seeded_ ? smoothed(diff, ema_, alpha_) : diff;
        seeded_ = true;

        const bool full = window_.push(ema_);
        const double s = window_.dot(weights_);
        if (full) return weights_sum_ == 0.0 ? 0.0 : s / weights_sum_;
        double w = 0.0;
        for (std::uint64_t j = 0; j < window_.len(); ++j) w = w + weights_[j];
        return w == 0.0 ? 0.0 : s / w;
    }

    bool batch_ready() const noexcept { return !seeded_; }

    // Batch form: the partial windows stepped; then, chunk by chunk, the
    // bars' directional differences in SIMD lanes, their smoothing recursion
    // bar by bar into a store that keeps the last length - 1 smoothed values
    // before the chunk, and the full windows' weighted means in SIMD lanes.
    template <class O, Series S>
    void batch(const O& out, const S& high, const S& low) {
        const std::size_t n = high.size();
        const std::size_t len = static_cast<std::size_t>(window_.length());
        // At least one bar is stepped: the differences start from a previous bar.
        const std::size_t first = len == 0 || weights_sum_ == 0.0 ? n : std::min(std::max<std::size_t>(len - 1, 1), n);
        for (std::size_t t = 0; t < first; ++t) out.put(t, next(high[t], low[t]));
        const std::size_t keep = len - 1;
        std::vector<double> store;
        // The window holds the last `keep` smoothed values, newest first.
        if (first < n) {
            store.resize(keep);
            for (std::size_t j = 0; j < keep; ++j) store[keep - 1 - j] = window_[j];
        }
        const double alpha = alpha_;
        double ema = ema_;
        lanes::run_chunks(out, 1, first, [&](std::size_t count, double* r, const double* h, const double* l) {
            store.resize(keep + count + lanes::kPad);
            double* const fresh = store.data() + keep;
            lanes::directional_differences(h, l, count, fresh);
            // A local: the stores below could otherwise alias the average.
            double e = ema;
            for (std::size_t k = 0; k < count; ++k) {
                e = smoothed(fresh[k], e, alpha);
                fresh[k] = e;
            }
            ema = e;
            lanes::weighted_means(store.data(), count, len, weights_.data(), true, weights_sum_, r);
            std::memmove(store.data(), store.data() + count, keep * sizeof(double));
        }, high, low);
    }

private:
    // One step of the exponential average of the differences.
    static double smoothed(double diff, double ema, double alpha) noexcept {
        return diff * alpha + (1.0 - alpha) * ema;
    }

    FirWindow window_;  // smoothed differences, newest first
    std::vector<double> weights_;
    double weights_sum_;
    double alpha_;
    std::optional<double> prev_high_;
    std::optional<double> prev_low_;
    double ema_ = 0.0;
    bool seeded_ = false;
};

}  // namespace lumenfold::core
