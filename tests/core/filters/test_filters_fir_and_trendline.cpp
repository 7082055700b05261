// Window FIR filters, the four-bar WMA, the Hilbert FIR and the
// instantaneous trendline.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "lumenfold/core/filters/hamming.hpp"
#include "lumenfold/core/filters/hann.hpp"
#include "lumenfold/core/filters/hilbert_transform.hpp"
#include "lumenfold/core/filters/instantaneous_trendline.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/panic.hpp"
#include "lumenfold/core/filters/triangle.hpp"
#include "filters/filters_support.hpp"
#include "support.hpp"

using namespace lumenfold::core;
using lumenfold::test::expect_capacity_overflow;
using lumenfold::test::run;

namespace {


std::vector<double> series(std::size_t n) { return lumenfold::test::wave(n, 50.0, 4.0, 0.41, 0.1); }

}  // namespace

// ---- window FIR filters ----

TEST(WindowFir, Weights) {
    const auto h4 = hann_weights(4);
    ASSERT_EQ(h4.size(), 4u);
    EXPECT_NEAR(h4[0], 0.6909830, 5e-8);
    EXPECT_NEAR(h4[1], 1.8090170, 5e-8);
    EXPECT_NEAR(h4[2], 1.8090170, 5e-8);
    EXPECT_NEAR(h4[3], 0.6909830, 5e-8);
    EXPECT_NE(h4[0], h4[3]);  // symmetric only in exact arithmetic
    EXPECT_NEAR(weight_sum(h4), 5.0, 1e-15);
    EXPECT_EQ(hann_weights(1), std::vector<double>{2.0});

    const auto hm = HammingFilter::weights(5, 10.0);
    const double d = kPi / 180.0;
    const double expect[] = {std::sin(10 * d), std::sin(50 * d), 1.0, std::sin(130 * d), std::sin(170 * d)};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(hm[i], expect[i], 4e-16) << i;
    // Grouping pedestal + (((180 - 2·pedestal)·k)/D), then ·pi, then /180.
    EXPECT_EQ(HammingFilter::weights(7, 12.5)[4], std::sin(((12.5 + ((155.0 * 4.0) / 6.0)) * kPi) / 180.0));

    EXPECT_EQ(TriangleFilter::weights(4), (std::vector<double>{1, 2, 2, 1}));
    EXPECT_EQ(TriangleFilter::weights(5), (std::vector<double>{1, 2, 3, 2, 1}));
}

TEST(WindowFir, WarmupAndWeightedMean) {
    const auto tri = run(TriangleFilter(4), {1.0, 2.0, 3.0, 4.0, 8.0});
    EXPECT_EQ(tri, (std::vector<double>{1.0, 2.0, 3.0, 2.5, (8.0 + 8.0 + 6.0 + 2.0) / 6.0}));

    const auto h4 = hann_weights(4);
    const double sum = weight_sum(h4);
    const auto hann = run(HannFilter(4), {3.0, 1.0, 4.0, 1.0, 5.0});
    EXPECT_EQ(hann[0], 3.0);
    EXPECT_EQ(hann[2], 4.0);
    EXPECT_EQ(hann[3], (((0.0 + 1.0 * h4[0]) + 4.0 * h4[1]) + 1.0 * h4[2] + 3.0 * h4[3]) / sum);
    EXPECT_EQ(hann[4], ((((0.0 + 5.0 * h4[0]) + 1.0 * h4[1]) + 4.0 * h4[2]) + 1.0 * h4[3]) / sum);

    const auto xs = series(10);
    EXPECT_EQ(run(HannFilter(1), xs), xs);
}

TEST(WindowFir, DegenerateWindowsReturnTheInput) {
    const auto xs = series(12);
    EXPECT_EQ(run(HannFilter(0), xs), xs);
    EXPECT_EQ(run(HammingFilter(0, 10.0), xs), xs);
    EXPECT_EQ(run(TriangleFilter(0), xs), xs);
    EXPECT_EQ(run(HammingFilter(1, 0.0), xs), xs);  // single weight sin 0
    EXPECT_EQ(run(HammingFilter(2, 0.0), xs), xs);  // weights 0 and sin(pi) ~ 1.2e-16
    EXPECT_EQ(run(HammingFilter(5, kNaN), xs), xs);
}

