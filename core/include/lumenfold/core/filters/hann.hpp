// Hann-window FIR smoother over the last N = `period` inputs, weights
// 1 - cos(2pi·k/(N + 1)) for k = 1..N (newest first), divided by their sum. The
// first N - 1 outputs are the inputs themselves; period 0 (or a zero weight
// sum) returns every input.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "lumenfold/core/framework/allocation.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/filters/window_fir.hpp"

namespace lumenfold::core {

// The Hann weights for a window of n, in storage order k = 1..n.
inline std::vector<double> hann_weights(std::uint64_t n) {
    std::vector<double> w;
    reserve(w, n);
    const double denom = to_f64(n) + 1.0;
    for (std::uint64_t i = 0; i < n; ++i) {
        w.push_back(1.0 - std::cos((to_f64(i + 1) * kTwoPi) / denom));
    }
    return w;
}

class HannFilter : public WeightedFir<ZeroSum::Exact> {
public:
    explicit HannFilter(std::uint64_t period) : WeightedFir(period, hann_weights) {}

    std::uint64_t period() const noexcept { return length(); }
};

}  // namespace lumenfold::core
