// Heikin-Ashi bars: the open is the midpoint of the previous Heikin-Ashi open
// and close ((open + close)/2 of the raw bar on the first bar), the close the
// mean of the raw open, high, low and close, and the high and low extend the
// raw ones to cover that open and close (NaN-ignoring max and min). A NaN
// input carries into every later open through the previous bar.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <vector>

#include "lumenfold/core/framework/chunks.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

struct HeikinAshiOutput {
    double open;
    double high;
    double low;
    double close;
};

namespace lanes {

// Heikin-Ashi bars of open, high, low and close [0 .. count) into out, from
// state = {open, close} of the Heikin-Ashi bar before, left at the last one's.
extern const Kernel<void(const double* open, const double* high, const double* low, const double* close, std::size_t count, double* state, HeikinAshiOutput* out)> heikin_ashi_bars;

// The Heikin-Ashi bars of a chunk, as a map (map_bars) that carries the last
// open and close from one chunk to the next.
struct HeikinAshiMap {
    double* state;
    void operator()(std::size_t count, HeikinAshiOutput* out, const double* open, const double* high,
                    const double* low, const double* close) const {
        heikin_ashi_bars(open, high, low, close, count, state, out);
    }
};

}  // namespace lanes

class HeikinAshi {
public:
    HeikinAshiOutput next(double open, double high, double low, double close) noexcept {
        const double ha_open = (prev_open_ && prev_close_) ? (*prev_open_ + *prev_close_) * 0.5 : (open + close) * 0.5;
        const double ha_close = (((open + high) + low) + close) * 0.25;
        prev_open_ = ha_open;
        prev_close_ = ha_close;
        const double ha_high = max_num(max_num(high, ha_open), ha_close);
        const double ha_low = min_num(min_num(low, ha_open), ha_close);
        return {ha_open, ha_high, ha_low, ha_close};
    }

    bool batch_ready() const noexcept { return !prev_open_; }

    // Batch form: the first bar stepped, then chunk by chunk the opens one
    // after the other and everything else in SIMD lanes.
    template <class O, Series S>
    void batch(const O& out, const S& open, const S& high, const S& low, const S& close) {
        const std::size_t n = std::min({open.size(), high.size(), low.size(), close.size()});
        if (n == 0) return;
        out.put(0, next(open[0], high[0], low[0], close[0]));
        double state[2] = {*prev_open_, *prev_close_};
        lanes::map_bars<HeikinAshiOutput>(out, 0, 1, lanes::HeikinAshiMap{state}, open, high, low, close);
    }

private:
    std::optional<double> prev_open_;
    std::optional<double> prev_close_;
};

}  // namespace lumenfold::core
