// Feature extractors and fractional differencing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "lumenfold/core/cycles/cyber_cycle.hpp"
#include "lumenfold/core/cycles/griffiths_dominant_cycle.hpp"
#include "lumenfold/core/features/cyber_cycle.hpp"
#include "lumenfold/core/features/frac_diff.hpp"
#include "lumenfold/core/features/griffiths_dominant_cycle.hpp"
#include "lumenfold/core/features/hurst.hpp"
#include "lumenfold/core/features/instantaneous_trendline.hpp"
#include "lumenfold/core/features/trendflex.hpp"
#include "lumenfold/core/filters/instantaneous_trendline.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/oscillators/trendflex.hpp"
#include "cycles/cycles_support.hpp"
#include "framework/batch_forms.hpp"
#include "support.hpp"

using namespace lumenfold::core;
using lumenfold::test::jagged;
using lumenfold::test::outputs;
using lumenfold::test::run;

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
}

// ---- cyber cycle ----

TEST(CyberCycleFeatureExtractor, FirstBars) {
    const auto out = outputs(CyberCycleFeatureExtractor(10), {1, 2, 3});
    const std::vector<std::vector<double>> expected = {{0.25, 0, 0, 1}, {0, 0.25, -0.25, -1}, {0, 0, 0, 1}};
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& f = out[i];
        // On bar 3 a zero change counts as rising.
        EXPECT_EQ((std::vector<double>{f.cycle, f.trigger, f.cycle_momentum, f.trigger_signal}), expected[i]) << i;
    }
    // A straight line has no cycle, also once the recursion runs (bar 7). A
    // NaN cycle after a zero one: no momentum, and no sign to take.
    const auto line = outputs(CyberCycleFeatureExtractor(10), {1, 2, 3, 4, 5, 6, 7, 8, kNaN});
    for (std::size_t i = 1; i < 8; ++i) EXPECT_EQ(line[i].cycle, 0.0) << i;
    EXPECT_TRUE(std::isnan(line[8].cycle));
    EXPECT_EQ(line[8].cycle_momentum, 0.0);
    EXPECT_TRUE(std::isnan(line[8].trigger_signal));
}

// ---- Hurst ----

TEST(HurstFeatureExtractor, WarmupConstantAndLabels) {
    const auto out = outputs(HurstFeatureExtractor(20), std::vector<double>(40, 100.0));
    for (int i = 0; i < 19; ++i) {
        EXPECT_TRUE(std::isnan(out[i].persistence)) << i;
        EXPECT_EQ(out[i].regime_label, -99) << i;
    }
    for (int i = 19; i < 40; ++i) {
        EXPECT_EQ(out[i].persistence, 0.5) << i;
        EXPECT_EQ(out[i].regime_label, 0) << i;
    }
    EXPECT_EQ(HurstFeatureExtractor::label(0.45), 0);
    EXPECT_EQ(HurstFeatureExtractor::label(0.55), 0);
    EXPECT_EQ(HurstFeatureExtractor::label(0.4499), -1);
    EXPECT_EQ(HurstFeatureExtractor::label(0.5501), 1);
    EXPECT_EQ(HurstFeatureExtractor::label(-kInf), -1);
    EXPECT_EQ(HurstFeatureExtractor::label(kNaN), std::nullopt);
}

// ---- Griffiths, Trendflex and instantaneous trendline ----

TEST(EmbeddingExtractors, ReturnTheEmbeddedOutputs) {
    const auto xs = jagged(120);
    const auto griffiths = outputs(GriffithsDominantCycleFeatureExtractor(10, 40, 30), xs);
    const auto cycle = run(GriffithsDominantCycle(10, 40, 30), xs);
    for (std::size_t i = 0; i < xs.size(); ++i) EXPECT_EQ(griffiths[i].dominant_cycle, cycle[i]) << i;

    const auto trendflex = outputs(TrendflexFeatureExtractor(16), xs);
    const auto flex = run(Trendflex(16), xs);
    for (std::size_t i = 0; i < xs.size(); ++i) EXPECT_EQ(trendflex[i].trendflex, flex[i]) << i;

    const auto features = outputs(InstantaneousTrendlineFeatureExtractor(), xs);
    const auto trend = run(InstantaneousTrendline(), xs);
    for (std::size_t i = 0; i < xs.size(); ++i) {
        EXPECT_EQ(features[i].trend, trend[i]) << i;
        if (i < 11) {
            EXPECT_EQ(features[i].strength, 0.0) << i;
        }
    }
}

