// Market structure and the geometric pattern scanner: worked values and
// synthetic bars built to form each pattern.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "lumenfold/core/channels/geometric_pattern.hpp"
#include "lumenfold/core/channels/market_structure.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/panic.hpp"

using namespace lumenfold::core;

namespace {

std::vector<MarketStructureOutput> structure(std::uint64_t s, const std::vector<double>& highs,
                                             const std::vector<double>& lows) {
    MarketStructure ms(s);
    std::vector<MarketStructureOutput> out;
    for (std::size_t i = 0; i < highs.size(); ++i) out.push_back(ms.next(highs[i], lows[i]));
    return out;
}

void expect_swing(const std::optional<SwingPoint>& p, std::uint64_t bar, double price) {
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->bar, bar);
    EXPECT_EQ(p->price, price);
}

// Midpoints through the knots (bar, mid), linear in between, as bars of range
// 4. Steps of at most 2 keep every true range, and so the ATR, at exactly 4.
std::vector<std::pair<double, double>> range4_bars(const std::vector<std::pair<int, double>>& knots) {
    std::vector<std::pair<double, double>> bars;
    for (std::size_t k = 0; k + 1 < knots.size(); ++k) {
        const auto [b0, m0] = knots[k];
        const auto [b1, m1] = knots[k + 1];
        for (int b = b0; b < b1; ++b) {
            const double m = m0 + (m1 - m0) * (b - b0) / (b1 - b0);
            bars.push_back({m + 2.0, m - 2.0});
        }
    }
    bars.push_back({knots.back().second + 2.0, knots.back().second - 2.0});
    return bars;
}

struct Reports {
    std::vector<std::pair<std::uint64_t, FlagPatternOutput>> flags;  // (bar, flag)
    std::vector<std::pair<std::uint64_t, HsPatternOutput>> hs;       // (bar, pattern)
    double atr;
};

Reports scan(const std::vector<std::pair<double, double>>& bars, std::uint64_t s = 2) {
    GeometricPatternScanner g(s);
    Reports r;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const GeometricNextOutput o = g.next(bars[i].first, bars[i].second);
        if (o.flag) r.flags.push_back({i, *o.flag});
        if (o.hs) r.hs.push_back({i, *o.hs});
    }
    r.atr = g.atr();
    return r;
}

// Head-and-shoulders top with swings H(10, 105), L(14, 100), H(20, 110),
// L(26, 99.9), H(31, 105.5) at swing strength 2, then the knots that follow.
std::vector<std::pair<int, double>> top_knots(std::vector<std::pair<int, double>> tail) {
    std::vector<std::pair<int, double>> k = {{0, 98.0}, {10, 103.0}, {14, 102.0}, {20, 108.0},
                                             {26, 101.9}, {31, 103.5}};
    k.insert(k.end(), tail.begin(), tail.end());
    return k;
}

// The expected score of the tops below: shoulders 0.5 apart at a head of
// `head`, bars 10, 20, 31, a neckline falling 0.1 over 12 bars, height 10.05
// (capped at 30 points).
double top_score(double head) {
    const double shoulder = (1.0 - (0.5 / head) / 0.02) * 30.0;
    const double time = (10.0 / 11.0) * 0.5 * 20.0;
    const double angle = std::fabs(std::atan(0.1 / 12.0) * 57.29577951308232);
    return shoulder + time + (1.0 - angle / 30.0) * 20.0 + 30.0;
}

}  // namespace

// ---- market structure ----

