// ALMA, Hull MA, Alligator, fractals, Heikin-Ashi bars, pivot points, Schaff
// trend cycle, WaveTrend, volume profile and anchored VWAP.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "lumenfold/core/channels/alligator.hpp"
#include "lumenfold/core/channels/alma.hpp"
#include "lumenfold/core/channels/fractals.hpp"
#include "lumenfold/core/channels/heikin_ashi.hpp"
#include "lumenfold/core/channels/hma.hpp"
#include "lumenfold/core/channels/pivot_points.hpp"
#include "lumenfold/core/channels/stc.hpp"
#include "lumenfold/core/channels/volume_profile.hpp"
#include "lumenfold/core/channels/vwap.hpp"
#include "lumenfold/core/channels/wavetrend.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/panic.hpp"
#include "support.hpp"

using namespace lumenfold::core;
using lumenfold::test::run;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

std::vector<double> series(std::size_t n) {
    std::vector<double> xs;
    for (std::size_t i = 0; i < n; ++i) xs.push_back(50.0 + 4.0 * std::sin(0.37 * i) + 0.2 * i);
    return xs;
}

}  // namespace

// ---- ALMA, Hull MA, Alligator ----

TEST(ChannelsTrendAndVolume, AlmaWeightsAndWarmup) {
    const auto xs = series(20);
    EXPECT_EQ(run(ALMA(1, 0.85, 6.0), xs), xs);
    EXPECT_EQ(run(ALMA(0, 0.85, 6.0), xs), std::vector<double>(20, 0.0));

    // Weights summing to 1, peaking nearest m = 6.8.
    const auto w = ALMA::weights(9, 0.85, 6.0);
    EXPECT_NEAR(w[0] + w[1] + w[2] + w[3] + w[4] + w[5] + w[6] + w[7] + w[8], 1.0, 1e-15);
    EXPECT_TRUE(w[6] < w[7] && w[8] < w[7]);

    const auto out = run(ALMA(9, 0.85, 6.0), xs);
    EXPECT_EQ(out[1], (xs[0] * w[7] + xs[1] * w[8]) / (w[7] + w[8]));
    double full = 0.0;
    for (int j = 0; j < 9; ++j) full = full + xs[10 + j] * w[j];
    EXPECT_EQ(out[18], full);

    // sigma 0: every weight 1/n, the full window gives the mean.
    EXPECT_EQ(run(ALMA(4, 0.5, 0.0), {1.0, 2.0, 3.0, 6.0})[3], 3.0);

    // A NaN stays in for exactly the window.
    auto with_nan = series(30);
    with_nan[5] = kNaN;
    const auto n = run(ALMA(9, 0.85, 6.0), with_nan);
    for (int i = 5; i < 14; ++i) EXPECT_TRUE(std::isnan(n[i])) << i;
    EXPECT_FALSE(std::isnan(n[14]));
}

TEST(ChannelsTrendAndVolume, HmaPeriods) {
    EXPECT_EQ(HMA::root_period(15), 3u);
    EXPECT_EQ(HMA::root_period(16), 4u);
    EXPECT_EQ(HMA::root_period(std::numeric_limits<std::uint64_t>::max()), std::uint64_t{1} << 32);

    const auto xs = series(12);
    EXPECT_EQ(run(HMA(4), xs)[0], xs[0]);
    EXPECT_EQ(run(HMA(0), xs), std::vector<double>(12, 0.0));
    const auto neg = run(HMA(1), xs);
    for (std::size_t i = 0; i < xs.size(); ++i) EXPECT_EQ(neg[i], -xs[i]);
}

