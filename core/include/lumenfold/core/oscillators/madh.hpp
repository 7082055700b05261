// Hann moving-average difference: 100·(short - long)/long over two Hann
// filters of lengths short_length and short_length + dominant_cycle/2
// (integer half). Each filter passes its input through until its window is
// full, so bars 1 to short_length - 1 return 0; a long value within 1e-10 of
// 0 (or NaN) reads 0.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/filters/hann.hpp"

namespace lumenfold::core {

class MADH {
public:
    MADH(std::uint64_t short_length, std::uint64_t dominant_cycle)
        : short_hann_(short_length),
          long_hann_(short_length + dominant_cycle / 2),
          short_length_(short_length),
          dominant_cycle_(dominant_cycle) {}

    double next(double x) noexcept {
        const double h1 = short_hann_.next(x);
        const double h2 = long_hann_.next(x);
        return std::fabs(h2) > 1e-10 ? ((h1 - h2) * 100.0) / h2 : 0.0;
    }

    std::uint64_t short_length() const noexcept { return short_length_; }
    std::uint64_t dominant_cycle() const noexcept { return dominant_cycle_; }
    std::uint64_t long_length() const noexcept { return long_hann_.period(); }

private:
    HannFilter short_hann_;
    HannFilter long_hann_;
    std::uint64_t short_length_;
    std::uint64_t dominant_cycle_;
};

}  // namespace lumenfold::core
