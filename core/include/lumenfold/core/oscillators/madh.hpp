// Hann moving-average difference: 100·(short - long)/long over two Hann
// filters of lengths short_length and short_length + dominant_cycle/2
// (integer half). Each filter passes its input through until its window is
// full, so bars 1 to short_length - 1 return 0; a long value within 1e-10 of
// 0 (or NaN) reads 0.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/filters/hann.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

class MADH {
public:
    MADH(std::uint64_t short_length, std::uint64_t dominant_cycle)
        : short_hann_(short_length),
          long_hann_(short_length + dominant_cycle / 2),
          short_length_(short_length),
          dominant_cycle_(dominant_cycle) {}

    double next(double x) noexcept {
        const double h1 = short_hann_.next(x);
        const double h2 = long_hann_.next(x);
        return std::fabs(h2) > 1e-10 ? ((h1 - h2) * 100.0) / h2 : 0.0;
    }

    bool batch_ready() const noexcept { return short_hann_.batch_ready() && long_hann_.batch_ready(); }

    // Batch form: the bars before the long window is full are stepped; from
    // there on both filters' means are read from the series in SIMD lanes (the
    // short one the input itself when it never divides) and combined per bar.
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        const std::size_t n = x.size();
        const std::size_t ls = static_cast<std::size_t>(short_hann_.period());
        const std::size_t ll = static_cast<std::size_t>(long_hann_.period());
        const std::vector<double> long_w = hann_weights(ll);
        const double long_sum = weight_sum(long_w);
        const std::size_t first = ll == 0 || long_sum == 0.0 ? n : std::min(ll - 1, n);
        for (std::size_t t = 0; t < first; ++t) out.put(t, next(x[t]));
        const std::vector<double> short_w = hann_weights(ls);
        const double short_sum = weight_sum(short_w);
        const bool short_mean = ls != 0 && short_sum != 0.0;
        std::vector<double> h1;
        lanes::run_chunks(out, ll - 1, first, [&](std::size_t count, double* r, const double* v) {
            const double* h1s = v + (ll - 1);
            if (short_mean) {
                h1.resize(std::max(h1.size(), count + lanes::kPad));
                lanes::weighted_means(v + (ll - ls), count, ls, short_w.data(), true, short_sum, h1.data());
                h1s = h1.data();
            }
            lanes::weighted_means(v, count, ll, long_w.data(), true, long_sum, r);
            for (std::size_t k = 0; k < count; ++k) {
                const double h2 = r[k];
                r[k] = std::fabs(h2) > 1e-10 ? ((h1s[k] - h2) * 100.0) / h2 : 0.0;
            }
        }, x);
    }

    std::uint64_t short_length() const noexcept { return short_length_; }
    std::uint64_t dominant_cycle() const noexcept { return dominant_cycle_; }
    std::uint64_t long_length() const noexcept { return long_hann_.period(); }

private:
    HannFilter short_hann_;
    HannFilter long_hann_;
    std::uint64_t short_length_;
    std::uint64_t dominant_cycle_;
};

}  // namespace lumenfold::core