TEST(MarketStructure, SwingConfirmationAndWarmup) {
    const auto out = structure(1, {1, 3, 2}, {0.5, 2, 1});
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(out[i].bias, 0u);
        EXPECT_FALSE(out[i].last_swing_high || out[i].last_swing_low || out[i].current_flip);
        EXPECT_EQ(out[i].swing_depth_used, 1u);
        EXPECT_EQ(out[i].bar_index, std::uint64_t(i + 1));
    }
    expect_swing(out[2].last_swing_high, 1, 3.0);
    EXPECT_TRUE(out[2].last_swing_high->is_high);
    EXPECT_FALSE(out[2].last_swing_low);  // 0.5 < 2: no swing low
    EXPECT_EQ(out[2].bar_index, 3u);
    // Strength 0 behaves as 1.
    EXPECT_EQ(structure(0, {1, 3, 2}, {0.5, 2, 1})[2].swing_depth_used, 1u);
    EXPECT_EQ(structure(0, {1, 3, 2}, {0.5, 2, 1})[2].last_swing_high->bar, 1u);

    // A flat series confirms both kinds on one bar; later equal swings are ignored.
    const auto flat = structure(2, std::vector<double>(12, 5.0), std::vector<double>(12, 4.0));
    EXPECT_FALSE(flat[3].last_swing_high);
    expect_swing(flat[4].last_swing_high, 2, 5.0);
    expect_swing(flat[4].last_swing_low, 2, 4.0);
    expect_swing(flat[11].last_swing_high, 2, 5.0);
    expect_swing(flat[11].last_swing_low, 2, 4.0);
    EXPECT_EQ(flat[11].bias, 0u);
}

TEST(MarketStructure, HigherHighsThenBearishFlip) {
    // Swing highs at bars 1 (5), 3 (6), 5 (7), 7 (6.5), 11 (8); lows stay level.
    const std::vector<double> highs = {1, 5, 1, 6, 1, 7, 1, 6.5, 1, 1, 1, 8, 1, 1};
    std::vector<double> lows;
    for (double h : highs) lows.push_back(h == 1 ? 0.5 : 4.0);
    const auto out = structure(1, highs, lows);
    EXPECT_EQ(out[4].bias, 0u);  // one higher high is not a trend yet
    EXPECT_EQ(out[6].bias, 1u);
    for (int i = 0; i < 8; ++i) EXPECT_FALSE(out[i].current_flip) << i;
    ASSERT_TRUE(out[8].current_flip);
    EXPECT_TRUE(out[8].current_flip->is_bearish);
    EXPECT_EQ(out[8].current_flip->price, 6.5);
    EXPECT_EQ(out[8].current_flip->bar, 7u);
    EXPECT_EQ(out[8].current_flip->structure_strength, 2u);
    EXPECT_EQ(out[8].bias, 2u);
    expect_swing(out[8].last_swing_high, 5, 7.0);  // the lower high is not stored
    EXPECT_FALSE(out[9].current_flip);
    // The higher-high count survives the flip: the next higher high is bullish at once.
    EXPECT_EQ(out[11].bias, 2u);
    EXPECT_EQ(out[12].bias, 1u);
    expect_swing(out[12].last_swing_high, 11, 8.0);
}

TEST(MarketStructure, SeparationNaNAndCapacity) {
    // Strength 2: a higher swing three bars after the last one is too close.
    const std::vector<double> highs = {1, 2, 5, 2, 1, 9, 1, 1, 1};
    const auto out = structure(2, highs, std::vector<double>(highs.size(), 0.0));
    expect_swing(out[4].last_swing_high, 2, 5.0);
    expect_swing(out[8].last_swing_high, 2, 5.0);

    // A NaN centre passes the test; once stored, no later swing of its kind is taken.
    const auto nan = structure(1, {1, kNaN, 0.5, 4, 1, 9, 1}, std::vector<double>(7, 0.0));
    ASSERT_TRUE(nan[2].last_swing_high);
    EXPECT_TRUE(std::isnan(nan[2].last_swing_high->price));
    EXPECT_TRUE(std::isnan(nan[6].last_swing_high->price));
    EXPECT_EQ(nan[6].bias, 0u);

    // A strength whose window size would wrap is refused, not wrapped.
    EXPECT_THROW(MarketStructure(std::numeric_limits<std::uint64_t>::max()), lumenfold::Panic);
    EXPECT_THROW(MarketStructure(std::uint64_t{1} << 62), lumenfold::Panic);
}

// ---- pattern scanner ----

