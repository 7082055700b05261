// Kaufman's adaptive moving average. The efficiency ratio (net move over the
// sum of absolute bar-to-bar moves across `period` changes) blends a fast
// (2/3) and a slow (2/31) smoothing constant, squared. NaN for bars 0 to
// period - 1; bar `period` starts from the previous price. Period 0 has no
// window of changes and yields NaN on every bar.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Squared smoothing constants of the bars [from, to), x holding the inputs
// from p bars before bar 0 up to bar to - 1 (p >= 1): for bar k (input
// x[k + p]), the efficiency ratio |x[k + p] - x[k]| over the sum of the sizes
// of its window's changes added newest first (0 when that sum is 0), sc =
// slow + er * spread, out[k] = sc * sc. moves[j] = |x[j + 1] - x[j]| is filled
// for the changes up to bar to - 1 from those bar `from` adds (from bar 0,
// all of them): a call for the bars before filled the others.
extern const Kernel<void(const double* x, std::size_t from, std::size_t to, std::size_t period, double slow, double spread, double* moves, double* out)> kama_factors;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class KAMA {
public:
    static constexpr double kFast = 2.0 / 3.0;
    static constexpr double kSlow = 2.0 / 31.0;

    // The window holds the last period + 1 prices (storage is strictly larger
    // than the requested capacity).
    explicit KAMA(std::uint64_t period) : prices_(period), period_(period) {}

    double next(double x) noexcept {
        if (period_ == 0) return kNaN;
        if (prices_.len() > period_) prices_.pop();
        prices_.push(x);
        if (prices_.len() <= period_) return kNaN;
        if (!started_) {
            value_ = prices_[period_ - 1];
            started_ = true;
        }
        // Newest change first: prices_[period_] is x, prices_[0] is `period` bars back.
        double volatility = 0.0;
        for (std::uint64_t i = period_; i > 0; --i) {
            volatility = volatility + std::fabs(prices_[i] - prices_[i - 1]);
        }
        const double er = volatility == 0.0 ? 0.0 : std::fabs(x - prices_[0]) / volatility;
        const double sc = kSlow + er * kSpread;
        value_ = value_ + (x - value_) * (sc * sc);
        return value_;
    }

    bool batch_ready() const noexcept { return prices_.empty(); }

    // Batch form, chunk by chunk: the inputs of each group of bars loaded
    // and their smoothing constants, which depend on the window alone,
    // computed in SIMD lanes one group ahead of the average's recursion, so
    // that both run while the recursion waits on its chain.
    template <class O, Series S>
    void batch(const O& out, const S& x) const {
        // Copies of the sink and the series, which the output stores cannot
        // reach: their fields stay in registers across the loops.
        run_batch(O(out), S(x));
    }

private:
    static constexpr double kSpread = kFast - kSlow;

    template <class O, Series S>
    void run_batch(O out, S x) const {
        const std::size_t n = x.size();
        const std::size_t p = static_cast<std::size_t>(period_);
        const std::size_t warm = period_ == 0 || p > n ? n : p;
        for (std::size_t i = 0; i < warm; ++i) out.put(i, kNaN);
        if (warm == n) return;
        // Groups short enough for the lanes work of the next group to fit
        // beside the recursion in flight, long enough to amortise the calls.
        constexpr std::size_t kGroup = 32;
        const std::size_t chunk = lanes::kChunk;
        // xs[j] is the input of bar first - p + j, moves[j] = |xs[j + 1] - xs[j]|,
        // factors[k] the squared constant of bar first + k.
        std::vector<double> xs(chunk + p + lanes::kPad), moves(chunk + p + lanes::kPad), factors(chunk + lanes::kPad);
        double* const v = xs.data();
        double* const m = moves.data();
        double* const f = factors.data();
        auto ahead = [&](std::size_t first, std::size_t from, std::size_t count) {
            const std::size_t to = std::min(from + kGroup, count);
            x.load(first + from, to - from, v + p + from);
            lanes::kama_factors(v, from, to, p, kSlow, kSpread, m, f);
        };
        double value = x[p - 1];
        for (std::size_t first = p; first < n; first += chunk) {
            const std::size_t count = std::min(chunk, n - first);
            x.load(first - p, p, v);
            ahead(first, 0, count);
            for (std::size_t from = 0; from < count; from += kGroup) {
                if (from + kGroup < count) ahead(first, from + kGroup, count);
                for (std::size_t k = from, end = std::min(from + kGroup, count); k < end; ++k) {
                    value = value + (v[k + p] - value) * f[k];
                    out.put(first + k, value);
                }
            }
        }
    }

    RingBuffer prices_;
    std::uint64_t period_;
    double value_ = 0.0;
    bool started_ = false;
};

}  // namespace lumenfold::core
