// The true ranges of a run of bars in SIMD lanes, for the batch forms of the
// range-based channels: which of its terms wins changes unpredictably from
// bar to bar on market data, which lanes do not mind.
#pragma once

#include <cstddef>

#include "lumenfold/core/framework/kernel.hpp"

namespace lumenfold::core::lanes {

// out[k] = true_range(high[k + 1], low[k + 1], close[k]) for k < count
// (classic/atr.hpp); out is padded.
extern const Kernel<void(const double* high, const double* low, const double* close, std::size_t count, double* out)> true_ranges;

}  // namespace lumenfold::core::lanes
