// Highest or lowest value of the last `period` inputs, as a walk over the
// window from its oldest value finds it: starting from -1.7976931348623157e308
// (highest) or +1.7976931348623157e308 (lowest) and replacing the running
// value only by a strictly greater (smaller) one. So a NaN never becomes the
// extreme, among equal values (+0 and -0 included) the oldest stands, and a
// window without any such value answers the starting value.
//
// The extreme is kept with its bar number: a new value replaces it only when
// strictly better, and the window is walked again only when the extreme's bar
// leaves it.
#pragma once

#include <cstdint>

#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

template <bool kHighest>
class WindowExtreme {
public:
    static constexpr double kStart = kHighest ? -kMaxF64 : kMaxF64;

    explicit WindowExtreme(std::uint64_t period) : window_(period), period_(period) {}

    // Pushes x, drops the oldest value beyond `period` and returns the extreme.
    double next(double x) noexcept {
        window_.push(x);
        if (window_.len() > period_) window_.pop();
        const std::uint64_t bar = bars_++;
        const std::uint64_t n = window_.len();
        // The window holds bars first .. bar (none when n is 0).
        const std::uint64_t first = bar + 1 - n;
        if (held_ && at_ < first) {
            rescan(first);
        } else {
            // Selects rather than branches: the comparison is unpredictable.
            const bool b = n > 0 && better(x, extreme_);
            extreme_ = b ? x : extreme_;
            at_ = b ? bar : at_;
            held_ = held_ || b;
        }
        return extreme_;
    }

    std::uint64_t period() const noexcept { return period_; }
    // Values seen.
    std::uint64_t bars() const noexcept { return bars_; }

private:
    static bool better(double v, double extreme) noexcept {
        if constexpr (kHighest) {
            return v > extreme;
        } else {
            return v < extreme;
        }
    }

    void rescan(std::uint64_t first) noexcept {
        const std::uint64_t n = window_.len();
        double e = kStart;
        std::uint64_t at = 0;
        for (std::uint64_t i = 0; i < n; ++i) {
            const double v = window_[i];
            const bool b = better(v, e);
            e = b ? v : e;
            at = b ? i : at;
        }
        extreme_ = e;
        at_ = first + at;
        held_ = better(e, kStart);
    }

    RingBuffer window_;  // the last `period` values, oldest at the front
    std::uint64_t period_;
    std::uint64_t bars_ = 0;  // values seen
    double extreme_ = kStart;
    std::uint64_t at_ = 0;  // bar of the extreme, when held_
    bool held_ = false;     // whether a window value beat the starting value
};

using WindowHighest = WindowExtreme<true>;
using WindowLowest = WindowExtreme<false>;

}  // namespace lumenfold::core
