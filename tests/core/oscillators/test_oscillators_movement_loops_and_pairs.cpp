// Hann-weighted directional movement, reversion index, precision trend, loops
// and pairs rotation.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "lumenfold/core/filters/two_pole.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/oscillators/dmh.hpp"
#include "lumenfold/core/oscillators/ehlers_loops.hpp"
#include "lumenfold/core/oscillators/pairs_rotation.hpp"
#include "lumenfold/core/oscillators/precision_trend.hpp"
#include "lumenfold/core/oscillators/reversion_index.hpp"
#include "oscillators/ragged_and_pairs_support.hpp"

using namespace lumenfold::core;
using lumenfold::test::each2;
using lumenfold::test::outputs;
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

template <class Out>
void expect_pair_zero(const std::vector<Out>& out, std::size_t from, std::size_t to) {
    for (std::size_t k = from; k < out.size() && k < to; ++k) {
        const auto [a, b] = out[k];
        EXPECT_EQ(a, 0.0) << "bar " << k + 1;
        EXPECT_EQ(b, 0.0) << "bar " << k + 1;
    }
}

std::vector<double> ramp(int n) {
    std::vector<double> xs;
    for (int i = 1; i <= n; ++i) xs.push_back(i);
    return xs;
}

}  // namespace

TEST(Dmh, WorkedValuesAndMovementRules) {
    // Bar 2 is a partial window: (ema2·1 + ema1·2)/(1 + 2).
    const auto out = each2(DMH(3), {10, 11, 12, 11, 10}, {8, 9, 10, 8, 7});
    const double want[] = {0.0, 0.111111111, 0.305555556, 0.287037037, -0.141975309};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(out[i], want[i], 1e-9) << i;
    // Length 1: weight 2, alpha 1, so the output is the bar's plus - minus.
    const std::vector<double> hi = {10, 12, 13, 12.5, 13, 15}, lo = {8, 9, 8, 8.5, 7, 6};
    EXPECT_EQ(each2(DMH(1), hi, lo), (std::vector<double>{0.0, 2.0, 0.0, 0.0, -1.5, 2.0}));  // equal, inside
    auto h = hi;
    h[1] = kNaN;  // zeroes the movement of its own bar and of the next one
    EXPECT_EQ(each2(DMH(1), h, lo), (std::vector<double>{0.0, 0.0, 0.0, 0.0, -1.5, 2.0}));
    for (double v : each2(DMH(0), hi, lo)) EXPECT_EQ(v, 0.0);
}

TEST(ReversionIndex, FixedSmoothersWorkedValuesAndOneSidedSeries) {
    const auto t = TwoPoleCoefficients::super_smoother(8.0), r = TwoPoleCoefficients::super_smoother(4.0);
    EXPECT_EQ(t.c1, 0.35400528093555245);
    EXPECT_EQ(t.c3, -0.32937676434885493);
    EXPECT_EQ(r.c1, 0.815893050934765);
    EXPECT_EQ(r.c2, 0.29259600195815616);
    expect_trend_roc(outputs(ReversionIndex(3), {1, 2, 4, 3}), {{0, 0}, {1, 1}, {1, 1}, {0.911499, 0.796027}}, 5e-7);
    expect_pair_zero(outputs(ReversionIndex(5), std::vector<double>(20, 9.0)), 0, 20);
    expect_pair_zero(outputs(ReversionIndex(0), ragged(20)), 0, 20);
    const auto up = outputs(ReversionIndex(10), ramp(120));
    EXPECT_EQ(up[1].trend, 1.0);
    EXPECT_NEAR(up.back().trend, 1.0, 1e-12);
    EXPECT_NEAR(up.back().roc, 1.0, 1e-12);
}

TEST(PrecisionTrend, WorkedValuesAndDegenerateLengths) {
    expect_trend_roc(outputs(PrecisionTrendAnalysis(10, 40), {1, 2, 4, 3, 5}),
                     {{0, 0}, {0, 0}, {0, 0}, {0.757592, 4.822983}, {1.785916, 6.546512}}, 5e-7);
    expect_pair_zero(outputs(PrecisionTrendAnalysis(20, 20), ragged(30)), 0, 30);
    expect_pair_zero(outputs(PrecisionTrendAnalysis(10, 40), std::vector<double>(30, -6.0)), 0, 30);
    const auto z = outputs(PrecisionTrendAnalysis(0, 40), ragged(8));
    expect_pair_zero(z, 0, 3);
    for (std::size_t k = 3; k < z.size(); ++k) EXPECT_TRUE(std::isnan(z[k].trend) && std::isnan(z[k].roc)) << k;
}

TEST(EhlersLoops, WarmupChannelsAndDegenerateInputs) {
    const auto price = ragged(60), volume = ragged(60, 5000.0);
    const auto out = each2(EhlersLoops(10, 40), price, volume);
    expect_pair_zero(out, 0, 2);
    EXPECT_NEAR(out[2].price_rms, kFirstNormalised, 1e-12);  // the price bends up on bar 3
    EXPECT_NEAR(std::fabs(out[2].vol_rms), kFirstNormalised, 1e-12);
    // A NaN volume ends that channel (0 from then on) and leaves the price alone.
    auto vol = volume;
    vol[20] = kNaN;
    const auto hit = each2(EhlersLoops(10, 40), price, vol);
    for (std::size_t k = 0; k < out.size(); ++k) EXPECT_EQ(hit[k].price_rms, out[k].price_rms) << k;
    for (std::size_t k = 20; k < out.size(); ++k) EXPECT_EQ(hit[k].vol_rms, 0.0) << k;
    expect_pair_zero(each2(EhlersLoops(10, 40), ramp(40), std::vector<double>(40, 3e5)), 0, 40);
    expect_pair_zero(each2(EhlersLoops(0, 40), ragged(20), ragged(20, 900.0)), 0, 20);
    expect_pair_zero(each2(EhlersLoops(10, 0), ragged(20), ragged(20, 900.0)), 0, 20);
}

TEST(PairsRotation, WarmupChannelsAndDegenerateInputs) {
    const auto close = ragged(60), open = ragged(60, 80.0);
    const auto out = each2(PairsRotation(40, 10), close, open);
    expect_pair_zero(out, 0, 3);
    EXPECT_NEAR(std::fabs(out[3].ratio), kFirstNormalised, 1e-12);
    EXPECT_NEAR(std::fabs(out[3].angle), kFirstNormalised, 1e-12);
    // Bar 1's inputs leave the history before the first recursive step; from
    // bar 2 on a NaN reaches the recursion and ends its channel.
    auto c = close, o = open;
    c[0] = kNaN;
    o[0] = -1e9;
    const auto early = each2(PairsRotation(40, 10), c, o);
    c[1] = kNaN;
    const auto late = each2(PairsRotation(40, 10), c, open);
    for (std::size_t k = 0; k < out.size(); ++k) {
        EXPECT_EQ(early[k].ratio, out[k].ratio) << k;
        EXPECT_EQ(early[k].angle, out[k].angle) << k;
        EXPECT_EQ(late[k].ratio, 0.0) << k;
        EXPECT_EQ(late[k].angle, out[k].angle) << k;
    }
    expect_pair_zero(each2(PairsRotation(40, 10), ramp(40), std::vector<double>(40, 2.5)), 0, 40);
    expect_pair_zero(each2(PairsRotation(0, 10), ragged(20), ragged(20, 70.0)), 0, 20);
    expect_pair_zero(each2(PairsRotation(40, 0), ragged(20), ragged(20, 70.0)), 0, 20);
}
