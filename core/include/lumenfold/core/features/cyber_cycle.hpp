// Cyber-cycle features: the cyber cycle of `length` and its trigger (the
// previous bar's cycle), the cycle's change since the previous bar
// (cycle_momentum; 0 while the previous cycle is exactly 0, so always on bar 1)
// and the sign of that change as +1/-1 (trigger_signal; a zero change counts as
// +1, -0 as -1, NaN stays NaN). No warm-up placeholder beyond the cyber cycle's
// own (bars 1 to 6 give the price difference).
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/cycles/cyber_cycle.hpp"
#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

struct CyberCycleFeatures {
    double cycle;
    double trigger;
    double cycle_momentum;
    double trigger_signal;
};

class CyberCycleFeatureExtractor {
public:
    explicit CyberCycleFeatureExtractor(std::uint64_t length) noexcept : cycle_(length) {}

    CyberCycleFeatures next(double x) noexcept {
        const CyberCycleOutput c = cycle_.next(x);
        // The trigger is the previous bar's cycle.
        const double change = c.value - c.trigger;
        const double momentum = c.trigger == 0.0 ? 0.0 : change;
        const double signal = std::isnan(change) ? kNaN : std::copysign(1.0, change);
        return {c.value, c.trigger, momentum, signal};
    }

private:
    CyberCycle cycle_;
};

}  // namespace lumenfold::core
