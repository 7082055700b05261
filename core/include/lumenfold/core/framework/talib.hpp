// Averages with the reference warm-up: NaN until `period` inputs have been
// seen. TalibEma seeds with the simple mean of the first `period` inputs and
// then steps with one fused multiply-add; TalibSma is a windowed mean.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

class TalibEma {
public:
    explicit TalibEma(std::uint64_t period)
        : period_(period),
          k_(2.0 / (to_f64(period) + 1.0)),
          lookback_(period == 0 ? 0 : period - 1) {}

    // A NaN input (or period 0) yields NaN and leaves the state untouched.
    double next(double x) noexcept {
        if (std::isnan(x) || period_ == 0) return kNaN;
        const std::uint64_t c = count_++;
        if (c < lookback_) {
            seed_sum_ = seed_sum_ + x;
            return kNaN;
        }
        if (c == lookback_) {
            seed_sum_ = x + seed_sum_;
            value_ = seed_sum_ / to_f64(period_);
        } else {
            value_ = std::fma(k_, x - value_, value_);
        }
        return value_;
    }

    std::uint64_t period() const noexcept { return period_; }
    std::uint64_t lookback() const noexcept { return lookback_; }
    double value() const noexcept { return value_; }

private:
    std::uint64_t period_;
    double k_;
    std::uint64_t lookback_;
    std::uint64_t count_ = 0;
    double seed_sum_ = 0.0;
    double value_ = kNaN;
};

class TalibSma {
public:
    explicit TalibSma(std::uint64_t period) : window_(period), period_(period) {}

    double next(double x) noexcept {
        if (period_ == 0) return kNaN;
        // Pop before push: the window never holds more than `period` values.
        if (window_.len() >= period_) sum_ = sum_ - window_.pop();
        window_.push(x);
        sum_ = x + sum_;
        if (window_.len() < period_) return kNaN;
        return sum_ / to_f64(period_);
    }

private:
    RingBuffer window_;
    std::uint64_t period_;
    double sum_ = 0.0;
};

}  // namespace lumenfold::core
