// Batch computation over plain arrays:
//
//     std::vector<double> ema = lumenfold::core::batch(EMA(10), close);
//     auto macd = lumenfold::core::batch(MACD(12, 26, 9), close);  // std::vector<MACDOutput>
//     auto atr = lumenfold::core::batch(ATR(14), high, low, close);
//
// runs the indicator, as given, over whole series: one contiguous range per
// `next` input, in `next`'s order, paired element by element up to the
// shortest. The result holds what `next` returns for each bar, bit for bit
// what stepping gives (which NaN propagates aside). Indicators with a batch
// form compute it over the whole series at once, bars side by side where they
// do not depend on earlier outputs; the others are stepped.
#pragma once

#include <algorithm>
#include <cstddef>
#include <ranges>
#include <span>
#include <type_traits>
#include <vector>

#include "lumenfold/core/framework/traits.hpp"

namespace lumenfold::core {

template <class Indicator, std::ranges::contiguous_range... Inputs>
    requires(sizeof...(Inputs) > 0 && (std::ranges::sized_range<Inputs> && ...))
auto batch(Indicator indicator, const Inputs&... inputs) {
    using Out = NextOutput<Indicator, std::ranges::range_value_t<Inputs>...>;
    const std::size_t n = std::min({static_cast<std::size_t>(std::ranges::size(inputs))...});
    std::vector<Out> out(n);
    constexpr bool kDoubles = (std::is_same_v<std::ranges::range_value_t<Inputs>, double> && ...);
    if constexpr (kDoubles && BatchForm<Indicator, std::ranges::range_value_t<Inputs>...>) {
        if constexpr (FixedRows<Indicator>) {
            indicator.batch(PlainRows(out.data()), PlainSeries(std::span<const double>(std::ranges::data(inputs), n))...);
            return out;
        } else if constexpr (std::is_same_v<BatchOutput<Indicator, std::ranges::range_value_t<Inputs>...>, Out>) {
            indicator.batch(PlainOutputs<Out>(out.data()),
                            PlainSeries(std::span<const double>(std::ranges::data(inputs), n))...);
            return out;
        }
    }
    for (std::size_t i = 0; i < n; ++i) out[i] = indicator.next(std::ranges::data(inputs)[i]...);
    return out;
}

}  // namespace lumenfold::core
