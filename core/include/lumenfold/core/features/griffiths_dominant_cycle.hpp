// Griffiths dominant-cycle features: the dominant cycle period of the
// Griffiths adaptive filter, (lower + upper)/2 until its window first fills.
#pragma once

#include <cstdint>

#include "lumenfold/core/cycles/griffiths_dominant_cycle.hpp"

namespace lumenfold::core {

struct GriffithsDominantCycleFeatures {
    double dominant_cycle;
};

class GriffithsDominantCycleFeatureExtractor {
public:
    GriffithsDominantCycleFeatureExtractor(std::uint64_t lower, std::uint64_t upper, std::uint64_t length)
        : cycle_(lower, upper, length) {}

    GriffithsDominantCycleFeatures next(double x) { return {cycle_.next(x)}; }

private:
    GriffithsDominantCycle cycle_;
};

}  // namespace lumenfold::core
