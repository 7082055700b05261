// Recursive filters: two-pole family, Butterworth, band-pass, roofing and the
// Laguerre filters.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "lumenfold/core/filters/bandpass.hpp"
#include "lumenfold/core/filters/butterworth.hpp"
#include "lumenfold/core/filters/classic_laguerre.hpp"
#include "lumenfold/core/filters/generalized_laguerre.hpp"
#include "lumenfold/core/filters/high_pass.hpp"
#include "lumenfold/core/filters/laguerre_filter.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/filters/roofing_filter.hpp"
#include "lumenfold/core/filters/super_smoother.hpp"
#include "lumenfold/core/filters/ultimate_smoother.hpp"
#include "support.hpp"

using namespace lumenfold::core;
using lumenfold::test::run;

namespace {


// Bit-for-bit equality that also matches NaN with NaN.
void expect_same(const std::vector<double>& a, const std::vector<double>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::isnan(b[i])) {
            EXPECT_TRUE(std::isnan(a[i])) << "bar " << i + 1;
        } else {
            EXPECT_EQ(a[i], b[i]) << "bar " << i + 1;
        }
    }
}

const std::vector<double> kBars = {3.0, 5.0, 4.0, 7.0, 6.0};
constexpr double kK = 4.442212012175967;

struct Ref {
    double c1, c2, c3;
};
Ref ref_poles(double p) {
    const double a = std::exp(-kK / p);
    return {0.0, std::cos(kK / p) * (a + a), -(a * a)};
}

std::vector<double> series(std::size_t n) {
    std::vector<double> xs;
    for (std::size_t i = 0; i < n; ++i) xs.push_back(100.0 + 7.0 * std::sin(0.37 * i) + 0.05 * i * i);
    return xs;
}

}  // namespace

// ---- two-pole family ----

TEST(TwoPole, CoefficientsUseOnePointFourOneFourPi) {
    const auto ss = TwoPoleCoefficients::super_smoother(10.0);
    EXPECT_NEAR(ss.c1, 0.2531353, 5e-8);
    EXPECT_NEAR(ss.c2, 1.1581606, 5e-8);
    EXPECT_NEAR(ss.c3, -0.4112959, 5e-8);
    const auto hp = TwoPoleCoefficients::high_pass(20.0);
    const double a = std::exp(-4.442212012175967 / 20.0);
    EXPECT_EQ(hp.c3, -(a * a));
    EXPECT_EQ(hp.c1, ((hp.c2 + 1.0) - hp.c3) * 0.25);
    // sqrt(2)·pi would give a different pole radius.
    EXPECT_NE(hp.c3, -std::exp(-2.0 * 4.442882938158366 / 20.0));
}

TEST(TwoPole, WarmupBarsOneToFive) {
    Ref r = ref_poles(10.0);
    const double ss_c1 = (1.0 - r.c2) - r.c3;
    const double hp_c1 = ((r.c2 + 1.0) - r.c3) * 0.25;

    const double ss4 = ((ss_c1 * (7.0 + 4.0)) * 0.5 + r.c2 * 4.0) + r.c3 * 5.0;
    const double ss5 = ((ss_c1 * (6.0 + 7.0)) * 0.5 + r.c2 * ss4) + r.c3 * 4.0;
    expect_same(run(SuperSmoother(10), kBars), {3.0, 5.0, 4.0, ss4, ss5});

    const double hp4 = hp_c1 * ((7.0 - (4.0 + 4.0)) + 5.0);
    const double hp5 = (hp_c1 * ((6.0 - (7.0 + 7.0)) + 4.0) + r.c2 * hp4) + r.c3 * 0.0;
    expect_same(run(HighPass(10), kBars), {0.0, 0.0, 0.0, hp4, hp5});

    const double us4 = (((7.0 * (1.0 - hp_c1) + ((hp_c1 + hp_c1) - r.c2) * 4.0) - (hp_c1 + r.c3) * 5.0) +
                        r.c2 * 4.0) +
                       r.c3 * 5.0;
    const double us5 = (((6.0 * (1.0 - hp_c1) + ((hp_c1 + hp_c1) - r.c2) * 7.0) - (hp_c1 + r.c3) * 4.0) +
                        r.c2 * us4) +
                       r.c3 * 4.0;
    expect_same(run(UltimateSmoother(10), kBars), {3.0, 5.0, 4.0, us4, us5});
}

