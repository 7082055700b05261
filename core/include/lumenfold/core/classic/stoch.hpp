// Slow stochastic oscillator over high, low and close. Fast %K places the
// close in the range of the last `fastk` bars (50 for a flat or undefined
// range), slow %K smooths it over `slowk` values and %D smooths slow %K over
// `slowd` values. Nothing is reported before %D exists: every bar before
// fastk + slowk + slowd - 3 (wrapping, so tiny periods never report) gives
// (NaN, NaN), and %K is then reported aligned with %D.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "lumenfold/core/framework/chunks.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"
#include "lumenfold/core/framework/talib.hpp"

namespace lumenfold::core::lanes {

// Fast %K of the bars whose windows are high[k .. k+p-1] and low[k .. k+p-1]
// (close[k+p-1] their close), k < count: the extremes as HlWindow keeps them
// (a NaN never an extreme, -inf and +inf when nothing else), then
// ((close - lowest) * 100) / range for a positive range, else 50. hi and lo
// are work arrays of count + p - 1 values; every array is padded.
extern const Kernel<void(const double* high, const double* low, const double* close, std::size_t count, std::size_t period, double* hi, double* lo, double* out)> stoch_fast_k;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

struct HlRange {
    double highest;
    double lowest;
    double range;
};

// Highest high and lowest low of the last `period` bars (the current bar only
// for period 0). The extremes are those of a scan from the oldest value that
// takes a value only when strictly beyond the current one, starting from -inf
// and +inf: a NaN never becomes an extreme and among equal values the oldest
// stands. They are kept incrementally and rescanned only when the standing
// extreme leaves the window.
class HlWindow {
public:
    explicit HlWindow(std::uint64_t period)
        : highs_(period), lows_(period), period_(period), keep_(period == 0 ? 1 : period) {}

    // Nothing until `period` bars have been pushed.
    std::optional<HlRange> push(double high, double low) noexcept {
        bool rescan_high = false;
        bool rescan_low = false;
        if (highs_.len() >= keep_) {
            const std::uint64_t oldest = count_ - highs_.len();
            highs_.pop();
            lows_.pop();
            rescan_high = high_at_ == oldest;
            rescan_low = low_at_ == oldest;
        }
        highs_.push(high);
        lows_.push(low);
        const std::uint64_t t = count_++;

        if (rescan_high) {
            rescan_highest();
        } else if (high > highest_) {
            highest_ = high;
            high_at_ = t;
        }
        if (rescan_low) {
            rescan_lowest();
        } else if (low < lowest_) {
            lowest_ = low;
            low_at_ = t;
        }

        if (highs_.len() < period_) return std::nullopt;
        return HlRange{highest_, lowest_, highest_ - lowest_};
    }

private:
    static constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();
    static constexpr double kInf = std::numeric_limits<double>::infinity();

    void rescan_highest() noexcept {
        const std::uint64_t n = highs_.len();
        const std::uint64_t base = count_ - n;
        highest_ = -kInf;
        high_at_ = kNone;
        for (std::uint64_t i = 0; i < n; ++i) {
            const double v = highs_[i];
            if (v > highest_) {
                highest_ = v;
                high_at_ = base + i;
            }
        }
    }

    void rescan_lowest() noexcept {
        const std::uint64_t n = lows_.len();
        const std::uint64_t base = count_ - n;
        lowest_ = kInf;
        low_at_ = kNone;
        for (std::uint64_t i = 0; i < n; ++i) {
            const double v = lows_[i];
            if (v < lowest_) {
                lowest_ = v;
                low_at_ = base + i;
            }
        }
    }

    RingBuffer highs_;
    RingBuffer lows_;
    std::uint64_t period_;
    std::uint64_t keep_;
    std::uint64_t count_ = 0;  // bars pushed so far
    // Standing extremes and the bar they came from (kNone while no value in
    // the window beats the starting infinity).
    double highest_ = -kInf;
    std::uint64_t high_at_ = kNone;
    double lowest_ = kInf;
    std::uint64_t low_at_ = kNone;
};

struct StochOutput {
    double k;
    double d;
};

// The smoother of slow %K and of %D: selector 1 is the mean-seeded
// exponential average, any other selector the windowed simple mean.
class StochSmoother {
public:
    StochSmoother(std::uint64_t period, std::uint32_t selector) : ema_(period) {
        if (selector != 1) sma_.emplace(period);
    }

