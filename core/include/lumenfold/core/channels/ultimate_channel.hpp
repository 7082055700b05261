// Ultimate channel: the ultimate smoother (period `length`) of the close as the
// center line, with bands at ± num_strs times the ultimate smoother (period
// str_length) of the true range. Here the true range is max(high, previous
// close) - min(low, previous close), NaN operands ignored, and high - low on
// the first bar. Both smoothers pass their first three inputs through, so there
// is no warm-up placeholder.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/filters/ultimate_smoother.hpp"
#include "lumenfold/core/framework/chunks.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

namespace lanes {

// out[k] = max_num(high[k + 1], close[k]) - min_num(low[k + 1], close[k]) for
// k < count; out is padded.
extern const Kernel<void(const double* high, const double* low, const double* close, std::size_t count, double* out)> close_ranges;

}  // namespace lanes

struct UltimateChannelOutput {
    double upper;
    double center;
    double lower;
};

class UltimateChannel {
public:
    UltimateChannel(std::uint64_t length, std::uint64_t str_length, double num_strs)
        : center_smoother_(length), range_smoother_(str_length), num_strs_(num_strs) {}

    UltimateChannelOutput next(double high, double low, double close) noexcept {
        double top = high;
        double bottom = low;
        if (started_) {
            // Without a branch: gaps put the previous close outside the bar at random.
            top = max_num_masked(high, prev_close_);
            bottom = min_num_masked(low, prev_close_);
        }
        started_ = true;
        prev_close_ = close;
        const double s = range_smoother_.next(top - bottom);
        const double center = center_smoother_.next(close);
        const double d = s * num_strs_;
        return UltimateChannelOutput{center + d, center, center - d};
    }

    bool batch_ready() const noexcept { return !started_; }

    // Batch form: the first bar stepped, then chunk by chunk the ranges in
    // SIMD lanes and the two smoothers bar by bar.
    template <class O, Series S>
    void batch(const O& out, const S& high, const S& low, const S& close) {
        const std::size_t n = std::min({high.size(), low.size(), close.size()});
        if (n == 0) return;
        out.put(0, next(high[0], low[0], close[0]));
        std::vector<double> ranges;
        std::vector<UltimateChannelOutput> bands;
        lanes::each_chunk(1, 1, [&](std::size_t first, std::size_t count, const double* h, const double* l,
                                    const double* c) {
            ranges.resize(count + lanes::kPad);
            bands.resize(count);
            const double* r = ranges.data();
            lanes::close_ranges(h, l, c, count, ranges.data());
            // Locals through the loop, so the recursions stay in registers.
            UltimateSmoother centre = center_smoother_, range = range_smoother_;
            for (std::size_t k = 0; k < count; ++k) {
                const double s = range.next(r[k]);
                const double center = centre.next(c[k + 1]);
                const double d = s * num_strs_;
                bands[k] = UltimateChannelOutput{center + d, center, center - d};
            }
            center_smoother_ = centre;
            range_smoother_ = range;
            out.store(first, count, bands.data());
        }, high, low, close);
    }

private:
    double prev_close_ = 0.0;
    bool started_ = false;  // whether prev_close_ holds a close
    UltimateSmoother center_smoother_;
    UltimateSmoother range_smoother_;
    double num_strs_;
};

}  // namespace lumenfold::core
