// Parabolic stop-and-reverse from high and low. The stop accelerates towards
// the trend's extreme point, the acceleration factor starting at `acceleration`
// and growing by it with each new extreme up to `maximum`; the side flips when
// a bar penetrates the stop. The first bar gives NaN; the second chooses the
// side from the first two bars and gives the first stop. Each output is the
// stop in force for that bar (or the reversal stop on a flip). Every stop
// update is sar + af*(ep - sar) with a separate multiplication and addition,
// clamped with NaN-ignoring min/max.
#pragma once

#include <cstdint>

#include "lumenfold/core/framework/num.hpp"

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