TEST(InstantaneousTrendlineFeatureExtractor, StrengthBounds) {
    auto first = [](double x) { return InstantaneousTrendlineFeatureExtractor().next(x).strength; };
    EXPECT_EQ(first(0.0), 0.0);    // 0 over the floor 1e-8
    EXPECT_EQ(first(kInf), 1.0);   // inf - inf over inf is NaN: the cap wins
    EXPECT_TRUE(std::isnan(first(kNaN)));
    // Far from a zero input the distance is capped at 1.
    InstantaneousTrendlineFeatureExtractor ex;
    for (int i = 0; i < 30; ++i) ex.next(50.0);
    const auto r = ex.next(0.0);
    EXPECT_NE(r.trend, 0.0);
    EXPECT_EQ(r.strength, 1.0);
}

// ---- fractional differencing ----

TEST(FracDiff, WeightsAndWorkedValues) {
    EXPECT_EQ(frac_diff_weights(0.5, 0.1), (std::vector<double>{1.0, -0.5, -0.125}));
    const auto out = run(FracDiff(0.5, 0.1), {1, 2, 3, 4});
    EXPECT_TRUE(std::isnan(out[0]) && std::isnan(out[1]));
    EXPECT_EQ(out[2], 1.875);
    EXPECT_EQ(out[3], 2.25);

    for (double d : {1.0, 1.5}) {
        EXPECT_EQ(FracDiff(d, 1e-5).weights(), (std::vector<double>{1.0, -1.0})) << d;
        const auto diff = run(FracDiff(d, 1e-5), {3, 7, 4});
        EXPECT_TRUE(std::isnan(diff[0]));
        EXPECT_EQ(diff[1], 4.0);
        EXPECT_EQ(diff[2], -3.0);
    }
    for (double d : {0.0, -2.0}) {
        EXPECT_EQ(FracDiff(d, 1e-5).weights(), (std::vector<double>{1.0})) << d;
        EXPECT_EQ(run(FracDiff(d, 1e-5), {3, -7}), (std::vector<double>{3, -7}));
    }
    EXPECT_EQ(FracDiff(0.5, 1e-12).weights().size(), 10001u);
    EXPECT_EQ(FracDiff(0.5, 1e-5).weights().size(), 927u);
    EXPECT_EQ(FracDiff(0.4, 1e-4).weights().size(), 282u);
    for (double floor : {0.0, -1.0, kNaN}) {
        EXPECT_EQ(FracDiff(0.5, floor).weights(), FracDiff(0.5, 1e-12).weights()) << floor;
    }
    const auto nan_order = FracDiff(kNaN, 0.1);
    EXPECT_TRUE(std::isnan(nan_order.d()));
    EXPECT_EQ(nan_order.weights().size(), 10001u);
    EXPECT_TRUE(std::isnan(nan_order.weights()[1]));
}

TEST(FracDiff, NaNInputsAreSkippedInfinitiesKept) {
    const auto xs = jagged(200);
    std::vector<double> with_nan;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        if (i % 9 == 4) with_nan.push_back(kNaN);
        with_nan.push_back(xs[i]);
    }
    const auto out = run(FracDiff(0.4, 1e-3), with_nan);
    std::vector<double> kept;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (std::isnan(with_nan[i])) {
            EXPECT_TRUE(std::isnan(out[i])) << i;
        } else {
            kept.push_back(out[i]);
        }
    }
    const auto clean = run(FracDiff(0.4, 1e-3), xs);
    ASSERT_EQ(kept.size(), clean.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        EXPECT_TRUE(std::isnan(clean[i]) ? std::isnan(kept[i]) : kept[i] == clean[i]) << i;
    }

    const auto inf = run(FracDiff(1.0, 0.1), {1, kInf, 2});
    EXPECT_EQ(inf[1], kInf);
    EXPECT_EQ(inf[2], -kInf);
}

// NaN inputs are skipped by the window: runs of them, as long as the window
// and longer, and across the batch form's chunks, leave it as stepping does.
TEST(FracDiff, BatchSkipsDenseNaNAcrossChunks) {
    const auto k = lumenfold::test::kernel<1>("FracDiff", [](std::uint64_t) { return FracDiff(0.4, 1e-3); });
    const std::size_t w = FracDiff(0.4, 1e-3).weights().size();
    std::vector<double> xs;
    for (std::size_t t = 0; xs.size() < 9000; ++t) {
        // Alternating, then a run longer than the window, then one value amid NaN.
        const std::size_t phase = t % (3 * w);
        const bool nan = phase < w ? phase % 2 == 1 : phase < 2 * w + 5 || phase % 7 != 0;
        xs.push_back(nan ? std::nan("") : std::sin(static_cast<double>(t)) * 10.0);
    }
    const auto o = k.run(0, {xs});
    EXPECT_TRUE(o.agrees());
}
