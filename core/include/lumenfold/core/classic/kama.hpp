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

#include "lumenfold/core/framework/allocation.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Bars per chunk of kama_run: whole groups of 16 bars, at least the window.
constexpr std::size_t kama_chunk(std::size_t period) { return (std::max<std::size_t>(1024, period) / 16 + 1) * 16; }

// The doubles of work kama_run takes: a chunk's inputs with the window before
// them, the sizes of their changes, and their smoothing constants.
constexpr std::size_t kama_work(std::size_t period) {
    return 2 * (kama_chunk(period) + period + kPad) + kama_chunk(period) + kPad;
}

// KAMA of count bars, x holding their inputs after the p >= 1 before them:
// for bar k (input x[k + p]), the efficiency ratio |x[k + p] - x[k]| over the
// sum of the sizes of its window's changes added newest first (0 when that
// sum is 0), sc = slow + er * spread, value = value + (x[k + p] - value) *
// (sc * sc) from the given value, out[k] = value; returns the last value.
// `work` holds kama_work(p) doubles.
extern const Kernel<double(const double* x, std::size_t count, std::size_t period, double slow, double spread, double value, double* work, double* out)> kama_run;

// KAMA over a chunk, as a map (map_bars) that carries the average from one
// chunk to the next.
struct KamaMap {
    std::size_t period;
    double slow;
    double spread;
    double* value;
    double* work;
    void operator()(std::size_t count, double* out, const double* x) const {
        *value = kama_run(x, count, period, slow, spread, *value, work, out);
    }
};

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

    // Batch form: the smoothing constants, which depend on the window alone,
    // computed in SIMD lanes one group of bars ahead of the average's
    // recursion, so that both run while the recursion waits on its chain.
    template <class O, Series S>
    void batch(const O& out, const S& x) const {
        const std::size_t n = x.size();
        const std::size_t p = static_cast<std::size_t>(period_);
        const std::size_t warm = period_ == 0 || p > n ? n : p;
        for (std::size_t i = 0; i < warm; ++i) out.put(i, kNaN);
        if (warm == n) return;
        double value = x[p - 1];
        std::vector<double> work = sized_vector<double>(lanes::kama_work(p));
        lanes::map_bars<double>(out, p, p, lanes::KamaMap{p, kSlow, kSpread, &value, work.data()}, x);
    }

private:
    static constexpr double kSpread = kFast - kSlow;

    RingBuffer prices_;
    std::uint64_t period_;
    double value_ = 0.0;
    bool started_ = false;
};

}  // namespace lumenfold::core
