// Hull moving average: WMA(⌊√period⌋) of 2·WMA(period/2) − WMA(period). All
// three weighted averages answer from their first input, so there is no
// warm-up placeholder; period 0 gives 0 and period 1 gives −input (its half
// average has period 0 and returns 0).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"
#include "lumenfold/core/framework/smoothing.hpp"

namespace lumenfold::core {

class HMA {
public:
    explicit HMA(std::uint64_t period) : half_(period / 2), full_(period), root_(root_period(period)) {}

    double next(double x) noexcept {
        const double h = half_.next(x);
        const double f = full_.next(x);
        return root_.next((h + h) - f);
    }

    bool batch_ready() const noexcept { return half_.batch_ready() && full_.batch_ready() && root_.batch_ready(); }

    // Batch form: the bars until all three averages have full windows
    // stepped, then chunk by chunk the half and full averages of the root
    // window's bars, their differences and the root average, each in SIMD
    // lanes over windows read from the chunk.
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        const std::size_t n = x.size();
        const std::size_t half = static_cast<std::size_t>(half_.period());
        const std::size_t full = static_cast<std::size_t>(full_.period());
        const std::size_t root = static_cast<std::size_t>(root_.period());
        const std::size_t history = half == 0 || full > n ? n : full - 1 + root - 1;
        const std::size_t stepped = std::min(history, n);
        for (std::size_t t = 0; t < stepped; ++t) out.put(t, next(x[t]));
        if (stepped == n) return;
        const Weights wh(half), wf(full), wr(root);
        const std::size_t room = std::max<std::size_t>(2048, history) + root + lanes::kPad;
        std::vector<double> halves(room), fulls(room), diffs(room);
        // v[j] is bar first - history + j; the m-th difference is bar
        // first - (root - 1) + m, its full window from v[m].
        lanes::run_chunks(out, history, history, [&](std::size_t count, double* r, const double* v) {
            const std::size_t bars = count + root - 1;
            lanes::weighted_means(v + (full - half), bars, half, wh.w.data(), false, wh.den, halves.data());
            lanes::weighted_means(v, bars, full, wf.w.data(), false, wf.den, fulls.data());
            for (std::size_t m = 0; m < bars; ++m) diffs[m] = (halves[m] + halves[m]) - fulls[m];
            lanes::weighted_means(diffs.data(), count, root, wr.w.data(), false, wr.den, r);
        }, x);
    }

    std::uint64_t period() const noexcept { return full_.period(); }

    // ⌊√period⌋ from the f64 square root (at most 2^32, always representable).
    static std::uint64_t root_period(std::uint64_t period) noexcept {
        return static_cast<std::uint64_t>(std::sqrt(to_f64(period)));
    }

private:
    // A full window's weights 1 .. p, oldest first, and their sum added in
    // that order, as the weighted average takes them.
    struct Weights {
        std::vector<double> w;
        double den = 0.0;
        explicit Weights(std::size_t p) : w(p) {
            for (std::size_t j = 0; j < p; ++j) {
                w[j] = to_f64(j + 1);
                den = den + w[j];
            }
        }
    };

    WMA half_;
    WMA full_;
    WMA root_;
};

}  // namespace lumenfold::core