TEST(TwoPole, ConstantInput) {
    const std::vector<double> c(60, 42.5);
    for (double y : run(HighPass(10), c)) EXPECT_EQ(y, 0.0);
    const auto ss = run(SuperSmoother(10), c);
    const auto us = run(UltimateSmoother(10), c);
    for (std::size_t i = 0; i < c.size(); ++i) {
        EXPECT_NEAR(ss[i], 42.5, 1e-12);
        EXPECT_NEAR(us[i], 42.5, 1e-12);
    }
    EXPECT_EQ(ss[2], 42.5);
    EXPECT_EQ(us[2], 42.5);
}

TEST(TwoPole, UltimateIsInputMinusHighPassUpToRounding) {
    const auto xs = series(80);
    const auto hp = run(HighPass(14), xs);
    const auto us = run(UltimateSmoother(14), xs);
    for (std::size_t i = 3; i < xs.size(); ++i) EXPECT_NEAR(us[i], xs[i] - hp[i], 1e-9);
}

TEST(TwoPole, NaNHandling) {
    std::vector<double> first_nan = series(20);
    first_nan[0] = kNaN;
    for (const auto& out : {run(SuperSmoother(10), first_nan), run(UltimateSmoother(10), first_nan)}) {
        EXPECT_TRUE(std::isnan(out[0]));
        for (std::size_t i = 1; i < out.size(); ++i) EXPECT_TRUE(std::isfinite(out[i])) << i;
    }
    auto hp = run(HighPass(10), first_nan);
    for (double y : hp) EXPECT_TRUE(std::isfinite(y));
    EXPECT_EQ(hp[0], 0.0);

    std::vector<double> late = series(20);
    late[3] = kNaN;
    for (const auto& out :
         {run(SuperSmoother(10), late), run(HighPass(10), late), run(UltimateSmoother(10), late)}) {
        for (std::size_t i = 0; i < 3; ++i) EXPECT_FALSE(std::isnan(out[i]));
        for (std::size_t i = 3; i < out.size(); ++i) EXPECT_TRUE(std::isnan(out[i])) << i;
    }
}

TEST(TwoPole, DegeneratePeriods) {
    const auto xs = series(8);
    const auto ss = run(SuperSmoother(0), xs);
    const auto hp = run(HighPass(0), xs);
    const auto us = run(UltimateSmoother(0), xs);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(ss[i], xs[i]);
        EXPECT_EQ(hp[i], 0.0);
        EXPECT_EQ(us[i], xs[i]);
    }
    for (std::size_t i = 3; i < xs.size(); ++i) {
        EXPECT_TRUE(std::isnan(ss[i]));
        EXPECT_TRUE(std::isnan(hp[i]));
        EXPECT_TRUE(std::isnan(us[i]));
    }
    for (double y : run(SuperSmoother(1), xs)) EXPECT_TRUE(std::isfinite(y));
    for (double y : run(UltimateSmoother(1), xs)) EXPECT_TRUE(std::isfinite(y));
}

// ---- Butterworth ----

TEST(Butterworth, WarmupBarsOneToFive) {
    Ref r = ref_poles(10.0);
    const double b = r.c2, c = -r.c3, c1 = (c + (1.0 - b)) * 0.25;
    const double y3 = (b * 5.0 - c * 3.0) + c1 * (3.0 + (4.0 + (5.0 + 5.0)));
    const double y4 = (b * y3 - c * 5.0) + c1 * (5.0 + (7.0 + (4.0 + 4.0)));
    const double y5 = (b * y4 - c * y3) + c1 * (4.0 + (6.0 + (7.0 + 7.0)));
    expect_same(run(Butterworth2(10), kBars), {3.0, 5.0, y3, y4, y5});

    const double a = std::exp(-3.141592653589793 / 10.0);
    const double b3 = std::cos(5.46008803193906 / 10.0) * (a + a), c3 = a * a, bc = c3 * b3, cc = c3 * c3;
    const double k1 = ((1.0 - c3) * (c3 + (1.0 - b3))) * 0.125;
    const double z4 = ((((b3 + c3) * 4.0 - (c3 + bc) * 5.0) + cc * 3.0)) + k1 * (3.0 + ((7.0 + 3.0 * 4.0) + 3.0 * 5.0));
    const double z5 = ((((b3 + c3) * z4 - (c3 + bc) * 4.0) + cc * 5.0)) + k1 * (5.0 + ((6.0 + 3.0 * 7.0) + 3.0 * 4.0));
    expect_same(run(Butterworth3(10), kBars), {3.0, 5.0, 4.0, z4, z5});
}

