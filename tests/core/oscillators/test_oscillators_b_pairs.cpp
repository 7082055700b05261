// Hann-weighted directional movement, reversion index, precision trend, loops
// and pairs rotation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "lumenfold/core/filters/two_pole.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/oscillators/dmh.hpp"
#include "lumenfold/core/oscillators/ehlers_loops.hpp"
#include "lumenfold/core/oscillators/pairs_rotation.hpp"
#include "lumenfold/core/oscillators/precision_trend.hpp"
#include "lumenfold/core/oscillators/reversion_index.hpp"
#include "oscillators/oscillators_b_support.hpp"

using namespace lumenfold::core;
using lumenfold::test::outputs;
using lumenfold::test::each2;
using lumenfold::test::ragged;

namespace {

// 1/sqrt(0.0242): the first computed value of a loops or pairs channel.
constexpr double kFirstNormalised = 6.42824346533225;

void expect_trend_roc(const std::vector<TrendRocOutput>& out, const std::vector<TrendRocOutput>& want, double tol) {
    ASSERT_EQ(out.size(), want.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
        EXPECT_NEAR(out[i].trend, want[i].trend, tol) << "bar " << i + 1;
        EXPECT_NEAR(out[i].roc, want[i].roc, tol) << "bar " << i + 1;
    }
}

std::vector<double> ramp(int n) {
    std::vector<double> xs;
    for (int i = 1; i <= n; ++i) xs.push_back(i);
    return xs;
}

}  // namespace

// ---- directional movement with Hann weighting ----

TEST(Dmh, WorkedValuesLengthThree) {
    const auto out = each2(DMH(3), {10, 11, 12, 11, 10}, {8, 9, 10, 8, 7});
    const double want[] = {0.0, 0.111111111, 0.305555556, 0.287037037, -0.141975309};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(out[i], want[i], 1e-9) << i;
    EXPECT_EQ(out[0], 0.0);
}

TEST(Dmh, MovementRulesThroughLengthOne) {
    // Length 1: weight 2, alpha 1, so the output is the bar's plus - minus.
    const std::vector<double> hi = {10, 12, 13, 12.5, 13, 15}, lo = {8, 9, 8, 8.5, 7, 6};
    const auto out = each2(DMH(1), hi, lo);
    EXPECT_EQ(out, (std::vector<double>{0.0, 2.0, 0.0, 0.0, -1.5, 2.0}));  // equal moves, inside bar
    // A NaN high zeroes the movement of its own bar and of the next one.
    auto h = hi;
    h[1] = kNaN;
    EXPECT_EQ(each2(DMH(1), h, lo), (std::vector<double>{0.0, 0.0, 0.0, 0.0, -1.5, 2.0}));
    for (double v : each2(DMH(0), hi, lo)) EXPECT_EQ(v, 0.0);
}

TEST(Dmh, PartialWindowUsesLeadingWeights) {
    const auto hi = ragged(6, 50.0);
    std::vector<double> lo;
    for (double x : hi) lo.push_back(x - 2.0);
    const auto out = each2(DMH(5), hi, lo);
    const auto w = hann_weights(5);
    double ema[6], a = 0.2;
    for (int k = 0; k < 6; ++k) {
        double plus = 0.0, minus = 0.0;
        if (k > 0) {
            const double up = hi[k] - hi[k - 1], down = lo[k - 1] - lo[k];
            if (up > down && up > 0.0) plus = up;
            if (down > up && down > 0.0) minus = down;
        }
        ema[k] = k == 0 ? plus - minus : (plus - minus) * a + (1.0 - a) * ema[k - 1];
    }
    // Bar 3: the newest three against w1..w3 and their own sum.
    EXPECT_EQ(out[2], ((0.0 + ema[2] * w[0]) + ema[1] * w[1] + ema[0] * w[2]) / ((0.0 + w[0]) + w[1] + w[2]));
    double s = 0.0, sum = 0.0;
    for (int j = 0; j < 5; ++j) {
        s = s + ema[5 - j] * w[j];
        sum = sum + w[j];
    }
    EXPECT_EQ(out[5], s / sum);
}

// ---- reversion index ----

TEST(ReversionIndex, SmootherCoefficientsAreTheFamilyValues) {
    const auto t = TwoPoleCoefficients::super_smoother(8.0), r = TwoPoleCoefficients::super_smoother(4.0);
    EXPECT_EQ(t.c1, 0.35400528093555245);
    EXPECT_EQ(t.c2, 0.9753714834133025);
    EXPECT_EQ(t.c3, -0.32937676434885493);
    EXPECT_EQ(r.c1, 0.815893050934765);
    EXPECT_EQ(r.c2, 0.29259600195815616);
    EXPECT_EQ(r.c3, -0.10848905289292116);
}

TEST(ReversionIndex, WorkedValuesAndOneSidedSeries) {
    expect_trend_roc(outputs(ReversionIndex(3), {1, 2, 4, 3}), {{0, 0}, {1, 1}, {1, 1}, {0.911499, 0.796027}}, 5e-7);
    for (const auto& o : outputs(ReversionIndex(5), std::vector<double>(20, 9.0))) {
        EXPECT_EQ(o.trend, 0.0);
        EXPECT_EQ(o.roc, 0.0);
    }
    for (const auto& o : outputs(ReversionIndex(0), ragged(20))) {
        EXPECT_EQ(o.trend, 0.0);
        EXPECT_EQ(o.roc, 0.0);
    }
    const auto up = outputs(ReversionIndex(10), ramp(120));
    EXPECT_EQ(up[1].trend, 1.0);
    EXPECT_EQ(up[2].roc, 1.0);
    EXPECT_NEAR(up.back().trend, 1.0, 1e-12);
    EXPECT_NEAR(up.back().roc, 1.0, 1e-12);
    // Period 1: the ratio is the sign of the last change, passed through on bars 1 to 3.
    const auto one = outputs(ReversionIndex(1), {5, 3, 3});
    EXPECT_EQ(one[1].trend, -1.0);
    EXPECT_EQ(one[2].roc, 0.0);
}

