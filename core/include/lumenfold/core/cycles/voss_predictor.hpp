// Voss predictor: a band-pass of bandwidth 0.25 around `period` (the filt
// field) followed by a Voss predictive filter of order 3·predict over the
// band-passed wave (the voss field):
//   voss = ((order + 3)/2)·filt - sum_j (j/order)·voss[order - j],
// the term j = order weighing the previous output and j = 1 the oldest one
// kept. No placeholder: the band-pass starts from zero history and missing Voss
// outputs count as 0. Period 0 gives NaN from bar 1.
#pragma once

#include <cstdint>

#include "lumenfold/core/filters/bandpass.hpp"
#include "lumenfold/core/filters/window_fir.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

struct VossPredictorOutput {
    double filt;
    double voss;
};

class VossPredictor {
public:
    VossPredictor(std::uint64_t period, std::uint64_t predict)
        : order_(predict * 3),
          history_(window_size(order_, 1, 1)),
          band_(period, 0.25),
          gain_((to_f64(order_) + 3.0) * 0.5) {}

    VossPredictorOutput next(double x) noexcept {
        const double filt = band_.next(x);
        // Terms for outputs not yet seen are (j/order)·0 = +0 and leave the
        // sum (which starts at +0) unchanged, so only the held ones are added,
        // oldest first.
        double sum = 0.0;
        const double order = to_f64(order_);
        for (std::uint64_t p = history_.len(); p-- > 0;) {
            sum = sum + (to_f64(order_ - p) / order) * history_[p];
        }
        const double voss = gain_ * filt - sum;
        history_.push_front(voss);
        if (history_.len() > order_) history_.pop_back();
        return {filt, voss};
    }

    std::uint64_t order() const noexcept { return order_; }

private:
    std::uint64_t order_;
    RingBuffer history_;  // the last `order` outputs, newest at the front
    BandPass band_;
    double gain_;
};

}  // namespace lumenfold::core