    double next(double x) noexcept { return sma_ ? sma_->next(x) : ema_.next(x); }

private:
    TalibEma ema_;
    std::optional<TalibSma> sma_;
};

class STOCH {
public:
    // Both smoothers simple means.
    STOCH(std::uint64_t fastk, std::uint64_t slowk, std::uint64_t slowd)
        : STOCH(fastk, slowk, 0, slowd, 0) {}

    STOCH(std::uint64_t fastk, std::uint64_t slowk, std::uint32_t slowk_matype, std::uint64_t slowd,
          std::uint32_t slowd_matype)
        : fastk_(fastk),
          window_(fastk),
          slow_k_(slowk, slowk_matype),
          slow_d_(slowd, slowd_matype),
          lookback_(fastk + slowk + slowd - 3),
          k_offset_(slowd - 1 - lookback_) {}

    StochOutput next(double high, double low, double close) noexcept {
        const std::uint64_t b = bars_++;
        const std::optional<HlRange> r = window_.push(high, low);
        if (!r) return {kNaN, kNaN};
        const double fast_k = r->range > 0.0 ? ((close - r->lowest) * 100.0) / r->range : 50.0;
        return smooth(b, fast_k);
    }

    bool batch_ready() const noexcept { return bars_ == 0; }

    // Batch form: the window extremes and fast %K in SIMD lanes chunk by
    // chunk, then the smoothing bar by bar.
    template <class O, Series S>
    void batch(const O& out, const S& high, const S& low, const S& close) {
        const std::size_t n = std::min({high.size(), low.size(), close.size()});
        // Bar b has a range from b = width - 1 on.
        const std::size_t history = static_cast<std::size_t>(std::max<std::uint64_t>(fastk_, 1) - 1);
        const std::size_t first = std::min(n, history);
        for (std::size_t b = 0; b < first; ++b) out.put(b, {kNaN, kNaN});
        std::vector<double> hi, lo, fast_k;
        std::vector<StochOutput> results;
        lanes::each_chunk(history, first, [&](std::size_t from, std::size_t count, const double* h, const double* l,
                                             const double* c) {
            hi.resize(count + history + lanes::kPad);
            lo.resize(hi.size());
            fast_k.resize(count + lanes::kPad);
            results.resize(count);
            lanes::stoch_fast_k(h, l, c, count, history + 1, hi.data(), lo.data(), fast_k.data());
            for (std::size_t k = 0; k < count; ++k) results[k] = smooth(from + k, fast_k[k]);
            out.store(from, count, results.data());
        }, high, low, close);
    }

    std::uint64_t lookback() const noexcept { return lookback_; }

private:
    // The outputs of bar b once its fast %K is known.
    StochOutput smooth(std::uint64_t b, double fast_k) noexcept {
        const double slow_k = slow_k_.next(fast_k);
        double d = kNaN;
        if (!std::isnan(slow_k)) {
            k_last_ = slow_k;
            ++k_count_;
            d = slow_d_.next(slow_k);
        }
        if (b < lookback_) return {kNaN, kNaN};
        // %K is the slow %K numbered b + slowd - 1 - lookback among those
        // produced so far. That number never lags behind the newest one (a
        // slow %K cannot come earlier than bar fastk + slowk - 2), so only
        // the newest value is kept; a number past it reads as NaN.
        const std::uint64_t i = b + k_offset_;
        const double k = (k_count_ != 0 && i == k_count_ - 1) ? k_last_ : kNaN;
        return {k, d};
    }

    std::uint64_t fastk_;
    HlWindow window_;
    StochSmoother slow_k_;
    StochSmoother slow_d_;
    std::uint64_t bars_ = 0;
    std::uint64_t lookback_;  // wrapping
    std::uint64_t k_offset_;  // slowd - 1 - lookback, wrapping
    // Count of slow %K values produced so far and the newest of them.
    std::uint64_t k_count_ = 0;
    double k_last_ = kNaN;
};

}  // namespace lumenfold::core