TEST(Butterworth, UnitGainAtZeroFrequency) {
    const std::vector<double> c(80, 17.25);
    for (double y : run(Butterworth2(12), c)) EXPECT_NEAR(y, 17.25, 1e-11);
    for (double y : run(Butterworth3(12), c)) EXPECT_NEAR(y, 17.25, 1e-11);
}

TEST(Butterworth, NaNAndDegeneratePeriod) {
    std::vector<double> xs = series(10);
    xs[0] = kNaN;
    const auto b2 = run(Butterworth2(10), xs);
    const auto b3 = run(Butterworth3(10), xs);
    EXPECT_EQ(b2[1], xs[1]);
    EXPECT_EQ(b3[2], xs[2]);
    for (std::size_t i = 2; i < xs.size(); ++i) EXPECT_TRUE(std::isnan(b2[i]));
    for (std::size_t i = 3; i < xs.size(); ++i) EXPECT_TRUE(std::isnan(b3[i]));

    const auto ys = series(8);
    const auto z2 = run(Butterworth2(0), ys);
    const auto z3 = run(Butterworth3(0), ys);
    for (std::size_t i = 0; i < ys.size(); ++i) {
        EXPECT_EQ(z2[i] == ys[i], i < 2) << i;
        EXPECT_EQ(std::isnan(z2[i]), i >= 2) << i;
        EXPECT_EQ(z3[i] == ys[i], i < 3) << i;
        EXPECT_EQ(std::isnan(z3[i]), i >= 3) << i;
    }
}

// ---- band-pass ----

TEST(BandPassFilter, FirstOutputsAndCoefficients) {
    BandPass bp(20, 0.3);
    const double g = 1.0 / std::cos((0.3 * 6.283185307179586) / 20.0);
    const double alpha = g - std::sqrt(g * g - 1.0);
    const double beta = std::cos(6.283185307179586 / 20.0);
    EXPECT_EQ(bp.coefficients().alpha, alpha);
    EXPECT_EQ(bp.coefficients().beta, beta);
    const double y1 = ((1.0 - alpha) * 0.5) * 3.0;
    const double y2 = ((1.0 - alpha) * 0.5) * 5.0 + ((alpha + 1.0) * beta) * y1;
    const double y3 = (((1.0 - alpha) * 0.5) * (4.0 - 3.0) + ((alpha + 1.0) * beta) * y2) - alpha * y1;
    expect_same(run(bp, {3.0, 5.0, 4.0}), {y1, y2, y3});
}

TEST(BandPassFilter, ZeroGainAtZeroFrequencyAndDegenerateParameters) {
    const auto out = run(BandPass(20, 0.3), std::vector<double>(400, 5.0));
    EXPECT_GT(std::fabs(out[0]), 0.1);
    EXPECT_LT(std::fabs(out.back()), 1e-6);
    for (double y : run(BandPass(0, 0.3), series(10))) EXPECT_TRUE(std::isnan(y));
    for (double y : run(BandPass(20, 0.0), series(10))) EXPECT_EQ(y, 0.0);
}

// ---- roofing ----

TEST(Roofing, CoefficientsFromPeriods) {
    const double alpha = RoofingHighPass::alpha_from_angle(4.442212012175967 / 48.0);
    EXPECT_NEAR(alpha, 0.0885135, 5e-8);
    const auto k = RoofingHighPass::from_period(48).coefficients();
    EXPECT_NEAR(k.a, 0.9134452, 5e-8);
    EXPECT_NEAR(k.b, 1.8229730, 5e-8);
    EXPECT_NEAR(k.c, -0.8308077, 5e-8);
}

