// Projected moving average: the mean of the last `period` inputs projected
// forward along the least-squares slope of the same window,
// pma = mean + slope·N/2, and a prediction that adds half the change of the
// slope over two computed bars, scaled by N. Outputs 1 to period - 1 are
// (x, x); the slope history starts at zero and advances on computed bars only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/filters/window_fir.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Projected moving average of the bars whose windows of p inputs end at
// x[k + p - 1], w_j = x[k + p - 1 - j] newest first: sum_y += w_j and
// sum_xy += w_j * (j + 1) for j = 0 .. p-1 from 0; slope = 0 when denom is 0,
// else -((sum_xy * p) - (sum_y * sum_x)) / denom; pma[k] = (sum_y / p) +
// ((slope * p) * 0.5), slope[k] = slope. p >= 1.
extern const Kernel<void(const double* x, std::size_t count, std::size_t period, double sum_x, double denom, double* pma, double* slope)> projected_means;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

struct PmaOutput {
    double pma;
    double predict;
};

class ProjectedMovingAverage {
public:
    explicit ProjectedMovingAverage(std::uint64_t period) : window_(period) {
        // Abscissas 1..N, the newest value first; each square a float product.
        for (std::uint64_t k = 1; k <= period; ++k) {
            const double fk = to_f64(k);
            sum_x_ = sum_x_ + fk;
            sum_x2_ = sum_x2_ + fk * fk;
        }
    }

    PmaOutput next(double x) noexcept {
        if (!window_.push(x)) return {x, x};
        const std::uint64_t n = window_.length();
        const double nf = to_f64(n);
        double sum_y = 0.0;
        double sum_xy = 0.0;
        for (std::uint64_t j = 0; j < n; ++j) {
            const double w = window_[j];
            sum_y = sum_y + w;
            sum_xy = sum_xy + w * to_f64(j + 1);
        }
        const double denom = (sum_x2_ * nf) - (sum_x_ * sum_x_);
        // Against the reversed abscissa the slope changes sign.
        const double slope = denom == 0.0 ? 0.0 : -((sum_xy * nf) - (sum_y * sum_x_)) / denom;
        const double slope2 = slope2_;
        slope2_ = slope1_;
        slope1_ = slope;
        const double pma = (sum_y / nf) + ((slope * nf) * 0.5);
        const double predict = pma + (((slope - slope2) * 0.5) * nf);
        return {pma, predict};
    }

    // Period 0 keeps no window, and its batch form steps.
    bool batch_ready() const noexcept { return window_.len() == 0; }

    // Batch form: every full window's mean and slope read from the series in
    // SIMD lanes, then the slope history carried bar by bar.
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        const std::size_t n = x.size();
        const std::size_t p = static_cast<std::size_t>(window_.length());
        if (p == 0) {
            for (std::size_t i = 0; i < n; ++i) out.put(i, next(x[i]));
            return;
        }
        const std::size_t partial = std::min(p - 1, n);
        for (std::size_t i = 0; i < partial; ++i) out.put(i, PmaOutput{x[i], x[i]});
        const double nf = to_f64(p);
        const double denom = (sum_x2_ * nf) - (sum_x_ * sum_x_);
        std::vector<double> pma, slope;
        lanes::each_chunk(p - 1, partial, [&](std::size_t first, std::size_t count, const double* values) {
            pma.resize(count + lanes::kPad);
            slope.resize(count + lanes::kPad);
            lanes::projected_means(values, count, p, sum_x_, denom, pma.data(), slope.data());
            // Locals, the sink's view included: the stores it makes could
            // otherwise alias anything reached through a pointer.
            const O sink = out;
            const double scale = nf;
            const double* const m = pma.data();
            const double* const s = slope.data();
            double slope1 = slope1_, slope2 = slope2_;
            for (std::size_t j = 0; j < count; ++j) {
                sink.put(first + j, PmaOutput{m[j], m[j] + (((s[j] - slope2) * 0.5) * scale)});
                slope2 = slope1;
                slope1 = s[j];
            }
            slope1_ = slope1;
            slope2_ = slope2;
        }, x);
    }

    std::uint64_t period() const noexcept { return window_.length(); }

private:
    FirWindow window_;  // last `period` inputs, newest at the front
    double sum_x_ = 0.0;
    double sum_x2_ = 0.0;
    double slope1_ = 0.0;  // slopes of the last two computed bars
    double slope2_ = 0.0;
};

}  // namespace lumenfold::core
