// Kaufman's adaptive moving average. The efficiency ratio (net move over the
// sum of absolute bar-to-bar moves across `period` changes) blends a fast
// (2/3) and a slow (2/31) smoothing constant, squared. NaN for bars 0 to
// period - 1; bar `period` starts from the previous price. Period 0 has no
// window of changes and yields NaN on every bar.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core::lanes {

// KAMA over the bars [p, n) of a big-endian series (p >= 1), written
// big-endian: for bar t, the efficiency ratio |x[t] - x[t-p]| over the sum of
// |changes| of its window added newest first (0 when that sum is 0),
// sc = slow + er * spread, then value = value + (x[t] - value) * (sc * sc) bar
// by bar from `value`, the average before bar p.
extern const Kernel<void(const std::uint8_t* be, std::size_t n, std::size_t period, double slow, double spread, double value, std::uint8_t* out)> kama_run;

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

    // Batch form: the smoothing constants, which depend on the window alone,
    // in SIMD lanes beside the average's recursion, which runs bar by bar.
    void batch(BigEndianOut out, BigEndianSeries x) const {
        const std::size_t n = x.size();
        const std::size_t p = static_cast<std::size_t>(period_);
        const std::size_t warm = period_ == 0 || p > n ? n : p;
        for (std::size_t i = 0; i < warm; ++i) out.put(i, kNaN);
        if (warm == n) return;
        lanes::kama_run(x.bytes(), n, p, kSlow, kSpread, x[p - 1], out.bytes());
    }

private:
    static constexpr double kSpread = kFast - kSlow;

    RingBuffer prices_;
    std::uint64_t period_;
    double value_ = 0.0;
    bool started_ = false;
};

}  // namespace lumenfold::core
