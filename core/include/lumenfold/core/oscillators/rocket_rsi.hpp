// Rocket RSI: the momentum of the close over rsi_length - 1 bars, smoothed by
// a super smoother of smooth_length, normalised into [-1, 1] by MyRSI over
// rsi_length changes, then stretched by the Fisher transform (±3.8).
//
// Bars 1 to rsi_length - 1 return 0 while the close window fills; MyRSI adds
// another rsi_length zeros, so bar 2·rsi_length is the first computed output.
// The smoother passes its first three momentum values through. rsi_length 0
// leaves no close to take the momentum from: the step fails with
// "index out of bounds".
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/filters/super_smoother.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/panic.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"
#include "lumenfold/core/oscillators/fisher.hpp"
#include "lumenfold/core/oscillators/up_down.hpp"

namespace lumenfold::core::lanes {

// The Fisher transform's ratio of MyRSI for the windows x[k .. k+c] (c
// changes, x holds count + c values, the newest last): change i = 1..c is
// x[k+c-i+1] - x[k+c-i], its size added to the up sum when positive, to the
// down sum when negative (+0 otherwise), both from +0; v = (up - down) /
// (down + up), 0 when that sum is 0; v clamped into [-0.999, 0.999] (NaN
// kept); out[k] = (v + 1) / (1 - v).
extern const Kernel<void(const double* x, std::size_t count, std::size_t changes, double* out)> my_rsi_fisher_ratios;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

// (up - down)/(up + down) over the last `length` changes of its input, 0
// until it holds length + 1 inputs and when the sum is exactly 0.
class MyRSI {
public:
    explicit MyRSI(std::uint64_t length) : window_(length + 1), length_(length) {}

    double next(double v) noexcept {
        window_.push_front(v);
        if (window_.len() > length_ + 1) window_.pop_back();
        if (window_.len() < length_ + 1) return 0.0;
        const UpDown m = up_down_moves(window_, length_, UnitWeight{});
        const double sum = m.down + m.up;
        if (sum == 0.0) return 0.0;
        return (m.up - m.down) / sum;
    }

private:
    RingBuffer window_;  // newest first
    std::uint64_t length_;
};

class RocketRSI {
public:
    RocketRSI(std::uint64_t rsi_length, std::uint64_t smooth_length)
        : window_(rsi_length),
          my_rsi_(rsi_length),
          ss_(smooth_length),
          rsi_length_(rsi_length),
          smooth_length_(smooth_length) {}

    double next(double x) {
        window_.push(x);
        if (window_.len() > rsi_length_) window_.pop();
        if (window_.len() < rsi_length_) return 0.0;
        if (window_.empty()) throw Panic("index out of bounds");
        // The oldest close held: rsi_length - 1 bars back.
        const double mom = x - window_[0];
        return fisher_transform(my_rsi_.next(ss_.next(mom)));
    }

    bool batch_ready() const noexcept { return window_.empty(); }

    // Batch form: the momenta and the smoother bar by bar, chunk by chunk;
    // MyRSI and the clamps of the transform in SIMD lanes over the smoothed
    // values; the logarithm bar by bar.
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        const std::size_t n = x.size();
        const std::size_t c = static_cast<std::size_t>(rsi_length_);
        if (c == 0) {
            // No close to take the momentum from: the first step fails.
            for (std::size_t i = 0; i < n; ++i) out.put(i, next(x[i]));
            return;
        }
        const std::size_t lead = std::min(c - 1, n);
        for (std::size_t i = 0; i < lead; ++i) out.put(i, next(x[i]));
        if (lead == n) return;
        SuperSmoother ss = ss_;
        // The last c smoothed values before the chunk, then the chunk's own.
        std::vector<double> smooth(c), ratios;
        std::size_t smoothed = 0;
        lanes::each_chunk(c - 1, c - 1, [&](std::size_t first, std::size_t count, const double* v) {
            smooth.resize(c + count + lanes::kPad);
            ratios.resize(count + lanes::kPad);
            double* const sm = smooth.data() + c;
            for (std::size_t k = 0; k < count; ++k) sm[k] = ss.next(v[k + c - 1] - v[k]);
            lanes::my_rsi_fisher_ratios(smooth.data(), count, c, ratios.data());
            // MyRSI gives 0, and the transform +0, until it holds c + 1 values.
            const std::size_t filling = smoothed < c ? std::min(c - smoothed, count) : 0;
            for (std::size_t k = 0; k < filling; ++k) out.put(first + k, 0.0);
            for (std::size_t k = filling; k < count; ++k) out.put(first + k, std::log(ratios[k]) * 0.5);
            smoothed += count;
            std::copy(sm + count - c, sm + count, smooth.begin());
        }, x);
    }

    std::uint64_t rsi_length() const noexcept { return rsi_length_; }
    std::uint64_t smooth_length() const noexcept { return smooth_length_; }

private:
    RingBuffer window_;  // the last rsi_length closes, oldest first
    MyRSI my_rsi_;
    SuperSmoother ss_;
    std::uint64_t rsi_length_;
    std::uint64_t smooth_length_;
};

}  // namespace lumenfold::core