TEST(ChannelsTrendAndVolume, AlligatorDelaysEachLine) {
    const auto xs = series(30);
    Alligator a;
    std::vector<AlligatorOutput> out;
    for (double x : xs) out.push_back(a.next(x));
    for (int b = 0; b < 7; ++b) {
        EXPECT_TRUE(std::isnan(out[b].jaw) && std::isnan(out[b].teeth) && std::isnan(out[b].lips)) << b;
    }
    // Bars counted from 1: lips seeds on bar 5 and shows on bar 8, teeth on
    // bars 8 and 13, jaw on bars 13 and 21.
    EXPECT_EQ(out[7].lips, xs[4]);
    EXPECT_TRUE(std::isnan(out[7].teeth));
    EXPECT_EQ(out[8].lips, (xs[5] + xs[4] * 4.0) / 5.0);
    EXPECT_TRUE(std::isnan(out[11].teeth));
    EXPECT_EQ(out[12].teeth, xs[7]);
    EXPECT_TRUE(std::isnan(out[19].jaw));
    EXPECT_EQ(out[20].jaw, xs[12]);

    // A NaN after seeding stays in the recursion.
    SmmaOffset lips(5, 3);
    for (double x : {1.0, 1.0, 1.0, 1.0, 1.0, kNaN}) lips.next(x);
    for (int i = 0; i < 20; ++i) lips.next(1.0);
    EXPECT_TRUE(std::isnan(lips.next(1.0)));
}

// ---- bar patterns and transforms ----

TEST(ChannelsTrendAndVolume, Fractals) {
    auto flags = [](const std::vector<double>& highs, const std::vector<double>& lows) {
        BillWilliamsFractals f;
        std::vector<FractalsOutput> out;
        for (std::size_t i = 0; i < highs.size(); ++i) out.push_back(f.next(highs[i], lows[i]));
        return out;
    };
    const std::vector<double> lows(7, 1.0);
    auto out = flags({1, 2, 5, 3, 2, 1, 0}, lows);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(out[i].bearish || out[i].bullish) << i;
    EXPECT_TRUE(out[4].bearish);
    EXPECT_FALSE(out[4].bullish);  // equal lows never make a fractal
    EXPECT_FALSE(out[5].bearish || out[6].bearish);  // reported once

    EXPECT_FALSE(flags({1, 5, 5, 3, 2}, {1, 1, 1, 1, 1})[4].bearish);
    // An outside middle bar is both.
    const auto both = flags({1, 2, 5, 3, 2}, {3, 2, 0, 2, 3})[4];
    EXPECT_TRUE(both.bearish && both.bullish);
    // A NaN among the five prevents it.
    EXPECT_FALSE(flags({kNaN, 2, 5, 3, 2}, {3, 2, 0, 2, kNaN})[4].bearish);
    EXPECT_FALSE(flags({1, 2, 5, 3, 2}, {3, 2, 0, 2, kNaN})[4].bullish);
}

TEST(ChannelsTrendAndVolume, HeikinAshi) {
    auto bar = [](HeikinAshiOutput o) { return std::vector<double>{o.open, o.high, o.low, o.close}; };
    HeikinAshi ha;
    EXPECT_EQ(bar(ha.next(10, 12, 9, 11)), (std::vector<double>{10.5, 12, 9, 10.5}));
    EXPECT_EQ(bar(ha.next(11, 13, 10, 12)), (std::vector<double>{10.5, 13, 10, 11.5}));
    // A raw range above the open is widened down to it.
    EXPECT_EQ(bar(ha.next(30, 31, 29, 30)), (std::vector<double>{11, 31, 11, 30}));

    // A NaN high: this bar's close and every later open are NaN, and the
    // extremes fall back on the defined operands.
    HeikinAshi hn;
    hn.next(10, 12, 9, 11);
    const auto d = hn.next(11, kNaN, 10, 12);
    EXPECT_TRUE(std::isnan(d.close));
    EXPECT_EQ(d.high, 10.5);
    EXPECT_EQ(d.low, 10.0);
    const auto e = hn.next(11, 13, 10, 12);
    EXPECT_TRUE(std::isnan(e.open));
    EXPECT_EQ(e.high, 13.0);
    EXPECT_EQ(e.low, 10.0);
}

TEST(ChannelsTrendAndVolume, PivotPointsFromThePreviousBar) {
    auto levels = [](PivotPointsOutput o) { return std::vector<double>{o.p, o.r1, o.s1, o.r2, o.s2}; };
    PivotPoints pp;
    EXPECT_EQ(levels(pp.next(12, 8, 10)), std::vector<double>(5, 0.0));
    EXPECT_EQ(levels(pp.next(kNaN, 1, 1)), (std::vector<double>{10, 12, 8, 14, 6}));
    EXPECT_TRUE(std::isnan(pp.next(3, 1, 2).p));
    EXPECT_EQ(pp.next(0, 0, 0).p, 2.0);  // only the bar after a NaN is affected
}

