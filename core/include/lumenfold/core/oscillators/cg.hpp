// Centre of gravity: minus the mean bar position (1 for the newest) of the
// last `period` prices weighted by the prices, recomputed from the window each
// bar. A partial window is used from bar 1 on (bar 1 gives -1 for a nonzero
// price); an empty window (period 0) or a weight sum of exactly 0 gives 0.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/filters/window_fir.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Centre of gravity of the bars whose windows are x[k .. k+p-1] (x holds
// count + p - 1 values): from the newest value on, num += xi * (i + 1) and
// den += xi for the value i bars back; out[k] = (-num) / den, or 0 where den
// is 0.
extern const Kernel<void(const double* x, std::size_t count, std::size_t period, double* out)> center_of_gravity_outputs;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class CenterOfGravity {
public:
    explicit CenterOfGravity(std::uint64_t period) : window_(period) {}

    double next(double x) noexcept {
        window_.push(x);
        const std::uint64_t n = window_.len();
        if (n == 0) return 0.0;
        double num = 0.0;
        double den = 0.0;
        for (std::uint64_t i = 0; i < n; ++i) {
            num = num + window_[i] * to_f64(i + 1);
            den = den + window_[i];
        }
        return den == 0.0 ? 0.0 : (-num) / den;
    }

    bool batch_ready() const noexcept { return window_.len() == 0; }

    // Batch form: the partial windows stepped, then the full windows read
    // from the series in SIMD lanes.
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        const std::size_t n = x.size();
        const std::size_t p = static_cast<std::size_t>(window_.length());
        const std::size_t first = p == 0 ? n : std::min(p - 1, n);
        for (std::size_t t = 0; t < first; ++t) out.put(t, next(x[t]));
        lanes::run_chunks(out, p - 1, first, [&](std::size_t count, double* r, const double* v) {
            lanes::center_of_gravity_outputs(v, count, p, r);
        }, x);
    }

private:
    FirWindow window_;  // newest first
};

}  // namespace lumenfold::core
