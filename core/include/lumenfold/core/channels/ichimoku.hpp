// Ichimoku cloud without displacement: the conversion line (tenkan), the base
// line (kijun) and the second leading span (senkou_b) are Donchian midpoints
// over their own periods, the first leading span is (tenkan + kijun)·0.5. The
// spans are reported on the bar that computes them (no forward shift, no
// lagging line). Partial windows from the first bar: bar 1 gives
// (high + low)·0.5 on all four lines. A period of 0 makes its line 0.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/channels/donchian.hpp"
#include "lumenfold/core/framework/lanes.hpp"
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

    bool batch_ready() const noexcept { return conversion_.batch_ready() && base_.batch_ready() && span_.batch_ready(); }

    // Batch form: the bars before the widest window folded in lanes
    // stepped, then chunk by chunk each line from its channel's bands and the
    // first leading span from the two lines before it.
    template <class O, Series S>
    void batch(const O& out, const S& high, const S& low) {
        const std::size_t n = std::min(high.size(), low.size());
        bool folds = false;
        std::size_t reach = 0;
        for (const DonchianChannels* c : {&conversion_, &base_, &span_}) {
            if (!c->folds()) continue;
            folds = true;
            reach = std::max(reach, static_cast<std::size_t>(c->period()) - 1);
        }
        const std::size_t history = folds ? reach : n;
        const std::size_t warm = std::min(history, n);
        for (std::size_t t = 0; t < warm; ++t) out.put(t, next(high[t], low[t]));
        std::vector<double> upper, lower, tenkan, kijun, senkou_b;
        std::vector<IchimokuOutput> lines;
        lanes::each_chunk(history, warm, [&](std::size_t first, std::size_t count, const double* h, const double* l) {
            for (auto* v : {&upper, &lower, &tenkan, &kijun, &senkou_b}) v->resize(count + lanes::kPad);
            lines.resize(count);
            const auto middles = [&](DonchianChannels& channel, std::vector<double>& middle) {
                channel.chunk(history, count, h, l, upper.data(), lower.data());
                for (std::size_t k = 0; k < count; ++k) middle[k] = (upper[k] + lower[k]) * 0.5;
            };
            middles(conversion_, tenkan);
            middles(base_, kijun);
            middles(span_, senkou_b);
            for (std::size_t k = 0; k < count; ++k)
                lines[k] = IchimokuOutput{tenkan[k], kijun[k], (tenkan[k] + kijun[k]) * 0.5, senkou_b[k]};
            out.store(first, count, lines.data());
        }, high, low);
    }

private:
    DonchianChannels conversion_;
    DonchianChannels base_;
    DonchianChannels span_;
};

}  // namespace lumenfold::core
