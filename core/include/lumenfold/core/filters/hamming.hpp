// Hamming-window FIR smoother over the last N = `period` inputs with a pedestal
// in degrees: weight k (k = 0..N-1, newest first) is
//  sin(((pedestal + (((180 - 2·pedestal)·k)/D))·pi)/180), D = max(N - 1, 1).
// The first N - 1 outputs are the inputs; a weight sum within 1e-10 of zero (or
// NaN) returns the input.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "lumenfold/core/framework/allocation.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/filters/window_fir.hpp"

namespace lumenfold::core {

class HammingFilter : public WeightedFir<ZeroSum::NearZero> {
public:
    HammingFilter(std::uint64_t period, double pedestal)
        : WeightedFir(period, [pedestal](std::uint64_t n) { return weights(n, pedestal); }), pedestal_(pedestal) {}

    static std::vector<double> weights(std::uint64_t n, double pedestal) {
        std::vector<double> w;
        reserve(w, n);
        const double d = max_num(to_f64(n) - 1.0, 1.0);
        const double span = 180.0 - (pedestal + pedestal);
        for (std::uint64_t k = 0; k < n; ++k) {
            w.push_back(std::sin(((pedestal + ((span * to_f64(k)) / d)) * kPi) / 180.0));
        }
        return w;
    }

    std::uint64_t period() const noexcept { return length(); }
    double pedestal() const noexcept { return pedestal_; }

private:
    double pedestal_;
};

}  // namespace lumenfold::core