TEST(Roofing, WarmupBarsOneToFive) {
    const double alpha = RoofingHighPass::alpha_from_angle(kK / 48.0);
    const double half = (alpha * -0.5) + 1.0, om = 1.0 - alpha;
    const double A = half * half, B = om + om, C = -(om * om);
    const auto s = TwoPoleCoefficients::super_smoother(10.0);
    const double hp3 = A * ((4.0 - (5.0 + 5.0)) + 3.0);
    const double y3 = (s.c1 * (hp3 + 0.0)) * 0.5;
    const double hp4 = (A * ((7.0 - (4.0 + 4.0)) + 5.0)) + B * hp3;
    const double y4 = ((s.c1 * (hp4 + hp3)) * 0.5 + s.c2 * y3);
    const double hp5 = ((A * ((6.0 - (7.0 + 7.0)) + 4.0)) + B * hp4) + C * hp3;
    const double y5 = ((s.c1 * (hp5 + hp4)) * 0.5 + s.c2 * y4) + s.c3 * y3;
    expect_same(run(RoofingFilter(48, 10), kBars), {0.0, 0.0, y3, y4, y5});
}

TEST(Roofing, LinesGiveZeroAndDegeneratePeriods) {
    std::vector<double> line;
    for (int i = 0; i < 50; ++i) line.push_back(10.0 + 2.0 * i);
    for (double y : run(RoofingFilter(48, 10), line)) EXPECT_EQ(y, 0.0);
    for (double y : run(RoofingFilter(48, 10), std::vector<double>(30, 3.0))) EXPECT_EQ(y, 0.0);

    for (auto f : {RoofingFilter(0, 10), RoofingFilter(48, 0)}) {
        const auto out = run(f, series(8));
        EXPECT_EQ(out[0], 0.0);
        EXPECT_EQ(out[1], 0.0);
        for (std::size_t i = 2; i < out.size(); ++i) EXPECT_TRUE(std::isnan(out[i]));
    }
    for (double y : run(RoofingFilter(1, 2), series(30))) EXPECT_TRUE(std::isfinite(y));
}

// ---- Laguerre ----

TEST(Laguerre, ClassicWorkedValues) {
    expect_same(run(ClassicLaguerre(0.5), {1.0, 2.0, 3.0}), {1.0, 1.03125, 1.125});
    // gamma 0: a four-tap (1, 2, 2, 1)/6 FIR whose missing past is the first input.
    const auto g0 = run(ClassicLaguerre(0.0), {2.0, 8.0, 5.0, 1.0, 9.0});
    EXPECT_DOUBLE_EQ(g0[1], (8.0 + 4.0 + 4.0 + 2.0) / 6.0);
    EXPECT_DOUBLE_EQ(g0[3], (1.0 + 10.0 + 16.0 + 2.0) / 6.0);
    EXPECT_DOUBLE_EQ(g0[4], (9.0 + 2.0 + 10.0 + 8.0) / 6.0);
    for (double y : run(ClassicLaguerre(1.0), series(20))) EXPECT_NEAR(y, series(1)[0], 1e-12);
}

TEST(Laguerre, FilterWarmupAndGammaOne) {
    const auto out = run(LaguerreFilter(10, 0.8), {4.0, 20.0, 6.0});
    EXPECT_EQ(out[0], 4.0);
    EXPECT_DOUBLE_EQ(out[1], (20.0 + 15.0 * 4.0) / 16.0);
    const auto xs = series(30);
    const auto us = run(UltimateSmoother(10), xs);
    const auto g1 = run(LaguerreFilter(10, 1.0), xs);
    for (std::size_t i = 1; i < xs.size(); ++i) {
        const double x1 = xs[0];
        EXPECT_EQ(g1[i], ((((us[i] + x1 * 4.0) + x1 * 6.0) + x1 * 4.0) + x1) * 0.0625);
    }
    for (double y : run(LaguerreFilter(10, 0.6), std::vector<double>(60, 9.5))) EXPECT_NEAR(y, 9.5, 1e-11);
}

