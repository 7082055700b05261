// SuperTrend, ATR trailing stop, Keltner channel, TTM squeeze and the
// ultimate bands and channel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "lumenfold/core/channels/atr_ts.hpp"
#include "lumenfold/core/channels/keltner.hpp"
#include "lumenfold/core/channels/supertrend.hpp"
#include "lumenfold/core/channels/ttm_squeeze.hpp"
#include "lumenfold/core/channels/ultimate_bands.hpp"
#include "lumenfold/core/channels/ultimate_channel.hpp"
#include "lumenfold/core/filters/ultimate_smoother.hpp"
#include "channels_support.hpp"

using namespace lumenfold::core;
using namespace channels_support;

// ---- SuperTrend ----

TEST(SuperTrend, FirstBar) {
    const SuperTrendOutput o = SuperTrend(10, 3.0).next(11, 9, 10);
    EXPECT_EQ(o.value, 4.0);  // atr 2, bands 16 and 4
    EXPECT_EQ(o.direction, 1);
    // A close below a narrow first lower band flips at once to the upper band.
    const SuperTrendOutput flip = SuperTrend(10, 0.25).next(11, 9, 9);
    EXPECT_EQ(flip.value, 10.5);
    EXPECT_EQ(flip.direction, -1);
}

TEST(SuperTrend, BandsRatchetAndDirectionFlipsBarByBar) {
    // Period 1: the range average is each bar's true range.
    const std::vector<Bar> bars = {{11, 9, 10},     {12, 10, 11},  {11.5, 10.5, 11}, {13, 9, 10.5},
                                   {10.5, 9.5, 9.9}, {10, 9, 9.5}, {11, 10, 10.5},   {12, 10.6, 11}};
    const auto out = run_hlc(SuperTrend(1, 1.0), bars);
    const double values[] = {8, 9, 10, 10, 11, 10.5, 10.5, (12.0 + 10.6) * 0.5 - 1.5};
    const int directions[] = {1, 1, 1, 1, -1, -1, -1, 1};
    for (std::size_t i = 0; i < bars.size(); ++i) {
        EXPECT_EQ(out[i].value, values[i]) << "bar " << i + 1;
        EXPECT_EQ(out[i].direction, directions[i]) << "bar " << i + 1;
    }
    // Bar 2: the rising basic lower band lifts the final one; bar 4: a falling
    // one leaves it; bar 5 flips short as the close falls below 10; bar 6: the
    // previous close below the lower band resets it; bar 7: a close exactly on
    // the upper band does not flip; bar 8 does.
}

// ---- ATR trailing stop ----

TEST(AtrTs, StopTrailsFlipsAndIgnoresNaN) {
    // Period 1, multiplier 3: the offset is three true ranges of the bar.
    const std::vector<Bar> bars = {{101, 99, 100}, {95, 94, 94}, {94.5, 93.5, 93.9},
                                   {94, 93, 93.5}, {94, 93, kN}, {98, 97, 97.5}};
    const auto out = run_hlc(ATRTrailingStop(1, 3.0), bars);
    const double stops[] = {94, 94, 93.9 + 3.0, 93.5 + 3.0, 93.5 + 3.0, 97.5 - 3.0};
    const int directions[] = {1, 1, -1, -1, -1, 1};
    for (std::size_t i = 0; i < bars.size(); ++i) {
        EXPECT_EQ(out[i].stop, stops[i]) << "bar " << i + 1;
        EXPECT_EQ(out[i].direction, directions[i]) << "bar " << i + 1;
    }
    // A NaN first close gives a NaN stop, replaced by the next candidate.
    const auto first_nan = run_hlc(ATRTrailingStop(1, 3.0), {{101, 99, kN}, {101, 99, 100}});
    EXPECT_TRUE(std::isnan(first_nan[0].stop));
    EXPECT_EQ(first_nan[1].stop, 94.0);
    EXPECT_EQ(first_nan[1].direction, 1);
}

// ---- Keltner ----

TEST(Keltner, FirstBarSeparatePeriodsAndNaNClose) {
    const BandOutput o = KeltnerChannels(20, 10, 2.0).next(12, 8, 10);
    EXPECT_EQ(o.upper, 18.0);
    EXPECT_EQ(o.middle, 10.0);
    EXPECT_EQ(o.lower, 2.0);
    // ema_period 1 follows the typical price while the range still smooths.
    KeltnerChannels k(1, 3, 1.0);
    k.next(12, 8, 10);
    const BandOutput b = k.next(13, 12, 12.5);  // tr 3, atr 0.5·3 + 0.5·4
    EXPECT_EQ(b.middle, 12.5);
    EXPECT_EQ(b.upper, 16.0);
    EXPECT_EQ(b.lower, 9.0);
    // A NaN first close stays in the centre for good.
    KeltnerChannels n(3, 3, 1.0);
    n.next(12, 8, kN);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(std::isnan(n.next(13, 12, 12.5).middle));
}

// ---- TTM squeeze ----