TEST(GeometricPatternScanner, ThreeBarMoveAndAtr) {
    GeometricPatternScanner g(2);
    g.next(10, 9);
    EXPECT_EQ(g.atr(), 1.0);
    EXPECT_FALSE(g.evaluate_three_bar_move(0));  // fewer than three bars
    g.next(11, 10);
    EXPECT_EQ(g.atr(), (1.5 + 1.0) / 2.0);  // mean of the first two true ranges
    EXPECT_FALSE(g.evaluate_three_bar_move(0));
    g.next(13, 11);
    const auto mv = g.evaluate_three_bar_move(0);
    ASSERT_TRUE(mv);
    EXPECT_EQ(mv->start, 0u);
    EXPECT_EQ(mv->end, 2u);
    EXPECT_TRUE(mv->is_bull);
    EXPECT_EQ(mv->strength, 4.0);

    // The high does not rise and the bear sum is not above the bull sum.
    GeometricPatternScanner down(2);
    for (auto [h, l] : {std::pair{13.0, 11.0}, {11.0, 10.0}, {10.0, 9.0}}) down.next(h, l);
    EXPECT_FALSE(down.evaluate_three_bar_move(0));

    // From bar 15 on the ATR is smoothed with 1/14; a flat series floors it at 1e-8.
    GeometricPatternScanner flat(2);
    for (int i = 0; i < 14; ++i) flat.next(5.0, 5.0);
    EXPECT_EQ(flat.atr(), 1e-8);
    flat.next(6.0, 5.0);
    EXPECT_EQ(flat.atr(), 1.0 * (1.0 / 14.0) + (1.0 - 1.0 / 14.0) * 1e-8);
    GeometricPatternScanner nan(2);
    nan.next(kNaN, kNaN);
    EXPECT_EQ(nan.atr(), 1e-8);

    // Only recent bars are held.
    for (int i = 0; i < 20; ++i) g.next(13, 11);
    EXPECT_THROW(g.evaluate_three_bar_move(0), lumenfold::Panic);
}

TEST(GeometricPatternScanner, HsScoreWorkedValue) {
    // A flat series of range 2 holds the ATR at 2.
    GeometricPatternScanner g(2);
    for (int i = 0; i < 5; ++i) g.next(101.0, 99.0);
    ASSERT_EQ(g.atr(), 2.0);
    const double expected = (1.0 - (0.5 / 110.0) / 0.02) * 30.0 + (10.0 / 11.0) * 0.5 * 20.0 + 20.0 + 30.0;
    EXPECT_EQ(g.compute_hs_score(10, 20, 31, 105.0, 105.5, 110.0, 0.0, 10.0), expected);
    EXPECT_NEAR(expected, 82.27, 0.01);
    // Shoulders beyond the tolerance give no shoulder points; a steep neckline no flatness.
    EXPECT_EQ(g.compute_hs_score(10, 20, 31, 105.0, 108.5, 110.0, 1.0, 1.5), (10.0 / 11.0) * 0.5 * 20.0 + 15.0);
}

TEST(GeometricPatternScanner, HeadAndShouldersTopAndInverse) {
    // The top is accepted when the right shoulder is confirmed (bar 33) and
    // breaks out on the first bar whose midpoint is below the neckline at x = n.
    const auto top = scan(range4_bars(top_knots({{36, 98.5}})));
    ASSERT_EQ(top.hs.size(), 1u);
    const auto& [bar, p] = top.hs[0];
    // Neckline at bar 35 (n = 36): 100 - 0.1 / 12 * 22 = 99.82, midpoint 99.5.
    EXPECT_EQ(bar, 35u);
    EXPECT_TRUE(p.is_bearish);
    EXPECT_TRUE(p.breakout_confirmed);
    EXPECT_NEAR(p.height, 10.05, 1e-12);
    EXPECT_DOUBLE_EQ(p.height_atr, p.height / 4.0);
    EXPECT_NEAR(p.score, top_score(110.0), 1e-12);
    EXPECT_NEAR(p.score, 81.95, 0.01);
    EXPECT_EQ(p.id, 1u);

    // The mirror image is an inverse pattern breaking out upwards.
    std::vector<std::pair<double, double>> mirrored;
    for (auto [h, l] : range4_bars(top_knots({{36, 98.5}}))) mirrored.push_back({200.0 - l, 200.0 - h});
    const auto inv = scan(mirrored);
    ASSERT_EQ(inv.hs.size(), 1u);
    EXPECT_EQ(inv.hs[0].first, 35u);
    EXPECT_FALSE(inv.hs[0].second.is_bearish);
    EXPECT_NEAR(inv.hs[0].second.height, 10.05, 1e-12);
    EXPECT_NEAR(inv.hs[0].second.score, top_score(90.0), 1e-12);

    // The right shoulder 3.5 off the left one is beyond the tolerance.
    auto wide = top_knots({{36, 98.5}});
    wide[5].second = 106.5;
    EXPECT_TRUE(scan(range4_bars(wide)).hs.empty());
}

