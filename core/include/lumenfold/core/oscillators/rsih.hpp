// RSIH: a normalised RSI in [-1, 1] over the last `length` changes, each
// weighted by the Hann window (the newest change by the first weight), as
// (up - down)/(up + down). Bars 1 to length return 0, as does a sum of moves
// within 1e-10 of 0 (length 0, a flat window, NaN changes only).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/filters/hann.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"
#include "lumenfold/core/oscillators/up_down.hpp"

namespace lumenfold::core::lanes {

// Normalised RSI of the bars whose windows are x[k .. k+c] (c changes, x
// holds count + c values): change i = 1..c is x[k+c-i+1] - x[k+c-i], its
// size |change| * weights[i-1] added to the up sum when the change is
// positive, to the down sum when negative (+0 otherwise), both from +0;
// (up - down) / (down + up) when that sum exceeds 1e-10 in magnitude, else 0.
extern const Kernel<void(const double* x, std::size_t count, std::size_t changes, const double* weights, double* out)> weighted_rsi_outputs;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class RSIH {
public:
    // The window comes first: a length too large to hold fails there.
    explicit RSIH(std::uint64_t length) : window_(length + 1), weights_(hann_weights(length)), length_(length) {}

    double next(double x) noexcept {
        window_.push_front(x);
        if (window_.len() > length_ + 1) window_.pop_back();
        if (window_.len() < length_ + 1) return 0.0;
        const UpDown m = up_down_moves(window_, length_, HannWeight{weights_});
        const double sum = m.down + m.up;
        return std::fabs(sum) > 1e-10 ? (m.up - m.down) / sum : 0.0;
    }

    bool batch_ready() const noexcept { return window_.empty(); }

    // Batch form: 0 until the window is full, then each bar's weighted moves
    // read from the series in SIMD lanes.
    template <class O, Series S>
    void batch(const O& out, const S& x) const {
        const std::size_t n = x.size();
        const std::size_t c = static_cast<std::size_t>(length_);
        const std::size_t first = std::min(c, n);
        for (std::size_t t = 0; t < first; ++t) out.put(t, 0.0);
        lanes::run_chunks(out, c, first, [&](std::size_t count, double* r, const double* v) {
            lanes::weighted_rsi_outputs(v, count, c, weights_.data(), r);
        }, x);
    }

    std::uint64_t length() const noexcept { return length_; }

private:
    struct HannWeight {
        const std::vector<double>& w;
        double times(double d, std::uint64_t i) const noexcept { return d * w[i - 1]; }
    };

    RingBuffer window_;  // the last length + 1 inputs, newest first
    std::vector<double> weights_;
    std::uint64_t length_;
};

}  // namespace lumenfold::core
