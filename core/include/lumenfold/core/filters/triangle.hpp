// Triangle-window FIR smoother over the last N = `length` inputs: weights rise
// 1, 2, ... to N/2 and fall back to 1 (k below N/2: k; k = N/2: N/2; above:
// N + 1 - k). The first N - 1 outputs are the inputs; a weight sum within 1e-10
// of zero returns the input.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "lumenfold/core/framework/allocation.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/filters/window_fir.hpp"

namespace lumenfold::core {

class TriangleFilter : public WeightedFir<ZeroSum::NearZero> {
public:
    explicit TriangleFilter(std::uint64_t length) : WeightedFir(length, weights) {}

    static std::vector<double> weights(std::uint64_t n) {
        std::vector<double> w;
        reserve(w, n);
        const double nf = to_f64(n);
        const double h = nf / 2.0;
        for (std::uint64_t i = 0; i < n; ++i) {
            const double kf = to_f64(i + 1);
            w.push_back(kf < h ? kf : kf == h ? h : (nf + 1.0) - kf);
        }
        return w;
    }

};

}  // namespace lumenfold::core