// ---- precision trend ----

TEST(PrecisionTrend, WorkedValuesAndDegenerateLengths) {
    expect_trend_roc(outputs(PrecisionTrendAnalysis(10, 40), {1, 2, 4, 3, 5}),
                     {{0, 0}, {0, 0}, {0, 0}, {0.757592, 4.822983}, {1.785916, 6.546512}}, 5e-7);
    for (const auto& o : outputs(PrecisionTrendAnalysis(20, 20), ragged(30))) {
        EXPECT_EQ(o.trend, 0.0);
        EXPECT_EQ(o.roc, 0.0);
    }
    for (const auto& o : outputs(PrecisionTrendAnalysis(10, 40), std::vector<double>(30, -6.0))) {
        EXPECT_EQ(o.trend, 0.0);
        EXPECT_EQ(o.roc, 0.0);
    }
    const auto z = outputs(PrecisionTrendAnalysis(0, 40), ragged(8));
    for (std::size_t k = 0; k < z.size(); ++k) {
        EXPECT_EQ(std::isnan(z[k].trend), k >= 3) << k;
        EXPECT_EQ(std::isnan(z[k].roc), k >= 3) << k;
    }
}

// ---- loops ----

TEST(EhlersLoops, WarmupFirstValueAndIndependentChannels) {
    const auto price = ragged(60), volume = ragged(60, 5000.0);
    const auto out = each2(EhlersLoops(10, 40), price, volume);
    EXPECT_EQ(out[0].price_rms, 0.0);
    EXPECT_EQ(out[1].vol_rms, 0.0);
    EXPECT_NEAR(out[2].price_rms, kFirstNormalised, 1e-12);  // the price bends up on bar 3
    EXPECT_NEAR(std::fabs(out[2].vol_rms), kFirstNormalised, 1e-12);
    // A NaN volume ends that channel (0 from then on) and leaves the price alone.
    auto vol = volume;
    vol[20] = kNaN;
    const auto hit = each2(EhlersLoops(10, 40), price, vol);
    for (std::size_t k = 0; k < out.size(); ++k) {
        EXPECT_EQ(hit[k].price_rms, out[k].price_rms) << k;
        if (k >= 20) EXPECT_EQ(hit[k].vol_rms, 0.0) << k;
    }
}

TEST(EhlersLoops, LinesAndZeroPeriodsGiveZero) {
    for (const auto& o : each2(EhlersLoops(10, 40), ramp(40), std::vector<double>(40, 3e5))) {
        EXPECT_EQ(o.price_rms, 0.0);
        EXPECT_EQ(o.vol_rms, 0.0);
    }
    for (const auto& o : each2(EhlersLoops(0, 40), ragged(20), ragged(20, 900.0))) EXPECT_EQ(o.price_rms, 0.0);
    for (const auto& o : each2(EhlersLoops(10, 0), ragged(20), ragged(20, 900.0))) EXPECT_EQ(o.vol_rms, 0.0);
}

// ---- pairs rotation ----

TEST(PairsRotation, WarmupAndFirstValue) {
    const auto close = ragged(60), open = ragged(60, 80.0);
    const auto out = each2(PairsRotation(40, 10), close, open);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(out[k].ratio, 0.0) << k;
        EXPECT_EQ(out[k].angle, 0.0) << k;
    }
    EXPECT_NEAR(std::fabs(out[3].ratio), kFirstNormalised, 1e-12);
    EXPECT_NEAR(std::fabs(out[3].angle), kFirstNormalised, 1e-12);
    // Bar 1's inputs have left the history before the first recursive step.
    auto c = close, o = open;
    c[0] = kNaN;
    o[0] = -1e9;
    const auto early = each2(PairsRotation(40, 10), c, o);
    for (std::size_t k = 0; k < out.size(); ++k) {
        EXPECT_EQ(early[k].ratio, out[k].ratio) << k;
        EXPECT_EQ(early[k].angle, out[k].angle) << k;
    }
    // From bar 2 on a NaN reaches the recursion and ends its channel.
    c = close;
    c[1] = kNaN;
    const auto late = each2(PairsRotation(40, 10), c, open);
    for (std::size_t k = 0; k < out.size(); ++k) {
        EXPECT_EQ(late[k].ratio, 0.0) << k;
        EXPECT_EQ(late[k].angle, out[k].angle) << k;
    }
}

TEST(PairsRotation, LinesAndZeroLengthsGiveZero) {
    for (const auto& o : each2(PairsRotation(40, 10), ramp(40), std::vector<double>(40, 2.5))) {
        EXPECT_EQ(o.ratio, 0.0);
        EXPECT_EQ(o.angle, 0.0);
    }
    for (const PairsRotation& p : {PairsRotation(0, 10), PairsRotation(40, 0)}) {
        for (const auto& o : each2(p, ragged(20), ragged(20, 70.0))) {
            EXPECT_EQ(o.ratio, 0.0);
            EXPECT_EQ(o.angle, 0.0);
        }
    }
}
