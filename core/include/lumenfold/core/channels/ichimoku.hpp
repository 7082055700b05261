// Ichimoku cloud without displacement: the conversion line (tenkan), the base
// line (kijun) and the second leading span (senkou_b) are Donchian midpoints
// over their own periods, the first leading span is (tenkan + kijun)·0.5. The
// spans are reported on the bar that computes them (no forward shift, no
// lagging line). Partial windows from the first bar: bar 1 gives
// (high + low)·0.5 on all four lines. A period of 0 makes its line 0.
#pragma once

#include <cstdint>

#include "lumenfold/core/channels/donchian.hpp"

namespace lumenfold::core {

struct IchimokuOutput {
    double tenkan;
    double kijun;
    double senkou_a;
    double senkou_b;
};

class IchimokuCloud {
public:
    IchimokuCloud(std::uint64_t tenkan, std::uint64_t kijun, std::uint64_t senkou_b)
        : conversion_(tenkan), base_(kijun), span_(senkou_b) {}

    IchimokuOutput next(double high, double low) noexcept {
        const double tenkan = conversion_.next(high, low).middle;
        const double kijun = base_.next(high, low).middle;
        const double senkou_b = span_.next(high, low).middle;
        return IchimokuOutput{tenkan, kijun, (tenkan + kijun) * 0.5, senkou_b};
    }

private:
    DonchianChannels conversion_;
    DonchianChannels base_;
    DonchianChannels span_;
};

}  // namespace lumenfold::core
