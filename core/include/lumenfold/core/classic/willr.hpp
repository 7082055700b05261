// Williams %R: where the close stands in the highest-high/lowest-low range of
// the last `period` bars, from -100 (at the low) to 0 (at the high; exactly
// -0). NaN for bars 0 to period - 2; a period below 2 yields NaN on every bar
// and stores nothing. A flat or undefined range gives 0.
//
// The extremes are kept with the bar they came from; a new value at least as
// extreme replaces them (so among equal values the newest stands), and when
// the standing extreme leaves the window the window is rescanned from its
// oldest bar, whose value is taken unconditionally (even a NaN, which then
// stands until it leaves).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Williams %R of the bars whose windows are high[k .. k+p-1] and
// low[k .. k+p-1] (close[k+p-1] their close), for windows without NaN: the
// extremes folded from the oldest bar on, a value at least as extreme
// replacing the standing one; ((highest - close) * -100) / range when the
// range is positive, else 0.
extern const Kernel<void(const double* high, const double* low, const double* close, std::size_t count, std::size_t period, double* out)> willr_outputs;

// willr_outputs as a map (map_bars) with a history of period - 1 bars, so that
// a sink over other storage takes each group of outputs as it is computed.
struct WillrMap {
    std::size_t period;
    void operator()(std::size_t count, double* out, const double* high, const double* low, const double* close) const {
        willr_outputs(high, low, close, count, period, out);
    }
};

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class WILLR {
public:
    explicit WILLR(std::uint64_t period) : highs_(period), lows_(period), period_(period) {}

    double next(double high, double low, double close) noexcept {
        if (period_ < 2) return kNaN;
        if (highs_.len() == period_) {
            highs_.pop();
            lows_.pop();
        }
        highs_.push(high);
        lows_.push(low);
        const std::uint64_t t = count_++;

        if (t == 0) {
            highest_ = high;
            high_at_ = 0;
            lowest_ = low;
            low_at_ = 0;
        } else if (t < period_) {
            take_if_extreme(high, low, t);
        } else {
            // The window holds bars s..t, bar s + i at position i.
            const std::uint64_t s = t - period_ + 1;
            if (high_at_ >= s) {
                if (high >= highest_) {
                    highest_ = high;
                    high_at_ = t;
                }
            } else {
                highest_ = highs_[0];
                high_at_ = s;
                for (std::uint64_t i = 1; i < period_; ++i) {
                    const double v = highs_[i];
                    if (v >= highest_) {
                        highest_ = v;
                        high_at_ = s + i;
                    }
                }
            }
            if (low_at_ >= s) {
                if (low <= lowest_) {
                    lowest_ = low;
                    low_at_ = t;
                }
            } else {
                lowest_ = lows_[0];
                low_at_ = s;
                for (std::uint64_t i = 1; i < period_; ++i) {
                    const double v = lows_[i];
                    if (v <= lowest_) {
                        lowest_ = v;
                        low_at_ = s + i;
                    }
                }
            }
        }

        if (t + 1 < period_) return kNaN;
        return output(highest_, lowest_, close);
    }

    bool batch_ready() const noexcept { return count_ == 0; }

    // Batch form. Without NaN highs and lows, the extremes kept this way are
    // the window's own, the newest of equal ones: then every bar's window is
    // folded from its oldest bar in SIMD lanes, as a map. Otherwise the first
    // window is stepped, then the extremes are kept with their bars and
    // rescanned from the series itself when they leave the window.
    template <class O, Series S>
    void batch(const O& out, const S& high, const S& low, const S& close) {
        const std::size_t n = high.size();
        if (period_ >= 2 && period_ <= n && !lanes::has_nan(high) && !lanes::has_nan(low)) {
            const std::size_t p = static_cast<std::size_t>(period_);
            for (std::size_t t = 0; t + 1 < p; ++t) out.put(t, kNaN);
            lanes::map_bars<double>(out, p - 1, p - 1, lanes::WillrMap{p}, high, low, close);
            return;
        }
        const std::size_t first = period_ < 2 || period_ >= n ? n : static_cast<std::size_t>(period_);
        for (std::size_t t = 0; t < first; ++t) out.put(t, next(high[t], low[t], close[t]));
        const std::size_t p = static_cast<std::size_t>(period_);
        Extreme highest{highest_, static_cast<std::size_t>(high_at_)};
        Extreme lowest{lowest_, static_cast<std::size_t>(low_at_)};
        auto above = [](double v, double e) { return v >= e; };
        auto below = [](double v, double e) { return v <= e; };
        for (std::size_t t = first; t < n; ++t) {
            const std::size_t s = t - p + 1;
            highest.advance(high, s, t, above);
            lowest.advance(low, s, t, below);
            out.put(t, output(highest.value, lowest.value, close[t]));
        }
    }

private:
    // A window extreme and its bar, for the batch form: when the window moves
    // to s..t, bar t replaces it if `wins`, and when it has left, the window
    // is rescanned from bar s, which is taken unconditionally.
    struct Extreme {
        double value;
        std::size_t at;

        template <Series S, class Wins>
        void advance(const S& x, std::size_t s, std::size_t t, Wins wins) noexcept {
            if (at >= s) {
                if (wins(x[t], value)) {
                    value = x[t];
                    at = t;
                }
                return;
            }
            value = x[s];
            at = s;
            for (std::size_t b = s + 1; b <= t; ++b) {
                const double v = x[b];
                if (wins(v, value)) {
                    value = v;
                    at = b;
                }
            }
        }
    };

    // A flat or undefined range gives 0.
    static double output(double highest, double lowest, double close) noexcept {
        const double range = highest - lowest;
        if (range > 0.0) return ((highest - close) * -100.0) / range;
        return 0.0;
    }

    void take_if_extreme(double high, double low, std::uint64_t t) noexcept {
        if (high >= highest_) {
            highest_ = high;
            high_at_ = t;
        }
        if (low <= lowest_) {
            lowest_ = low;
            low_at_ = t;
        }
    }

    // The last `period` highs and lows.
    RingBuffer highs_;
    RingBuffer lows_;
    std::uint64_t period_;
    std::uint64_t count_ = 0;  // bars seen
    double highest_ = -std::numeric_limits<double>::infinity();
    std::uint64_t high_at_ = 0;
    double lowest_ = std::numeric_limits<double>::infinity();
    std::uint64_t low_at_ = 0;
};

}  // namespace lumenfold::core