// ---- oscillators ----

TEST(ChannelsTrendAndVolume, StcStagesAndDegenerateCycles) {
    // Rising MACD line: both stages sit at the top of their windows.
    const auto out = run(SchaffTrendCycle(3, 2, 4), {1, 2, 3, 5, 4, 6});
    EXPECT_EQ(out[0], 0.0);
    EXPECT_EQ(out[1], 0.0);
    EXPECT_EQ(out[2], 50.0);
    EXPECT_EQ(out[3], 75.0);
    EXPECT_EQ(out[4], 37.5);  // the first stage fell to the bottom of the second's window

    EXPECT_EQ(run(SchaffTrendCycle(10, 23, 50), std::vector<double>(40, 7.0)), std::vector<double>(40, 0.0));
    const auto xs = series(20);
    EXPECT_EQ(run(SchaffTrendCycle(1, 23, 50), xs), std::vector<double>(20, 0.0));
    for (double v : run(SchaffTrendCycle(0, 23, 50), xs)) EXPECT_TRUE(std::isnan(v));

    // A flat window gives 0, halving the stage each bar.
    StochasticEma stage(2);
    EXPECT_EQ(stage.next(1.0), 0.0);
    EXPECT_EQ(stage.next(3.0), 50.0);
    EXPECT_EQ(stage.next(3.0), 25.0);
}

TEST(ChannelsTrendAndVolume, WaveTrend) {
    const double high[] = {11, 12, 14, 13, 15, 16, 15};
    const double low[] = {9, 10, 11, 11, 12, 14, 13};
    const double close[] = {10, 11, 13, 12, 14, 15, 14};
    WaveTrend wt(10, 21, 4);
    WaveTrend no_signal(10, 21, 0);
    std::vector<WaveTrendOutput> out;
    for (int i = 0; i < 7; ++i) {
        out.push_back(wt.next(high[i], low[i], close[i]));
        const auto z = no_signal.next(high[i], low[i], close[i]);
        EXPECT_EQ(z.wt1, out.back().wt1);
        EXPECT_TRUE(std::isnan(z.wt2));
    }
    EXPECT_EQ(out[0].wt1, 0.0);
    EXPECT_EQ(out[0].wt2, 0.0);

    // Bar 2 by hand.
    const double a1 = 2.0 / 11.0, a2 = 2.0 / 22.0;
    const double ap0 = ((11.0 + 9.0) + 10.0) / 3.0, ap1 = ((12.0 + 10.0) + 11.0) / 3.0;
    const double esa = ap1 * a1 + ap0 * (1.0 - a1);
    const double dd = std::fabs(ap1 - esa) * a1 + 0.0 * (1.0 - a1);
    const double wt1 = ((ap1 - esa) / (dd * 0.015)) * a2 + 0.0 * (1.0 - a2);
    EXPECT_EQ(out[1].wt1, wt1);
    EXPECT_EQ(out[1].wt2, (wt1 + 0.0) / 2.0);

    // From bar 5 on the oldest value leaves the running sum.
    double sum = 0.0;
    for (int i = 0; i < 5; ++i) sum = out[i].wt1 + sum;
    sum = sum - out[0].wt1;
    EXPECT_EQ(out[4].wt2, sum / 4.0);

    WaveTrend flat(10, 21, 4);
    for (int i = 0; i < 10; ++i) {
        const auto o = flat.next(5, 5, 5);
        EXPECT_EQ(o.wt1, 0.0);
        EXPECT_EQ(o.wt2, 0.0);
    }
}

// ---- volume ----

