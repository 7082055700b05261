// Fractal adaptive moving average of the close. Over a window of L bars (the
// length rounded up to even, wrapping at the top of u64) the high-low ranges
// of the newer half, the older half and the whole window give the fractal
// dimension D = (ln(N1 + N2) - ln(N3))/ln 2 and the factor exp(-4.6·(D - 1)),
// clamped to [0.01, 1]; a non-positive or NaN range ratio gives the factor 1.
// The first L outputs are the closes (bar L starts the average). Window
// extremes ignore NaN highs and lows. Length 0 keeps no window: every range is
// empty and the factor is 1.
#pragma once

#include <algorithm>
#include <array>
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

// Highest high and lowest low at positions [from, to) of windows of `width`
// bars counted from the newest, x[k + width - 1] (k < count): folded newest
// first from -DBL_MAX and DBL_MAX, a value replacing the standing one only
// when strictly beyond it, so NaN is ignored.
extern const Kernel<void(const double* high, const double* low, std::size_t count, std::size_t width, std::size_t from, std::size_t to, double* highest, double* lowest)> window_part_extremes;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class FRAMA {
public:
    explicit FRAMA(std::uint64_t length)
        : length_(length + (length % 2)), half_(length_ / 2), highs_(length_), lows_(length_) {}

    double next(double high, double low, double close) noexcept {
        if (length_ != 0) {
            if (highs_.len() == length_) {
                highs_.pop_back();
                lows_.pop_back();
            }
            highs_.push_front(high);
            lows_.push_front(low);
        }
        if (highs_.len() < length_) {
            value_ = close;
            return close;
        }
        const double alpha = factor(extremes(0, half_), extremes(half_, length_));
        if (!started_) {
            value_ = close;
            started_ = true;
            return close;
        }
        value_ = (close * alpha) + ((1.0 - alpha) * value_);
        return value_;
    }

    bool batch_ready() const noexcept { return highs_.empty() && !started_; }

    // Batch form: the halves' extremes of every window in SIMD lanes, then the
    // factor and the average bar by bar.
    template <class O, Series S>
    void batch(const O& out, const S& high, const S& low, const S& close) {
        const std::size_t n = std::min({high.size(), low.size(), close.size()});
        const std::size_t length = static_cast<std::size_t>(length_);
        const std::size_t warm = length == 0 ? n : std::min(length, n);
        for (std::size_t i = 0; i < warm; ++i) out.put(i, next(high[i], low[i], close[i]));
        if (warm == n) return;
        const std::size_t half = static_cast<std::size_t>(half_);
        std::array<std::vector<double>, 4> e;
        // Each chunk's highs and lows start length - 1 bars before its first bar.
        lanes::each_chunk(length - 1, warm, [&](std::size_t first, std::size_t count, const double* highs,
                                                const double* lows) {
            for (auto& v : e) v.resize(count + lanes::kPad);
            // Locals, the views of the closes and the sink included: the
            // stores to `out` could otherwise alias anything reached through
            // a pointer.
            const S closes = close;
            const O sink = out;
            double* const hi1 = e[0].data();
            double* const lo1 = e[1].data();
            double* const hi2 = e[2].data();
            double* const lo2 = e[3].data();
            lanes::window_part_extremes(highs, lows, count, length, 0, half, hi1, lo1);
            lanes::window_part_extremes(highs, lows, count, length, half, length, hi2, lo2);
            double value = value_;
            for (std::size_t j = 0; j < count; ++j) {
                const double alpha = factor({hi1[j], lo1[j]}, {hi2[j], lo2[j]});
                value = (closes[first + j] * alpha) + ((1.0 - alpha) * value);
                sink.put(first + j, value);
            }
            value_ = value;
        }, high, low);
    }

    // The even window length in use.
    std::uint64_t length() const noexcept { return length_; }

private:
    struct Extremes {
        double high;
        double low;
    };

    // The factor from the extremes of the newer and the older half, clamped
    // to [0.01, 1].
    double factor(Extremes newer, Extremes older) const noexcept {
        // One scan serves the whole window too: the extremes of the halves are
        // those of the whole.
        const double range1 = newer.high - newer.low;
        const double range2 = older.high - older.low;
        const double range3 = max_num(newer.high, older.high) - min_num(newer.low, older.low);
        const double n1 = range1 / to_f64(half_);
        const double n2 = range2 / to_f64(half_);
        const double n3 = range3 / to_f64(length_);
        double alpha = 1.0;
        if (n1 > 0.0 && n2 > 0.0 && n3 > 0.0) {
            const double d = (std::log(n1 + n2) - std::log(n3)) / 0.6931471805599453;
            alpha = std::exp((d + (-1.0)) * (-4.6));
        }
        if (alpha < 0.01) alpha = 0.01;
        if (alpha > 1.0) alpha = 1.0;
        return alpha;
    }

    // Highest high and lowest low at window positions [from, to). A NaN fails
    // both comparisons and is ignored; of two equal zeros the first is kept,
    // which cannot matter: a zero extreme enters only differences whose zero
    // results fail the positivity test whatever their sign.
    Extremes extremes(std::uint64_t from, std::uint64_t to) const noexcept {
        Extremes e{-kMaxF64, kMaxF64};
        for (std::uint64_t i = from; i < to; ++i) {
            const double h = highs_[i];
            const double l = lows_[i];
            e.high = h > e.high ? h : e.high;
            e.low = l < e.low ? l : e.low;
        }
        return e;
    }

    std::uint64_t length_;
    std::uint64_t half_;
    RingBuffer highs_;  // last L highs, newest at the front
    RingBuffer lows_;   // last L lows, newest at the front
    double value_ = 0.0;
    bool started_ = false;
};

}  // namespace lumenfold::core
