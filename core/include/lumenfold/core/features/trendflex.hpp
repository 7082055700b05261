// Trendflex features: the Trendflex oscillator of `length` (0 during its
// warm-up).
#pragma once

#include <cstdint>

#include "lumenfold/core/oscillators/trendflex.hpp"

namespace lumenfold::core {

struct TrendflexFeatures {
    double trendflex;
};

class TrendflexFeatureExtractor {
public:
    explicit TrendflexFeatureExtractor(std::uint64_t length) : trendflex_(length) {}

    TrendflexFeatures next(double x) noexcept { return {trendflex_.next(x)}; }

private:
    Trendflex trendflex_;
};

}  // namespace lumenfold::core
