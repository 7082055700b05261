// Fisher high-pass: the two-pole high-pass (period hp_len) of the input,
// normalised to [-1, 1] by the lowest and highest high-pass value of the last
// norm_len bars, averaged over three bars and passed through the Fisher
// transform.
//
// The high-pass gives 0 on bars 1 to 3 (its inputs still enter the history).
// Bars 1 to norm_len - 1 return 0 while the window fills; the three-bar mean
// starts from zeros at the first full window. A flat window normalises to 0;
// norm_len 0 leaves the window empty and every output NaN.
#pragma once

#include <cstdint>

#include "lumenfold/core/channels/window_extreme.hpp"
#include "lumenfold/core/filters/high_pass.hpp"
#include "lumenfold/core/oscillators/fisher.hpp"

namespace lumenfold::core {

class FisherHighPass {
public:
    FisherHighPass(std::uint64_t hp_len, std::uint64_t norm_len)
        : highest_(norm_len), lowest_(norm_len), hp_(hp_len), norm_len_(norm_len) {}

    double next(double x) noexcept {
        const double hp = hp_.next(x);
        const double max = highest_.next(hp);
        const double min = lowest_.next(hp);
        if (held_ < norm_len_) ++held_;
        if (held_ < norm_len_) return 0.0;
        // The extremes start at -+1.7976931348623157e308, so an empty window
        // (norm_len 0) divides an infinite span into NaN.
        double n = 0.0;
        if (held_ == 0 || max != min) n = ((hp - min) + (hp - min)) / (max - min) + -1.0;
        const double s = ((n + norm1_) + norm2_) / 3.0;
        norm2_ = norm1_;
        norm1_ = n;
        return fisher_transform(s);
    }

private:
    WindowHighest highest_;  // of the last norm_len high-pass values
    WindowLowest lowest_;
    HighPass hp_;
    std::uint64_t norm_len_;
    std::uint64_t held_ = 0;  // high-pass values in the window, up to norm_len
    double norm1_ = 0.0;
    double norm2_ = 0.0;
};

}  // namespace lumenfold::core
