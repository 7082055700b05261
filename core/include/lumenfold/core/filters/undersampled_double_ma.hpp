// Undersampled double moving average: a sample-and-hold keeps the input of
// bar 1 and of every bar whose number (counted from 1) is a multiple of
// samp_per, and repeats it in between (samp_per 0 holds the first input for
// good); a fast and a slow Hann filter run on the held series every bar.
#pragma once

#include <cstdint>

#include "lumenfold/core/filters/hann.hpp"

namespace lumenfold::core {

struct UdmaOutput {
    double fast;
    double slow;
};

class UndersampledDoubleMA {
public:
    UndersampledDoubleMA(std::uint64_t fast_len, std::uint64_t slow_len, std::uint64_t samp_per)
        : fast_(fast_len), slow_(slow_len), samp_per_(samp_per) {}

    UdmaOutput next(double x) noexcept {
        const std::uint64_t n = ++bars_;
        if (n == 1 || (samp_per_ != 0 && n % samp_per_ == 0)) held_ = x;
        const double fast = fast_.next(held_);
        const double slow = slow_.next(held_);
        return {fast, slow};
    }

    // The sample currently held.
    double held() const noexcept { return held_; }

private:
    HannFilter fast_;
    HannFilter slow_;
    double held_ = 0.0;
    std::uint64_t samp_per_;
    std::uint64_t bars_ = 0;
};

}  // namespace lumenfold::core
