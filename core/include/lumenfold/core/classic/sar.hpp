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
        : acceleration_(acceleration), maximum_(maximum), af_(acceleration) {}

    double next(double high, double low) noexcept {
        if (count_ >= 2) return step(high, low);
        if (count_++ == 0) {
            first_low_ = low;
            first_high_ = high;
            return kNaN;
        }
        return first_stop(high, low);
    }

    bool batch_ready() const noexcept { return count_ == 0; }

    // Batch form: the first two bars stepped, then the stops without a branch
    // (the side flips unpredictably on market prices), the bars' extremes in
    // SIMD lanes one group of bars ahead.
    template <class O, Series S>
    void batch(const O& out, const S& high, const S& low) {
        const std::size_t n = std::min(high.size(), low.size());
        for (std::size_t i = 0; i < n && i < 2; ++i) out.put(i, next(high[i], low[i]));
        if (n <= 2) return;
        lanes::SarState state{sar_, ep_, af_, !is_long_};
        lanes::map_bars<double>(out, 1, 2, lanes::SarMap{acceleration_, maximum_, &state}, high, low);
    }

private:
    // Second bar: the previous bar's range is taken as this bar's own.
    double first_stop(double high, double low) noexcept {
        const double down = first_low_ - low;
        const double up = high - first_high_;
        // Ordered comparisons: a NaN move gives long.
        is_long_ = !(down > up && down > 0.0);
        af_ = acceleration_;
        double out;
        if (is_long_) {
            ep_ = high;
            if (low <= first_low_) {
                out = high;
                ep_ = low;
                sar_ = max_num(high + af_ * (low - high), high);
                is_long_ = false;
            } else {
                out = first_low_;
                sar_ = min_num(first_low_ + af_ * (high - first_low_), low);
            }
        } else {
            ep_ = low;
            if (high >= first_high_) {
                out = low;
                ep_ = high;
                sar_ = min_num(low + af_ * (high - low), low);
                is_long_ = true;
            } else {
                out = first_high_;
                sar_ = max_num(first_high_ + af_ * (low - first_high_), high);
            }
        }
        prev_low_ = low;
        prev_high_ = high;
        return out;
    }

    double step(double high, double low) noexcept {
        const double pl = prev_low_;
        const double ph = prev_high_;
        prev_low_ = low;
        prev_high_ = high;
        double out;
        if (is_long_) {
            if (low <= sar_) {
                const double s = max_num(max_num(ep_, ph), high);
                out = s;
                ep_ = low;
                af_ = acceleration_;
                is_long_ = false;
                sar_ = max_num(max_num(s + af_ * (low - s), ph), high);
            } else {
                out = sar_;
                if (high > ep_) {
                    ep_ = high;
                    af_ = min_num(af_ + acceleration_, maximum_);
                }
                sar_ = min_num(min_num(sar_ + af_ * (ep_ - sar_), pl), low);
            }
        } else {
            if (high >= sar_) {
                const double s = min_num(min_num(ep_, pl), low);
                out = s;
                ep_ = high;
                af_ = acceleration_;
                is_long_ = true;
                sar_ = min_num(min_num(s + af_ * (high - s), pl), low);
            } else {
                out = sar_;
                if (low < ep_) {
                    ep_ = low;
                    af_ = min_num(af_ + acceleration_, maximum_);
                }
                sar_ = max_num(max_num(sar_ + af_ * (ep_ - sar_), ph), high);
            }
        }
        return out;
    }

    double acceleration_;
    double maximum_;
    std::uint64_t count_ = 0;
    double sar_ = 0.0;
    double ep_ = 0.0;
    double af_;
    double prev_low_ = 0.0;
    double prev_high_ = 0.0;
    double first_low_ = 0.0;
    double first_high_ = 0.0;
    bool is_long_ = false;
};

}  // namespace lumenfold::core