TEST(ChannelsTrendAndVolume, VolumeProfilePointOfControl) {
    auto poc = [](VolumeProfile vp, const std::vector<std::pair<double, double>>& bars) {
        std::vector<double> out;
        for (auto [p, v] : bars) {
            const auto r = vp.next(p, v);
            EXPECT_EQ(r.vah, 0.0);
            EXPECT_EQ(r.val, 0.0);
            out.push_back(r.poc);
        }
        return out;
    };
    EXPECT_EQ(poc(VolumeProfile(3, 2), {{10, 1}, {12, 5}, {11, 1}}).back(), 11.5);
    VolumeProfile used(3, 2);  // a copy of one that already holds bins
    used.next(10, 1);
    used.next(12, 5);
    VolumeProfile copy = used;
    EXPECT_EQ(copy.next(11, 1).poc, 11.5);
    EXPECT_EQ(used.next(11, 1).poc, 11.5);
    EXPECT_EQ(poc(VolumeProfile(3, 2), {{10, 1}, {12, 5}, {11, 1}, {13, 1}, {13, 1}}).back(), 12.5);  // 10 left
    EXPECT_EQ(poc(VolumeProfile(3, 4), {{7, 1}, {7, 9}, {7, 2}}).back(), 7.0);
    EXPECT_EQ(poc(VolumeProfile(2, 2), {{10, 3}, {12, 3}}).back(), 10.5);  // tie: lower bin
    EXPECT_EQ(poc(VolumeProfile(2, 0), {{10, 3}, {13, 9}}).back(), 10.0 + (13.0 - 10.0) * 0.5);
    EXPECT_TRUE(std::isnan(poc(VolumeProfile(0, 4), {{10, 3}}).back()));
    // NaN prices: their volume goes to the first bin; a window of them alone gives -inf.
    EXPECT_EQ(poc(VolumeProfile(3, 2), {{10, 1}, {kNaN, 5}, {12, 1}}).back(), 10.5);
    EXPECT_EQ(poc(VolumeProfile(2, 2), {{kNaN, 1}, {kNaN, 1}}).back(), -kInf);
}

TEST(ChannelsTrendAndVolume, VolumeProfileEdgesAndInfiniteRanges) {
    // A price on a bin edge belongs to the upper bin.
    VolumeProfile edge(3, 2);
    edge.next(10, 1);
    edge.next(11, 5);
    EXPECT_EQ(edge.next(12, 1).poc, 11.5);
    // An infinite price range: every quotient is 0 or NaN, so all volume
    // lands in the first bin, whose centre is infinite.
    VolumeProfile vp(2, 3);
    vp.next(1.0, 1.0);
    EXPECT_EQ(vp.next(kInf, 5.0).poc, kInf);
    // A range so small that the bin width rounds to 0: the top price's
    // infinite quotient saturates into the last bin.
    VolumeProfile tiny(2, 4);
    tiny.next(0.0, 1.0);
    EXPECT_EQ(tiny.next(5e-324, 9.0).poc, 0.0);
}

TEST(ChannelsTrendAndVolume, VolumeProfileUnallocatableBinsFailTheStep) {
    VolumeProfile vp(4, std::uint64_t{1} << 62);
    EXPECT_EQ(vp.next(3.0, 1.0).poc, 3.0);  // a flat window needs no bins
    EXPECT_THROW(vp.next(4.0, 1.0), lumenfold::Panic);
}

TEST(ChannelsTrendAndVolume, AnchoredVwap) {
    AnchoredVWAP v;
    EXPECT_EQ(v.next(10, 2, false), 10.0);
    EXPECT_EQ(v.next(20, 2, false), 15.0);
    EXPECT_EQ(v.next(30, 1, true), 30.0);
    EXPECT_EQ(v.next(40, 1, false), 35.0);
    // A NaN stays in the sums until the next anchor replaces them.
    EXPECT_TRUE(std::isnan(v.next(50, kNaN, false)));
    EXPECT_TRUE(std::isnan(v.next(60, 1, false)));
    EXPECT_EQ(v.next(70, 2, true), 70.0);

    // No volume since the anchor, or volumes cancelling: 0, not NaN.
    AnchoredVWAP z;
    EXPECT_EQ(z.next(10, 0, false), 0.0);
    EXPECT_EQ(z.next(20, 0, true), 0.0);
    EXPECT_EQ(z.next(20, 3, false), 20.0);
    EXPECT_EQ(z.next(30, -3, false), 0.0);
}