TEST(WindowFir, NaNStaysForOneWindow) {
    auto xs = series(20);
    xs[8] = kNaN;  // window already full
    for (const auto& out : {run(HannFilter(4), xs), run(HammingFilter(4, 10.0), xs), run(TriangleFilter(4), xs)}) {
        for (std::size_t i = 0; i < xs.size(); ++i) EXPECT_EQ(std::isnan(out[i]), i >= 8 && i < 12) << i;
    }
    auto ys = series(20);
    ys[1] = kNaN;  // during warm-up: returned, then held until it leaves
    const auto out = run(HannFilter(5), ys);
    for (std::size_t i = 0; i < ys.size(); ++i) EXPECT_EQ(std::isnan(out[i]), i == 1 || i == 4 || i == 5) << i;
}

TEST(WindowFir, HugeWindowFailsWithCapacityOverflow) {
    for (std::uint64_t n : {std::uint64_t{1} << 59, std::uint64_t{1} << 61, ~std::uint64_t{0}}) {
        expect_capacity_overflow([n] { HannFilter f(n); });
        expect_capacity_overflow([n] { HammingFilter f(n, 10.0); });
        expect_capacity_overflow([n] { TriangleFilter f(n); });
    }
}

// ---- four-bar WMA and Hilbert FIR ----

TEST(EhlersWma4Filter, StartsFromZerosAndNaNLastsFourBars) {
    EXPECT_EQ(run(EhlersWma4(), {10, 10, 10, 10, 10}), (std::vector<double>{4, 7, 9, 10, 10}));
    const auto out = run(EhlersWma4(), {1, 2, kNaN, 3, 4, 5, 6, 7});
    for (std::size_t i = 0; i < out.size(); ++i) EXPECT_EQ(std::isnan(out[i]), i >= 2 && i < 6) << i;
    EXPECT_EQ(out[7], ((((7.0 * 4.0) + (6.0 * 3.0)) + (5.0 + 5.0)) + 4.0) / 10.0);
}

TEST(HilbertFirFilter, ImpulseGainAndConstantInput) {
    HilbertFIR h;
    std::vector<double> impulse;
    impulse.push_back(h.next(1.0, 0.0));
    for (int i = 0; i < 9; ++i) impulse.push_back(h.next(0.0, 0.0));
    EXPECT_EQ(impulse, (std::vector<double>{0.54 * 0.0962, 0.0, 0.54 * 0.5769, 0.0, 0.54 * -0.5769, 0.0,
                                            0.54 * -0.0962, 0.0, 0.0, 0.0}));
    EXPECT_EQ(impulse[0], 0.051948);

    HilbertFIR one, three;
    double s1 = 0, s3 = 0;
    for (int i = 0; i < 7; ++i) {
        s1 = one.next(1.0, 0.0);
        s3 = three.next(3.0, 0.0);
    }
    EXPECT_EQ(s1, 0.54 * -4.163336342344337e-17);
    EXPECT_EQ(s3, 0.0);

    HilbertFIR g6, g50;
    EXPECT_EQ(g6.next(1.0, 6.0), 0.99 * 0.0962);
    EXPECT_EQ(g50.next(1.0, 50.0), ((50.0 * 0.075) + 0.54) * 0.0962);
    EXPECT_NEAR((50.0 * 0.075) + 0.54, 4.29, 1e-15);
}

TEST(HilbertFirFilter, NaNReachesEvenTapsOnly) {
    HilbertFIR h;
    std::vector<bool> nan;
    nan.push_back(std::isnan(h.next(kNaN, 10.0)));
    for (int i = 0; i < 8; ++i) nan.push_back(std::isnan(h.next(1.0, 10.0)));
    EXPECT_EQ(nan, (std::vector<bool>{true, false, true, false, true, false, true, false, false}));
    HilbertFIR p;
    EXPECT_TRUE(std::isnan(p.next(1.0, kNaN)));
    EXPECT_FALSE(std::isnan(p.next(1.0, 10.0)));
}

// ---- instantaneous trendline ----

