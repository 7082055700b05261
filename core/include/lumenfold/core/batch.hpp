// Batch computation over plain arrays:
//
//     std::vector<double> ema = lumenfold::core::batch(EMA(10), close);
//     auto macd = lumenfold::core::batch(MACD(12, 26, 9), close);  // std::vector<MACDOutput>
//     auto atr = lumenfold::core::batch(ATR(14), high, low, close);
//
// runs the indicator, as given, over whole series: one contiguous range per
// `next` input, in `next`'s order, paired element by element up to the
// shortest. The result holds what `next` returns for each bar, bit for bit
// what stepping the indicator on from its present state gives (which NaN
// propagates aside); the indicator is taken by value, so the caller's object
// does not move. Indicators with a batch form compute it over the whole series
// at once, bars side by side where they do not depend on earlier outputs,
// whenever that form can start from the state given (for most, one not
// stepped yet); the others are stepped. A failure to allocate the outputs or
// the work of a batch form is a Panic ("capacity overflow", "memory allocation
// failed").
#pragma once

#include <algorithm>
#include <cstddef>
#include <ranges>
#include <span>
#include <type_traits>
#include <vector>

#include "lumenfold/core/framework/allocation.hpp"
#include "lumenfold/core/framework/traits.hpp"

namespace lumenfold::core {

template <class Indicator, std::ranges::contiguous_range... Inputs>
    requires(sizeof...(Inputs) > 0 && (std::ranges::sized_range<Inputs> && ...))
auto batch(Indicator indicator, const Inputs&... inputs) {
    using Out = NextOutput<Indicator, std::ranges::range_value_t<Inputs>...>;
    const std::size_t n = std::min({static_cast<std::size_t>(std::ranges::size(inputs))...});
    return allocating([&] {
        std::vector<Out> out;
        constexpr bool kDoubles = (std::is_same_v<std::ranges::range_value_t<Inputs>, double> && ...);
        if constexpr (kDoubles && BatchForm<Indicator, std::ranges::range_value_t<Inputs>...>) {
            constexpr bool kRows = FixedRows<Indicator>;
            if constexpr (kRows || std::is_same_v<BatchOutput<Indicator, std::ranges::range_value_t<Inputs>...>, Out>) {
                if (indicator.batch_ready()) {
                    out.resize(n);
                    if constexpr (kRows) {
                        indicator.batch(PlainRows(out.data()),
                                        PlainSeries(std::span<const double>(std::ranges::data(inputs), n))...);
                    } else {
                        indicator.batch(PlainOutputs<Out>(out.data()),
                                        PlainSeries(std::span<const double>(std::ranges::data(inputs), n))...);
                    }
                    return out;
                }
            }
        }
        // Stepping: outputs need not be default-constructible.
        out.reserve(n);
        for (std::size_t i = 0; i < n; ++i) out.push_back(indicator.next(std::ranges::data(inputs)[i]...));
        return out;
    });
}

}  // namespace lumenfold::core
