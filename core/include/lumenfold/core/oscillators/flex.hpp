// The oscillator shape shared by Reflex and Trendflex: a super smoother of
// period floor(length/2) (passing bars 1 to 3 through), the last length + 1
// smoothed values newest first, and a measure (a sum of `length` distances of
// the newest value, divided by length) scored against its exponentially
// weighted root mean square. Bars 1 to length return 0, as does every bar
// whose mean square is 0 or NaN (length 0, or a NaN input for good).
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/filters/super_smoother.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

// Sum::of(window, length) gives the sum of the distances, window[i] being the
// smoothed value i bars back.
template <class Sum>
class FlexOscillator {
public:
    explicit FlexOscillator(std::uint64_t length) : window_(length + 1), ss_(length / 2), length_(length) {}

    double next(double x) noexcept {
        window_.push_front(ss_.next(x));
        if (window_.len() > length_ + 1) window_.pop_back();
        if (window_.len() <= length_) return 0.0;
        const double s = Sum::of(window_, length_) / to_f64(length_);
        ms_ = ms_ * 0.96 + s * (s * 0.04);
        return ms_ > 0.0 ? s / std::sqrt(ms_) : 0.0;
    }

    std::uint64_t length() const noexcept { return length_; }

private:
    RingBuffer window_;
    SuperSmoother ss_;
    std::uint64_t length_;
    double ms_ = 0.0;
};

}  // namespace lumenfold::core
