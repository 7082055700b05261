// ATR trailing stop: a stop at multiplier·ATR (the exponential ATR of `period`)
// from the close that only moves in the trade's favour (up while long, down
// while short) until the close crosses it strictly, which flips the direction
// (+1 long, -1 short) and restarts the stop on the other side of the close. The
// first bar starts long at close - multiplier·ATR, so there is no warm-up
// placeholder. A NaN candidate stop is ignored, so a NaN close neither flips
// nor moves the stop.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/framework/chunks.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

struct AtrTsOutput {
    double stop;
    std::int8_t direction;  // +1 long, -1 short
};

namespace lanes {

// The trailing stop's steps over bars 1 .. count of high, low and close
// (index 0 the bar before them) into out[0 .. count): the average true range
// tr·alpha + atr·(1 - alpha), then the stop and direction, from state = {atr,
// stop, 1 long / 0 short} of the bar before, left at the last bar's.
extern const Kernel<void(const double* high, const double* low, const double* close, std::size_t count, double alpha, double multiplier, double* state, AtrTsOutput* out)> trailing_stop_steps;

}  // namespace lanes

class ATRTrailingStop {
public:
    ATRTrailingStop(std::uint64_t period, double multiplier) : atr_(period), multiplier_(multiplier) {}

    AtrTsOutput next(double high, double low, double close) noexcept {
        const double offset = atr_.next(high, low, close) * multiplier_;
        if (!started_) {
            started_ = true;
            stop_ = close - offset;
            direction_ = 1;
        } else if (direction_ == 1) {
            if (close < stop_) {
                direction_ = -1;
                stop_ = close + offset;
            } else {
                stop_ = max_num(stop_, close - offset);
            }
        } else {
            if (close > stop_) {
                direction_ = 1;
                stop_ = close - offset;
            } else {
                stop_ = min_num(stop_, close + offset);
            }
        }
        return AtrTsOutput{stop_, direction_};
    }

    bool batch_ready() const noexcept { return !started_; }

    // Batch form: the first bar stepped, then chunk by chunk the true ranges
    // in SIMD lanes and the recursion with its flips and ratchets as blends
    // rather than branches.
    template <class O, Series S>
    void batch(const O& out, const S& high, const S& low, const S& close) {
        const std::size_t n = std::min({high.size(), low.size(), close.size()});
        if (n == 0) return;
        out.put(0, next(high[0], low[0], close[0]));
        double state[3] = {high[0] - low[0], stop_, direction_ == 1 ? 1.0 : 0.0};
        std::vector<AtrTsOutput> results;
        lanes::each_chunk(1, 1, [&](std::size_t first, std::size_t count, const double* h, const double* l,
                                    const double* c) {
            results.resize(count);
            lanes::trailing_stop_steps(h, l, c, count, atr_.alpha(), multiplier_, state, results.data());
            out.store(first, count, results.data());
        }, high, low, close);
    }

private:
    ATR atr_;
    double stop_ = 0.0;
    bool started_ = false;  // whether stop_ holds a stop
    double multiplier_;
    std::int8_t direction_ = 1;
};

}  // namespace lumenfold::core
