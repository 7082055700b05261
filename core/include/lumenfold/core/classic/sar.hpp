// Parabolic stop-and-reverse from high and low. The stop accelerates towards
// the trend's extreme point, the acceleration factor starting at `acceleration`
// and growing by it with each new extreme up to `maximum`; the side flips when
// a bar penetrates the stop. The first bar gives NaN; the second chooses the
// side from the first two bars and gives the first stop. Each output is the
// stop in force for that bar (or the reversal stop on a flip). Every stop
// update is sar + af*(ep - sar) with a separate multiplication and addition,
// clamped with NaN-ignoring min/max.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "lumenfold/core/framework/chunks.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// What the stop carries from bar to bar in the batch form.
struct SarState {
    double sar;
    double ep;
    double af;
    bool is_short;
};

// The stops of count bars, high and low holding their bars after the one
// before them, stepped from `state` (left at the last bar's) as SAR::next
// steps them from its third bar on.
extern const Kernel<void(const double* high, const double* low, std::size_t count, double acceleration, double maximum, SarState* state, double* out)> sar_run;

// The stops of a chunk, as a map (map_bars) that carries the state from one
// chunk to the next.
struct SarMap {
    double acceleration;
    double maximum;
    SarState* state;
    void operator()(std::size_t count, double* out, const double* high, const double* low) const {
        sar_run(high, low, count, acceleration, maximum, state, out);
    }
};

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class SAR {
public:
    SAR(double acceleration, double maximum)
        : acceleration_(acceleration), maximum_(maximum), state_{0.0, 0.0, acceleration, true} {}

    double next(double high, double low) noexcept {
        if (count_ >= 2) {
            const double out = stop(state_, high, low, prev_high_, prev_low_, acceleration_, maximum_);
            prev_low_ = low;
            prev_high_ = high;
            return out;
        }
        if (count_++ == 0) {
            first_low_ = low;
            first_high_ = high;
            return kNaN;
        }
        return first_stop(high, low);
    }

    bool batch_ready() const noexcept { return count_ == 0; }

    // Batch form: the first two bars stepped, then the stops over each group
    // of bars with their prices and extremes loaded in SIMD lanes one group
    // ahead (see lanes::SarLanes for how the stops step there).
    template <class O, Series S>
    void batch(const O& out, const S& high, const S& low) {
        const std::size_t n = std::min(high.size(), low.size());
        for (std::size_t i = 0; i < n && i < 2; ++i) out.put(i, next(high[i], low[i]));
        if (n <= 2) return;
        lanes::SarState state = state_;
        lanes::map_bars<double>(out, 1, 2, lanes::SarMap{acceleration_, maximum_, &state}, high, low);
    }

    // The output of a bar from the third on, the bar before it of high ph
    // and low pl, the state carried past it.
    static double stop(lanes::SarState& s, double high, double low, double ph, double pl, double acceleration,
                       double maximum) noexcept {
        return s.is_short ? stop_side<false>(s, low, high, pl, ph, acceleration, maximum)
                          : stop_side<true>(s, high, low, ph, pl, acceleration, maximum);
    }

private:
    // One side's step: `ahead` is the price that extends the trend (the high
    // while long, the low while short), `behind` the one that can reverse it,
    // `prior_ahead` and `prior_behind` the bar before's. `further` takes the
    // extreme in the trend's direction, `nearer` the other; the long side's
    // maxima are the short side's minima, operand for operand.
    template <bool kLong>
    static double stop_side(lanes::SarState& s, double ahead, double behind, double prior_ahead, double prior_behind,
                            double acceleration, double maximum) noexcept {
        auto further = [](double a, double b) { return kLong ? max_num(a, b) : min_num(a, b); };
        auto nearer = [](double a, double b) { return kLong ? min_num(a, b) : max_num(a, b); };
        if (kLong ? behind <= s.sar : behind >= s.sar) {
            const double flip = further(further(s.ep, prior_ahead), ahead);
            s.ep = behind;
            s.af = acceleration;
            s.is_short = kLong;
            s.sar = further(further(flip + s.af * (behind - flip), prior_ahead), ahead);
            return flip;
        }
        const double out = s.sar;
        if (kLong ? ahead > s.ep : ahead < s.ep) {
            s.ep = ahead;
            s.af = min_num(s.af + acceleration, maximum);
        }
        s.sar = nearer(nearer(s.sar + s.af * (s.ep - s.sar), prior_behind), behind);
        return out;
    }

    // Second bar: the previous bar's range is taken as this bar's own.
    double first_stop(double high, double low) noexcept {
        const double down = first_low_ - low;
        const double up = high - first_high_;
        // Ordered comparisons: a NaN move gives long.
        bool is_long = !(down > up && down > 0.0);
        state_.af = acceleration_;
        double out;
        if (is_long) {
            state_.ep = high;
            if (low <= first_low_) {
                out = high;
                state_.ep = low;
                state_.sar = max_num(high + state_.af * (low - high), high);
                is_long = false;
            } else {
                out = first_low_;
                state_.sar = min_num(first_low_ + state_.af * (high - first_low_), low);
            }
        } else {
            state_.ep = low;
            if (high >= first_high_) {
                out = low;
                state_.ep = high;
                state_.sar = min_num(low + state_.af * (high - low), low);
                is_long = true;
            } else {
                out = first_high_;
                state_.sar = max_num(first_high_ + state_.af * (low - first_high_), high);
            }
        }
        state_.is_short = !is_long;
        prev_low_ = low;
        prev_high_ = high;
        return out;
    }

    double acceleration_;
    double maximum_;
    std::uint64_t count_ = 0;
    lanes::SarState state_;
    double prev_low_ = 0.0;
    double prev_high_ = 0.0;
    double first_low_ = 0.0;
    double first_high_ = 0.0;
};

}  // namespace lumenfold::core