TEST(Laguerre, FilterUsesSixthStageNotFifth) {
    // gamma 0: each stage is a one-bar delay of the one before, so the output
    // weighs the smoother outputs of 0, 1, 2, 3 and 5 bars back.
    const auto xs = series(12);
    const auto us = run(UltimateSmoother(8), xs);
    const auto out = run(LaguerreFilter(8, 0.0), xs);
    for (std::size_t n = 5; n < xs.size(); ++n) {
        EXPECT_EQ(out[n], ((((us[n] + us[n - 1] * 4.0) + us[n - 2] * 6.0) + us[n - 3] * 4.0) + us[n - 5]) * 0.0625);
    }
}

TEST(Laguerre, GeneralizedOrderClampAndOrderOne) {
    const auto xs = series(40);
    expect_same(run(GeneralizedLaguerre(12, 0.7, 0), xs), run(GeneralizedLaguerre(12, 0.7, 1), xs));
    expect_same(run(GeneralizedLaguerre(12, 0.7, 11), xs), run(GeneralizedLaguerre(12, 0.7, 10), xs));
    expect_same(run(GeneralizedLaguerre(12, 0.7, 1000), xs), run(GeneralizedLaguerre(12, 0.7, 10), xs));
    EXPECT_EQ(GeneralizedLaguerre(12, 0.7, 0).order(), 1u);
    EXPECT_EQ(GeneralizedLaguerre(12, 0.7, ~std::uint64_t{0}).order(), 10u);
    // Order 1 is the smoother alone (the mean starts from +0.0).
    expect_same(run(GeneralizedLaguerre(12, 0.7, 1), xs), run(UltimateSmoother(12), xs));
    EXPECT_EQ(std::signbit(run(GeneralizedLaguerre(12, 0.7, 1), {1.0, -0.0})[1]), false);
}

TEST(Laguerre, GeneralizedWarmupBarsOneToThree) {
    const double g = 0.4;
    const auto out = run(GeneralizedLaguerre(12, g, 3), {2.0, 6.0, 5.0});
    EXPECT_EQ(out[0], 2.0);
    // Bar 2: stage 1 = 6; stages 2, 3 from previous stages all equal to 2.
    const double s2 = (2.0 - g * 2.0) + g * 2.0;
    EXPECT_EQ(out[1], ((0.0 + 6.0) + s2 + s2) / 3.0);
    // Bar 3: stage 2 from (6, s2), stage 3 from (s2, s2).
    const double t2 = (6.0 - g * 6.0) + g * s2;
    const double t3 = (s2 - g * s2) + g * s2;
    EXPECT_EQ(out[2], (((0.0 + 5.0) + t2) + t3) / 3.0);
}

TEST(Laguerre, NaNAndZeroLength) {
    std::vector<double> xs = series(20);
    xs[0] = kNaN;
    const auto cl = run(ClassicLaguerre(0.5), xs);
    const auto lf = run(LaguerreFilter(10, 0.5), xs);
    const auto gl = run(GeneralizedLaguerre(10, 0.5, 4), xs);
    const auto g1 = run(GeneralizedLaguerre(10, 0.5, 1), xs);
    for (std::size_t i = 0; i < xs.size(); ++i) {
        EXPECT_TRUE(std::isnan(cl[i]));
        EXPECT_TRUE(std::isnan(lf[i]));
        EXPECT_TRUE(std::isnan(gl[i]));
        EXPECT_EQ(std::isnan(g1[i]), i == 0);  // order 1 recovers like the smoother
    }
    for (const auto& out : {run(LaguerreFilter(0, 0.5), series(8)), run(GeneralizedLaguerre(0, 0.5, 3), series(8))}) {
        for (std::size_t i = 0; i < 3; ++i) EXPECT_TRUE(std::isfinite(out[i]));
        for (std::size_t i = 3; i < out.size(); ++i) EXPECT_TRUE(std::isnan(out[i]));
    }
}

// Swapping gamma and order must not compile: both would convert silently.
static_assert(std::is_constructible_v<GeneralizedLaguerre, std::uint64_t, double, std::uint64_t>);
static_assert(!std::is_constructible_v<GeneralizedLaguerre, std::uint64_t, std::uint64_t, double>);