TEST(TtmSqueeze, FirstBarAndStrictBandComparison) {
    // sma 11, Donchian middle 10: momentum = 11 - (11 + 10)/2.
    SuperTrendOutput o = TTMSqueeze(20, 2.0, 1.5).next(12, 8, 11);
    EXPECT_EQ(o.value, 0.5);
    EXPECT_EQ(o.direction, 1);  // sd 0 inside a band of 4·1.5
    EXPECT_EQ(TTMSqueeze(20, 2.0, 0.0).next(12, 8, 11).direction, 0);  // bands coincide
    // Period 3 over closes 9, 11: sma 10, sd 1, atr 0.5·3 + 0.5·2 = 2.5.
    auto second = [](double mult_bb, double mult_kc) {
        TTMSqueeze t(3, mult_bb, mult_kc);
        t.next(10, 8, 9);
        return t.next(12, 10, 11).direction;
    };
    EXPECT_EQ(second(2.5, 1.0), 0);  // Bollinger bands exactly on the Keltner bands
    EXPECT_EQ(second(2.5, 1.01), 1);
    EXPECT_EQ(second(2.6, 1.0), 0);
}

TEST(TtmSqueeze, FlatSeriesAndDegeneratePeriod) {
    for (const SuperTrendOutput& o : run_hlc(TTMSqueeze(5, 2.0, 1.5), std::vector<Bar>(12, {7, 7, 7}))) {
        EXPECT_EQ(o.value, 0.0);
        EXPECT_EQ(o.direction, 0);
    }
    for (const SuperTrendOutput& o : run_hlc(TTMSqueeze(0, 2.0, 1.5), random_bars(8, 1))) {
        EXPECT_TRUE(std::isnan(o.value));
        EXPECT_EQ(o.direction, 0);
    }
}

// ---- ultimate bands ----

TEST(UltimateBands, RootMeanSquareOverTheResidualsHeld) {
    // Length 6: partial windows for five bars, then a sliding one.
    std::vector<double> xs;
    for (int i = 0; i < 40; ++i) xs.push_back(100.0 + 5.0 * std::sin(0.4 * i));
    UltimateBands bands(6, 2.0);
    UltimateSmoother smoother(6);
    std::vector<double> squares;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        const BandOutput o = bands.next(xs[i]);
        const double r = xs[i] - smoother.next(xs[i]);
        squares.push_back(r * r);
        const std::size_t n = std::min<std::size_t>(squares.size(), 6);
        double sum = 0.0;
        for (std::size_t j = squares.size() - n; j < squares.size(); ++j) sum += squares[j];
        EXPECT_NEAR(o.upper - o.middle, 2.0 * std::sqrt(sum / static_cast<double>(n)), 1e-9) << i;
        EXPECT_EQ(o.upper - o.middle, o.middle - o.lower) << i;
        if (i < 3) {
            EXPECT_EQ(o.upper, xs[i]) << i;  // warm-up: zero residuals
        }
    }
}

TEST(UltimateBands, NaNCollapsesTheBandsAndZeroLength) {
    // A NaN first input leaves the smoother by bar 4 but not the running sum.
    UltimateBands nan_first(20, 2.0);
    nan_first.next(kN);
    for (int i = 0; i < 30; ++i) {
        const BandOutput o = nan_first.next(100.0 + i * i);
        if (i >= 2) {
            EXPECT_FALSE(std::isnan(o.middle)) << i;
            EXPECT_EQ(o.upper, o.middle) << i;
            EXPECT_EQ(o.lower, o.middle) << i;
        }
    }
    // Length 0: the warm-up passes through, then the smoother is NaN.
    UltimateBands zero(0, 2.0);
    for (int i = 0; i < 6; ++i) {
        const BandOutput o = zero.next(5.0 + i);
        EXPECT_EQ(std::isnan(o.upper), i >= 3) << i;
        if (i < 3) {
            EXPECT_EQ(o.lower, 5.0 + i);
        }
    }
}

// ---- ultimate channel ----

TEST(UltimateChannel, RangeFromHighLowAndPreviousClose) {
    UltimateChannel ch(20, 20, 1.0);
    UltimateChannelOutput o = ch.next(12, 8, 10);  // range high - low
    EXPECT_EQ(o.center, 10.0);
    EXPECT_EQ(o.upper, 14.0);
    EXPECT_EQ(o.lower, 6.0);
    o = ch.next(15, 13, 14);  // the previous close 10 widens the range to 5
    EXPECT_EQ(o.upper, 19.0);
    o = ch.next(kN, 13, 14);  // a NaN high is replaced by the previous close
    EXPECT_EQ(o.upper, 15.0);
    EXPECT_EQ(o.lower, 13.0);
    // On the first bar a NaN high gives a NaN range.
    o = UltimateChannel(20, 20, 1.0).next(kN, 8, 10);
    EXPECT_EQ(o.center, 10.0);
    EXPECT_TRUE(std::isnan(o.upper));
    EXPECT_TRUE(std::isnan(o.lower));
}

TEST(UltimateChannel, ZeroLengths) {
    const auto bars = random_bars(8, 5);
    const auto centre_zero = run_hlc(UltimateChannel(0, 10, 1.0), bars);
    const auto range_zero = run_hlc(UltimateChannel(10, 0, 1.0), bars);
    for (std::size_t i = 0; i < bars.size(); ++i) {
        EXPECT_EQ(std::isnan(centre_zero[i].center), i >= 3) << i;
        EXPECT_FALSE(std::isnan(range_zero[i].center)) << i;
        EXPECT_EQ(std::isnan(range_zero[i].upper), i >= 3) << i;
    }
}
