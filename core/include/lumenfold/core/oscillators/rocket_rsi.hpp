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

#include <cstdint>

#include "lumenfold/core/filters/super_smoother.hpp"
#include "lumenfold/core/framework/panic.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/oscillators/fisher.hpp"
#include "lumenfold/core/oscillators/up_down.hpp"

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
