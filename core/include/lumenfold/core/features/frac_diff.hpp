// Fractional differencing of order d (clamped to 0..1; NaN stays NaN): the
// weighted sum of the newest W inputs with the binomial weights of (1 - B)^d,
// w0 = 1 on the newest value, cut before the first weight whose magnitude is
// below the threshold (floored at 1e-12, a NaN threshold taken as 1e-12) and
// at most 10001 weights. Order 0 passes the series through, order 1 gives
// its first difference. NaN until W inputs are held; a NaN input returns NaN
// and is neither stored nor counted.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

// w0 = 1, w_k = -(w_(k-1)·((d - k) + 1))/k for k = 1..10000, ending before the
// first |w_k| below the threshold (a NaN weight never is).
inline std::vector<double> frac_diff_weights(double d, double threshold) {
    std::vector<double> w{1.0};
    for (std::uint64_t k = 1; k <= 10000; ++k) {
        const double kf = to_f64(k);
        const double next = -(w.back() * ((d - kf) + 1.0)) / kf;
        if (std::fabs(next) < threshold) break;
        w.push_back(next);
    }
    return w;
}

class FracDiff {
public:
    FracDiff(double d, double threshold)
        : d_(d < 0.0 ? 0.0 : (d > 1.0 ? 1.0 : d)),
          weights_(frac_diff_weights(d_, std::fmax(threshold, 1e-12))),
          window_(weights_.size()) {}

    double next(double x) noexcept {
        if (std::isnan(x)) return kNaN;
        const std::uint64_t w = weights_.size();
        window_.push(x);
        if (window_.len() > w) window_.pop();
        if (window_.len() < w) return kNaN;
        double sum = 0.0;
        for (std::uint64_t k = 0; k < w; ++k) sum = sum + weights_[k] * window_[w - 1 - k];
        return sum;
    }

    // A NaN input is skipped and changes nothing.
    bool batch_ready() const noexcept { return window_.empty(); }

    // Batch form: the window holds the accepted (non-NaN) inputs, so each
    // chunk's accepted inputs are gathered after the last W - 1 before them
    // and the weighted sums of the full windows run over them in SIMD lanes (a
    // divisor of 1 changes no bit); NaN bars, and bars before W inputs are
    // held, give NaN. Without NaN the windows are read from the series.
    template <class O, Series S>
    void batch(const O& out, const S& x) const {
        const std::size_t n = x.size();
        const std::size_t w = weights_.size();
        if (!lanes::has_nan(x)) {
            const std::size_t first = std::min(w - 1, n);
            for (std::size_t t = 0; t < first; ++t) out.put(t, kNaN);
            lanes::map_bars<double>(out, w - 1, first, lanes::WeightedMeanMap{w, weights_.data(), true, 1.0}, x);
            return;
        }
        std::vector<double> held;      // the last accepted inputs, then the chunk's
        std::vector<std::size_t> bar;  // the chunk bar of each of the chunk's accepted inputs
        std::vector<double> sums;
        std::size_t seen = 0;  // inputs accepted before the chunk
        lanes::run_chunks(out, 0, 0, [&](std::size_t count, double* r, const double* v) {
            const std::size_t kept = std::min(seen, w - 1);
            held.resize(kept + count + lanes::kPad);
            bar.resize(count);
            std::size_t m = 0;
            for (std::size_t k = 0; k < count; ++k) {
                r[k] = kNaN;
                if (std::isnan(v[k])) continue;
                held[kept + m] = v[k];
                bar[m++] = k;
            }
            // Accepted input j of the chunk fills a window once kept + j >= W - 1.
            const std::size_t full_from = std::min(w - 1 - kept, m);
            if (full_from < m) {
                sums.resize(m - full_from + lanes::kPad);
                lanes::weighted_means(held.data() + kept + full_from - (w - 1), m - full_from, w, weights_.data(),
                                      true, 1.0, sums.data());
                for (std::size_t j = full_from; j < m; ++j) r[bar[j]] = sums[j - full_from];
            }
            seen += m;
            const std::size_t keep = std::min(seen, w - 1);
            std::memmove(held.data(), held.data() + kept + m - keep, keep * sizeof(double));
        }, x);
    }

    const std::vector<double>& weights() const noexcept { return weights_; }
    double d() const noexcept { return d_; }

private:
    double d_;                     // the clamped order
    std::vector<double> weights_;  // w0 first; its length is the window
    RingBuffer window_;            // the last W accepted inputs, oldest first
};

}  // namespace lumenfold::core