TEST(Trendline, WarmupAndConstantInput) {
    const auto xs = series(40);
    const auto out = run(InstantaneousTrendline(), xs);
    for (std::size_t i = 0; i < 11; ++i) EXPECT_EQ(out[i], xs[i]);
    EXPECT_NE(out[11], xs[11]);

    for (double y : run(InstantaneousTrendline(), std::vector<double>(120, 10.0))) EXPECT_EQ(y, 10.0);
}

TEST(Trendline, PeriodAfterBarSevenAndBounds) {
    InstantaneousTrendline it;
    const auto xs = series(300);
    for (std::size_t i = 0; i < xs.size(); ++i) {
        it.next(xs[i]);
        if (i < 6) {
            EXPECT_EQ(it.period(), 6.0);
        } else if (i == 6) {
            EXPECT_EQ(it.period(), 6.000000000000001);
            EXPECT_EQ(it.smooth_period(), 6.000000000000001);
        } else {
            EXPECT_GE(it.period(), 6.0 - 1e-9);
            EXPECT_LE(it.period(), 50.0 + 1e-9);
            EXPECT_GE(it.smooth_period(), 6.0 - 1e-9);
            EXPECT_LE(it.smooth_period(), 50.0 + 1e-9);
        }
    }
}

TEST(Trendline, TracksTheCycleOfASine) {
    for (double cycle : {12.0, 20.0, 35.0}) {
        InstantaneousTrendline it;
        std::vector<double> out;
        for (int i = 0; i < 200; ++i) {
            out.push_back(it.next(100.0 + 10.0 * std::sin(2.0 * kPi * i / cycle)));
            if (i >= 70) {
                EXPECT_NEAR(it.smooth_period(), cycle, 0.5) << "cycle " << cycle << " bar " << i + 1;
            }
        }
        // Averaging over one whole cycle removes it: the trendline sits on the
        // mean level while the input swings by +-10.
        for (std::size_t i = 80; i < out.size(); ++i) EXPECT_NEAR(out[i], 100.0, 1e-9) << "bar " << i + 1;
    }
}

TEST(Trendline, NaNOnBarTen) {
    auto xs = series(30);
    // The cycle average of bar 9, from the smoothed period after bar 9.
    InstantaneousTrendline ref;
    for (int i = 0; i < 9; ++i) ref.next(xs[i]);
    const std::uint64_t dc = InstantaneousTrendline::cycle_length(ref.smooth_period() + 0.5);
    ASSERT_EQ(dc, 6u);
    double s = 0.0;
    for (std::uint64_t i = 0; i < dc; ++i) s = s + xs[8 - i];
    const double avg9 = s / 6.0;

    xs[9] = kNaN;
    const auto out = run(InstantaneousTrendline(), xs);
    EXPECT_TRUE(std::isnan(out[9]));
    EXPECT_EQ(out[10], xs[10]);
    EXPECT_EQ(out[11], avg9 / 10.0);
    for (std::size_t i = 12; i < out.size(); ++i) EXPECT_EQ(out[i], 0.0) << i;
}

TEST(Trendline, EarlyNaNOnlyTouchesTheAverage) {
    auto xs = series(80);
    xs[1] = kNaN;  // leaves the price smoother before the Hilbert stages start
    InstantaneousTrendline it;
    std::vector<double> out;
    for (double x : xs) {
        out.push_back(it.next(x));
        EXPECT_FALSE(std::isnan(it.period()));
    }
    for (std::size_t i = 11; i < out.size(); ++i) EXPECT_TRUE(std::isfinite(out[i])) << i;
}

TEST(Trendline, CycleLengthConversionSaturates) {
    EXPECT_EQ(InstantaneousTrendline::cycle_length(kNaN), 0u);
    EXPECT_EQ(InstantaneousTrendline::cycle_length(-3.7), 0u);
    EXPECT_EQ(InstantaneousTrendline::cycle_length(20.99), 20u);
    EXPECT_EQ(InstantaneousTrendline::cycle_length(1e300), ~std::uint64_t{0});
    EXPECT_EQ(InstantaneousTrendline::cycle_length(INFINITY), ~std::uint64_t{0});
}