TEST(GeometricPatternScanner, HeadAndShouldersExpiry) {
    // After the right shoulder the midpoint holds above the neckline, then
    // falls 2 a bar. A pattern still tracked tests for its breakout before it
    // expires, so the last bar that can report it has n - 31 = 61.
    for (int peak : {86, 87}) {
        const auto bars = range4_bars(top_knots({{33, 101.5}, {peak, 107.5}, {peak + 8, 91.5}}));
        const auto r = scan(bars);
        std::uint64_t cross = 0;  // bar count at which the midpoint is first below the neckline
        for (std::size_t i = 40; i < bars.size() && cross == 0; ++i) {
            const double mid = (bars[i].first + bars[i].second) * 0.5;
            if (mid < 100.0 - 0.1 / 12.0 * double(i + 1 - 14)) cross = i + 1;
        }
        bool reported = false;
        for (const auto& [bar, p] : r.hs) reported = reported || (p.is_bearish && bar + 1 == cross);
        EXPECT_EQ(reported, cross - 31 <= 61) << peak << " crosses at n = " << cross;
    }
}

TEST(GeometricPatternScanner, BullFlagBreakout) {
    // Flat bars, a pole over bars 10-12, four bars drifting down, a breakout.
    std::vector<std::pair<double, double>> bars(10, {100.5, 99.5});
    bars.insert(bars.end(), {{100.5, 97.5}, {100.5, 99.0}, {106.0, 103.0}});
    bars.insert(bars.end(), {{105.8, 104.8}, {105.6, 104.6}, {105.4, 104.4}, {105.2, 104.2}, {107.0, 106.0}});
    GeometricPatternScanner g(2);
    std::optional<FlagPatternOutput> flag;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const auto o = g.next(bars[i].first, bars[i].second);
        if (i + 1 < bars.size()) {
            EXPECT_FALSE(o.flag) << i;
        }
        flag = o.flag;
    }
    ASSERT_TRUE(flag);
    EXPECT_EQ(flag->id, 1u);
    EXPECT_TRUE(flag->is_bull);
    EXPECT_EQ(flag->pole_start_bar, 10u);
    EXPECT_EQ(flag->pole_end_bar, 12u);
    EXPECT_EQ(flag->flag_start_bar, 13u);
    EXPECT_EQ(flag->flag_end_bar, 18u);  // bar count after the breakout bar 17
    EXPECT_EQ(flag->pole_length, 8.5);   // high of bar 12 over low of bar 10
    EXPECT_EQ(flag->pole_length_atr, 8.5 / g.atr());
    EXPECT_TRUE(flag->breakout_confirmed);
    EXPECT_EQ(flag->breakout_price, 106.5);

    // A pullback deeper than 61.8 % of the pole forms no flag.
    auto deep = bars;
    deep[15] = {105.4, 100.0};  // (106 - 100) / 8.5 = 71 %
    EXPECT_TRUE(scan(deep).flags.empty());
}

TEST(GeometricPatternScanner, MemoryStaysFlatOverAMillionBars) {
    GeometricPatternScanner g(2);
    std::mt19937_64 rng(11);
    std::normal_distribution<double> step(0.0, 1.0);
    std::uniform_real_distribution<double> wick(0.0, 1.0);
    double price = 100.0;
    std::size_t early = 0;
    std::uint64_t reported = 0;
    for (int i = 1; i <= 1'000'000; ++i) {
        price += step(rng);
        double h = price + wick(rng), l = price - wick(rng);
        if (i % 997 == 0) h = kNaN;
        const auto o = g.next(h, l);
        reported += o.flag.has_value() + o.hs.has_value();
        if (i == 100'000) early = g.footprint();
    }
    EXPECT_GT(reported, 10'000u);
    // Keeping every bar would take three million values; the scanner's
    // containers hold a few hundred elements, about as many as early on.
    EXPECT_LT(g.footprint(), 2 * early);
    EXPECT_LT(g.footprint(), 1000u);
}
