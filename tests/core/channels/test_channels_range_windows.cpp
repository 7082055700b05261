// Donchian channel and its window extremes, Ichimoku, choppiness index and
// the vortex indicator.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "lumenfold/core/channels/choppiness_index.hpp"
#include "lumenfold/core/channels/donchian.hpp"
#include "lumenfold/core/channels/ichimoku.hpp"
#include "lumenfold/core/channels/vortex.hpp"
#include "lumenfold/core/channels/window_extreme.hpp"
#include "channels_support.hpp"

using namespace lumenfold::core;
using namespace channels_support;

namespace {

// The extreme as a full walk over the last `period` values finds it.
template <bool kHighest>
std::vector<double> walked_extremes(const std::vector<double>& xs, std::uint64_t period) {
    std::vector<double> out;
    for (std::size_t t = 0; t < xs.size(); ++t) {
        const std::size_t first = period > t ? 0 : t + 1 - period;
        double e = kHighest ? -kBig : kBig;
        for (std::size_t i = first; i <= t && period > 0; ++i) {
            if (kHighest ? xs[i] > e : xs[i] < e) e = xs[i];
        }
        out.push_back(e);
    }
    return out;
}

// Few distinct levels, so ties are frequent, with signed zeros, infinities and NaN.
std::vector<double> tie_heavy(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    const double levels[] = {0.0, -0.0, 1.0, -1.0, 2.0, kN, kBig, -kBig,
                             std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    std::discrete_distribution<int> pick({20, 20, 15, 15, 10, 8, 2, 2, 1, 1});
    std::vector<double> xs;
    for (std::size_t i = 0; i < n; ++i) xs.push_back(levels[pick(rng)]);
    return xs;
}

}  // namespace

// ---- window extremes and the Donchian channel ----

TEST(WindowExtreme, MatchesAFullWalkBitForBit) {
    std::mt19937 rng(7);
    std::normal_distribution<double> step(0.0, 1.0);
    std::vector<double> falling;  // the extreme leaves the window on most bars
    for (int i = 0; i < 300; ++i) falling.push_back(300.0 - i + step(rng));
    for (const auto& xs : {tie_heavy(600, 1), tie_heavy(600, 2), falling}) {
        for (std::uint64_t p : {0u, 1u, 2u, 3u, 7u, 40u, 1000u}) {
            const auto hi = walked_extremes<true>(xs, p);
            const auto lo = walked_extremes<false>(xs, p);
            WindowHighest h(p);
            WindowLowest l(p);
            for (std::size_t t = 0; t < xs.size(); ++t) {
                const double got_h = h.next(xs[t]);
                const double got_l = l.next(xs[t]);
                ASSERT_TRUE(same(got_h, hi[t])) << "period " << p << " bar " << t << ": " << got_h;
                ASSERT_TRUE(same(got_l, lo[t])) << "period " << p << " bar " << t << ": " << got_l;
            }
        }
    }
}

TEST(Donchian, WorkedValuesOverPartialWindows) {
    DonchianChannels d(3);
    const double highs[] = {10, 12, 11, 9};
    const double lows[] = {8, 9, 7, 6};
    const BandOutput want[] = {{10, 9, 8}, {12, 10, 8}, {12, 9.5, 7}, {12, 9, 6}};
    for (int i = 0; i < 4; ++i) {
        const BandOutput o = d.next(highs[i], lows[i]);
        EXPECT_EQ(o.upper, want[i].upper) << i;
        EXPECT_EQ(o.middle, want[i].middle) << i;
        EXPECT_EQ(o.lower, want[i].lower) << i;
    }
    // The 12 leaves on the fifth bar.
    EXPECT_EQ(d.next(8, 7).upper, 11.0);
}

TEST(Donchian, NaNAndDegeneratePeriods) {
    DonchianChannels d(2);
    d.next(10, 8);
    BandOutput o = d.next(kN, kN);  // ignored while finite values remain
    EXPECT_EQ(o.upper, 10.0);
    EXPECT_EQ(o.lower, 8.0);
    o = d.next(kN, 5);  // only NaN highs left
    EXPECT_EQ(o.upper, -kBig);
    EXPECT_EQ(o.middle, (-kBig + 5.0) * 0.5);
    // Period 0 keeps nothing: the two extremes cancel exactly.
    DonchianChannels zero(0);
    for (int i = 0; i < 3; ++i) {
        o = zero.next(10 + i, 5);
        EXPECT_EQ(o.upper, -kBig);
        EXPECT_EQ(o.middle, 0.0);
        EXPECT_EQ(o.lower, kBig);
    }
    // A high below the low is used unchanged: the channel is inverted.
    o = DonchianChannels(3).next(5, 9);
    EXPECT_EQ(o.upper, 5.0);
    EXPECT_EQ(o.lower, 9.0);
}

// ---- Ichimoku ----

TEST(Ichimoku, WorkedValuesAndAZeroPeriod) {
    IchimokuCloud cloud(2, 3, 4);
    const double highs[] = {10, 12, 11, 9};
    const double lows[] = {8, 9, 7, 6};
    const IchimokuOutput want[] = {
        {9, 9, 9, 9}, {10, 10, 10, 10}, {9.5, 9.5, 9.5, 9.5}, {8.5, 9, 8.75, 9}};
    for (int i = 0; i < 4; ++i) {
        const IchimokuOutput o = cloud.next(highs[i], lows[i]);
        EXPECT_EQ(o.tenkan, want[i].tenkan) << i;
        EXPECT_EQ(o.kijun, want[i].kijun) << i;
        EXPECT_EQ(o.senkou_a, want[i].senkou_a) << i;
        EXPECT_EQ(o.senkou_b, want[i].senkou_b) << i;
    }
    // Periods need not be ordered; a zero period gives a zero line.
    IchimokuCloud odd(0, 2, 1);
    odd.next(10, 8);
    const IchimokuOutput o = odd.next(12, 9);
    EXPECT_EQ(o.tenkan, 0.0);
    EXPECT_EQ(o.kijun, 10.0);
    EXPECT_EQ(o.senkou_a, 5.0);
    EXPECT_EQ(o.senkou_b, 10.5);
}

// ---- choppiness index ----

TEST(Choppiness, WarmUpThenFormula) {
    const std::vector<Bar> bars = {{10, 8, 9}, {12, 9, 11}, {11, 7, 8}, {9, 6, 7}};
    const auto out = run_hlc(ChoppinessIndex(3), bars);
    EXPECT_EQ(out[0], 50.0);
    EXPECT_EQ(out[1], 50.0);
    // Bar 3: ranges 2, 3, 4 (11 - 7 against the close 11), highest 12, lowest 7.
    // A few ulps: the expected logarithms are folded at compile time.
    EXPECT_DOUBLE_EQ(out[2], (std::log10((((0.0 + 4.0) + 3.0) + 2.0) / 5.0) * 100.0) / std::log10(3.0));
    // Bar 4: ranges 3, 4, 3, highest 12, lowest 6.
    EXPECT_DOUBLE_EQ(out[3], (std::log10((((0.0 + 3.0) + 4.0) + 3.0) / 6.0) * 100.0) / std::log10(3.0));
}

TEST(Choppiness, ChainedFlatAndNaNWindows) {
    // Bars chained end to end: the ranges add up to the whole span, giving 0.
    const auto chained = run_hlc(ChoppinessIndex(3), {{2, 1, 2}, {3, 2, 3}, {4, 3, 4}, {5, 4, 5}});
    EXPECT_EQ(chained[2], 0.0);
    EXPECT_EQ(chained[3], 0.0);
    // No range at all: 100 rather than a division by zero.
    for (double v : run_hlc(ChoppinessIndex(3), std::vector<Bar>(5, {7, 7, 7}))) {
        EXPECT_TRUE(v == 50.0 || v == 100.0) << v;
    }
    EXPECT_EQ(run_hlc(ChoppinessIndex(2), std::vector<Bar>(3, {7, 7, 7}))[2], 100.0);
    // A NaN range counts only while it is in the window.
    auto bars = random_bars(30, 4);
    bars[10].high = kN;
    bars[10].low = kN;
    const auto out = run_hlc(ChoppinessIndex(4), bars);
    for (std::size_t i = 3; i < out.size(); ++i) EXPECT_EQ(std::isnan(out[i]), i >= 10 && i < 14) << i;
    // Period 0 has nothing to measure; period 1 divides by log10(1) = 0.
    for (double v : run_hlc(ChoppinessIndex(0), random_bars(5, 1))) EXPECT_TRUE(std::isnan(v));
    const auto one = run_hlc(ChoppinessIndex(1), {{10, 8, 12}, {15, 14, 14}, {14, 14, 14}});
    EXPECT_TRUE(std::isnan(one[0]));  // tr = high - low: log10(1)/0
    EXPECT_EQ(one[1], std::numeric_limits<double>::infinity());  // a gap widens the range
    EXPECT_EQ(one[2], 100.0);
}

// ---- vortex ----

TEST(Vortex, FirstBarAndZeroEntryLeavingTheWindow) {
    const auto bars = random_bars(40, 9);
    const auto out = run_hlc(VortexIndicator(14), bars);
    EXPECT_EQ(out[0].plus, 1.0);
    EXPECT_EQ(out[0].minus, 1.0);
    // The ratios against sums kept from scratch over the bars since the window
    // start; bar 1 contributes zeros until bar 15 evicts it.
    for (std::size_t t = 1; t < bars.size(); ++t) {
        const std::size_t first = t < 14 ? 1 : t - 13;
        double vp = 0.0, vm = 0.0, tr = 0.0;
        for (std::size_t i = first; i <= t; ++i) {
            vp += std::fabs(bars[i].high - bars[i - 1].low);
            vm += std::fabs(bars[i].low - bars[i - 1].high);
            tr += true_range(bars[i].high, bars[i].low, bars[i - 1].close);
        }
        EXPECT_NEAR(out[t].plus, vp / tr, 1e-12) << t;
        EXPECT_NEAR(out[t].minus, vm / tr, 1e-12) << t;
    }
}

TEST(Vortex, FlatMarketsDegeneratePeriodAndNaN) {
    for (const VortexOutput& o : run_hlc(VortexIndicator(3), std::vector<Bar>(6, {5, 5, 5}))) {
        EXPECT_EQ(o.plus, 1.0);
        EXPECT_EQ(o.minus, 1.0);
    }
    for (const VortexOutput& o : run_hlc(VortexIndicator(0), random_bars(6, 2))) {
        EXPECT_EQ(o.plus, 1.0);
        EXPECT_EQ(o.minus, 1.0);
    }
    // A NaN high poisons VM+ at once and, as the next bar's previous high, VM-.
    auto bars = random_bars(20, 3);
    bars[5].high = kN;
    const auto out = run_hlc(VortexIndicator(3), bars);
    EXPECT_FALSE(std::isnan(out[4].plus));
    EXPECT_FALSE(std::isnan(out[5].minus));
    for (std::size_t i = 5; i < out.size(); ++i) EXPECT_TRUE(std::isnan(out[i].plus)) << i;
    for (std::size_t i = 6; i < out.size(); ++i) EXPECT_TRUE(std::isnan(out[i].minus)) << i;
}
