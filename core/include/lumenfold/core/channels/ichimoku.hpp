// Ichimoku cloud without displacement: the conversion line (tenkan), the base
// line (kijun) and the second leading span (senkou_b) are Donchian midpoints
// over their own periods, the first leading span is (tenkan + kijun)·0.5. The
// spans are reported on the bar that computes them (no forward shift, no
// lagging line). Partial windows from the first bar: bar 1 gives
// (high + low)·0.5 on all four lines. A period of 0 makes its line 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lumenfold/core/channels/donchian.hpp"
#include "lumenfold/core/framework/series.hpp"

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

    // Batch form: each line from its channel's batch pass, the first leading
    // span from the two lines already written.
    void batch(BigEndianOut out, BigEndianSeries high, BigEndianSeries low) {
        const std::size_t n = high.size();
        conversion_.each(high, low, [&](std::size_t t, const BandOutput& b) { out.put(4 * t, b.middle); });
        base_.each(high, low, [&](std::size_t t, const BandOutput& b) { out.put(4 * t + 1, b.middle); });
        span_.each(high, low, [&](std::size_t t, const BandOutput& b) { out.put(4 * t + 3, b.middle); });
        const BigEndianSeries lines(out.bytes(), 4 * n);
        for (std::size_t t = 0; t < n; ++t) out.put(4 * t + 2, (lines[4 * t] + lines[4 * t + 1]) * 0.5);
    }

private:
    DonchianChannels conversion_;
    DonchianChannels base_;
    DonchianChannels span_;
};

}  // namespace lumenfold::core
