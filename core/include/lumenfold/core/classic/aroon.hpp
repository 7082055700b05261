// Aroon: bars since the highest high (Aroon Up) and the lowest low (Aroon
// Down) of the last period + 1 bars, scaled as (100/period) * (period - bars
// since the extreme): 100 for an extreme on the current bar, 0 for one period
// bars back. Among equal values the newest is the extreme. Bars 0 .. period-1
// give NaN in both fields; a period below 2 gives NaN on every bar.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "lumenfold/core/framework/chunks.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

struct AroonOutput {
    double up;
    double down;
};

}  // namespace lumenfold::core

namespace lumenfold::core::lanes {

// Aroon of the bars whose windows are high[k .. k+p] and low[k .. k+p], k <
// count, for windows without NaN: the newest of the highest highs (lowest
// lows) at offset j from k gives factor * j. work holds 4 * (count + p) values;
// every array is padded.
extern const Kernel<void(const double* high, const double* low, std::size_t count, std::size_t period, double factor, double* work, AroonOutput* out)> aroon_outputs;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

namespace detail {

// Tracks the position of the window extreme. A candidate replaces the extreme
// when it is >= (highs) or <= (lows), so a NaN never wins a comparison; it only
// becomes the extreme as bar 0's value or as the first value of a rescan.
template <bool kHighs>
class AroonTracker {
public:
    explicit AroonTracker(std::uint64_t period)
        : window_(period < kInitialCapacity ? period : kInitialCapacity),
          period_(period),
          factor_(100.0 / to_f64(period)) {}

    double next(double x) {
        if (period_ < 2) return kNaN;
        const std::uint64_t t = bars_++;
        remember(x);
        if (t < period_) {
            if (t == 0 || better(x, extreme_)) take(x, t);
            return kNaN;
        }
        if (t > period_) {
            const std::uint64_t s = t - period_;
            if (index_ < s) {
                // The extreme left the window: rescan its period + 1 values,
                // oldest first (window_[0] is bar s, window_[period] is bar t).
                take(window_[0], s);
                for (std::uint64_t j = 1; j <= period_; ++j) {
                    const double v = window_[j];
                    if (better(v, extreme_)) take(v, s + j);
                }
                return factor_ * to_f64(period_ - t + index_);
            }
        }
        if (better(x, extreme_)) take(x, t);
        return factor_ * to_f64(period_ - t + index_);
    }

    // Values seen (none is counted for a period below 2, which keeps nothing).
    std::uint64_t bars() const noexcept { return bars_; }

private:
    // Small windows get their final storage at once; larger ones grow as bars
    // arrive, so an enormous period costs memory only for the bars actually fed.
    static constexpr std::uint64_t kInitialCapacity = 63;
    static constexpr double kInf = std::numeric_limits<double>::infinity();

    static bool better(double v, double extreme) noexcept {
        if constexpr (kHighs) {
            return v >= extreme;
        } else {
            return v <= extreme;
        }
    }

    void take(double v, std::uint64_t i) noexcept {
        extreme_ = v;
        index_ = i;
    }

    // Keeps the last period + 1 inputs, oldest at the front.
    void remember(double x) {
        if (window_.len() > period_) {
            window_.pop();
        } else if (window_.len() == window_.storage_size()) {
            RingBuffer grown(window_.storage_size());  // twice the storage
            for (std::uint64_t j = 0; j < window_.len(); ++j) grown.push(window_[j]);
            window_ = std::move(grown);
        }
        window_.push(x);
    }

    RingBuffer window_;
    std::uint64_t period_;
    double factor_;
    double extreme_ = kHighs ? -kInf : kInf;
    std::uint64_t index_ = 0;
    std::uint64_t bars_ = 0;
};

}  // namespace detail

class AROON {
public:
    explicit AROON(std::uint64_t period) : lows_(period), highs_(period), period_(period) {}

    AroonOutput next(double high, double low) {
        const double down = lows_.next(low);
        const double up = highs_.next(high);
        return AroonOutput{up, down};
    }

    bool batch_ready() const noexcept { return lows_.bars() == 0; }

    // Batch form. Without NaN highs and lows the extremes are the newest of
    // the window's own: then every window's are found in SIMD lanes, chunk by
    // chunk. Otherwise the bars are stepped.
    template <class O, Series S>
    void batch(const O& out, const S& high, const S& low) {
        const std::size_t n = std::min(high.size(), low.size());
        if (period_ < 2 || period_ >= n || lanes::has_nan(high) || lanes::has_nan(low)) {
            for (std::size_t t = 0; t < n; ++t) out.put(t, next(high[t], low[t]));
            return;
        }
        const std::size_t p = static_cast<std::size_t>(period_);
        for (std::size_t t = 0; t < p; ++t) out.put(t, {kNaN, kNaN});
        const double factor = 100.0 / to_f64(period_);
        std::vector<double> work;
        std::vector<AroonOutput> results;
        lanes::each_chunk(p, p, [&](std::size_t first, std::size_t count, const double* h, const double* l) {
            work.resize(4 * (count + p + lanes::kPad));
            results.resize(count + lanes::kPad);
            lanes::aroon_outputs(h, l, count, p, factor, work.data(), results.data());
            out.store(first, count, results.data());
        }, high, low);
    }

    std::uint64_t period() const noexcept { return period_; }

private:
    detail::AroonTracker<false> lows_;
    detail::AroonTracker<true> highs_;
    std::uint64_t period_;
};

}  // namespace lumenfold::core
