// Open/close price RSI: Wilder's RSI (0 to 100) of each bar's mid price
// (close + open)·0.5, with the RSI's own warm-up: NaN for bars 1 to period,
// and NaN on every bar for periods 0 and 1.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "lumenfold/core/classic/rsi.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

class OCPriceRSI {
public:
    explicit OCPriceRSI(std::uint64_t period) noexcept : rsi_(period) {}

    double next(double close, double open) noexcept { return rsi_.next((close + open) * 0.5); }

    bool batch_ready() const noexcept { return rsi_.batch_ready(); }

    // Batch form: the RSI's own over the series of mid prices.
    template <class O, Series C, Series P>
    void batch(const O& out, const C& close, const P& open) {
        rsi_.batch(out, MidPrices<C, P>{close, open});
    }

    std::uint64_t period() const noexcept { return rsi_.period(); }

    // (close + open)·0.5 bar by bar, as a series; a map over other storage
    // may read the two series directly (map_bars).
    template <class C, class P>
    struct MidPrices {
        C close;
        P open;

        std::size_t size() const noexcept { return std::min<std::size_t>(close.size(), open.size()); }
        double operator[](std::size_t i) const noexcept { return (close[i] + open[i]) * 0.5; }
        void load(std::size_t from, std::size_t count, double* dst) const noexcept {
            close.load(from, count, dst);
            constexpr std::size_t kPiece = 256;
            double opens[kPiece];
            for (std::size_t at = 0; at < count; at += kPiece) {
                const std::size_t m = std::min(kPiece, count - at);
                open.load(from + at, m, opens);
                for (std::size_t j = 0; j < m; ++j) dst[at + j] = (dst[at + j] + opens[j]) * 0.5;
            }
        }
    };

private:
    Rsi rsi_;
};

}  // namespace lumenfold::core
