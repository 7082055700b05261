// Adaptive and multi-mode filters: Kalman, one-euro, zero-lag, Gaussian and
// the swiss-army-knife filter.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "lumenfold/core/filters/gaussian.hpp"
#include "lumenfold/core/filters/kalman.hpp"
#include "lumenfold/core/filters/one_euro_filter.hpp"
#include "lumenfold/core/filters/swiss_army_knife.hpp"
#include "lumenfold/core/filters/zero_lag.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "filters/filters_support.hpp"
#include "support.hpp"

using namespace lumenfold::core;
using lumenfold::test::run;

namespace {

std::vector<double> series(std::size_t n) { return lumenfold::test::wave(n, 80.0, 6.0, 0.29, 0.03); }

std::vector<ZeroLagOutput> run_zl(ZeroLag z, const std::vector<double>& xs) {
    std::vector<ZeroLagOutput> out;
    for (double x : xs) out.push_back(z.next(x));
    return out;
}

void expect_all(const std::vector<double>& out, double v, double tol) {
    for (std::size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(out[i], v, tol) << "bar " << i + 1;
}

}  // namespace

// ---- Kalman ----

TEST(Kalman, RunningMeanAndDegenerateNoise) {
    const auto mean = run(KalmanFilter(0.0, 1.0), {4.0, 8.0, 3.0, 9.0});
    EXPECT_EQ(mean[0], 4.0);
    EXPECT_NEAR(mean[1], 6.0, 1e-14);
    EXPECT_NEAR(mean[2], 5.0, 1e-14);
    EXPECT_NEAR(mean[3], 6.0, 1e-14);
    // No measurement noise: the gain is 1 and the output follows the input.
    EXPECT_EQ(run(KalmanFilter(0.5, 0.0), {3.0, 7.0, -2.0}), (std::vector<double>{3.0, 7.0, -2.0}));
    // Neither noise: the variance falls to 0 and k becomes 0/0 on bar 3.
    const auto z = run(KalmanFilter(0.0, 0.0), {1.0, 2.0, 3.0, 4.0});
    EXPECT_EQ(z[0], 1.0);
    EXPECT_EQ(z[1], 2.0);
    EXPECT_TRUE(std::isnan(z[2]) && std::isnan(z[3]));
    KalmanFilter k(0.0, 1.0);
    k.next(1.0);
    k.next(2.0);
    EXPECT_EQ(k.last_gain(), 0.5);
}

// ---- one-euro ----

TEST(OneEuro, WorkedValuesAndFixedFactor) {
    const auto b0 = run(OneEuroFilter(10, 0.0), {1, 2, 3});
    EXPECT_EQ(b0[0], 1.0);
    EXPECT_NEAR(b0[1], 1.2784314, 5e-8);
    EXPECT_NEAR(b0[2], 1.7577701, 5e-8);
    const auto b1 = run(OneEuroFilter(10, 1.0), {1, 2, 3});
    EXPECT_NEAR(b1[1], 1.2750379, 5e-8);
    EXPECT_NEAR(b1[2], 1.7453318, 5e-8);
    // period_min 0, beta 0: alpha is exactly one half.
    EXPECT_EQ(run(OneEuroFilter(0, 0.0), {4.0, 8.0, 2.0}), (std::vector<double>{4.0, 6.0, 4.0}));
    expect_all(run(OneEuroFilter(7, 2.0), std::vector<double>(30, 12.5)), 12.5, 1e-12);
    const auto nan_first = run(OneEuroFilter(10, 0.0), {kNaN, 1.0});
    EXPECT_TRUE(std::isnan(nan_first[0]) && std::isnan(nan_first[1]));
}

// ---- zero-lag ----

TEST(ZeroLagFilter, WorkedValuesGainHalf) {
    const auto out = run_zl(ZeroLag(9, 5.0), {10, 11, 12, 11});
    const double value[] = {10, 10.14, 10.41, 10.5166};
    const double trigger[] = {10, 10.2, 10.56, 10.648};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(out[i].value, value[i], 1e-12) << i;
        EXPECT_NEAR(out[i].trigger, trigger[i], 1e-12) << i;
    }
    EXPECT_EQ(out[0].value, 10.0);
    EXPECT_EQ(out[0].trigger, 10.0);
}

TEST(ZeroLagFilter, GridLimits) {
    EXPECT_EQ(ZeroLag::grid_limit(5.9), 5);
    EXPECT_EQ(ZeroLag::grid_limit(-5.9), -5);
    EXPECT_EQ(ZeroLag::grid_limit(kNaN), 0);
    EXPECT_EQ(ZeroLag::grid_limit(1e300), 2147483647);
    EXPECT_EQ(ZeroLag::grid_limit(-2147483648.0), -2147483648LL);
    EXPECT_EQ(ZeroLag::grid_limit(-1e300), -2147483648LL);

    const auto xs = series(30);
    const auto five = run_zl(ZeroLag(9, 5.0), xs);
    const auto five_nine = run_zl(ZeroLag(9, 5.9), xs);
    for (std::size_t i = 0; i < xs.size(); ++i) EXPECT_EQ(five[i].value, five_nine[i].value);

    // Only the gain 0 (limit in (-1, 1) or NaN), or no candidate at all
    // (negative, down to the 32-bit minimum): value = c·(1 - a) + a·trigger.
    for (double limit : {0.0, 0.9, -0.9, kNaN, -3.0, -2147483648.0, -1e300}) {
        ZeroLag z(9, limit);
        double c = z.next(xs[0]).value;
        for (std::size_t i = 1; i < xs.size(); ++i) {
            const auto o = z.next(xs[i]);
            EXPECT_EQ(o.value, (c * (1.0 - 0.2)) + 0.2 * (o.trigger + 0.0 * (xs[i] - c))) << limit;
            c = o.value;
        }
    }
    // Length 1: the trigger is the input and the value follows it.
    for (const auto& o : run_zl(ZeroLag(1, 3.0), {5.0, 9.0, 2.0})) EXPECT_NEAR(o.value, o.trigger, 1e-12);
}

TEST(ZeroLagFilter, NaNInputPoisonsBothLines) {
    const auto out = run_zl(ZeroLag(9, 5.0), {10, 11, kNaN, 12, 13});
    EXPECT_FALSE(std::isnan(out[1].value));
    for (int i = 2; i < 5; ++i) EXPECT_TRUE(std::isnan(out[i].value) && std::isnan(out[i].trigger)) << i;
}

// ---- Gaussian ----

TEST(Gaussian, PoleClampAndCoefficients) {
    const auto xs = series(40);
    EXPECT_EQ(run(GaussianFilter(10, 0), xs), run(GaussianFilter(10, 1), xs));
    EXPECT_EQ(run(GaussianFilter(10, 5), xs), run(GaussianFilter(10, 4), xs));
    EXPECT_EQ(run(GaussianFilter(10, 100), xs), run(GaussianFilter(10, 4), xs));
    EXPECT_NEAR(GaussianFilter(20, 1).alpha(), 0.3821217, 5e-8);
    EXPECT_NEAR(GaussianFilter(20, 2).alpha(), 0.5056970, 5e-8);
    EXPECT_NEAR(GaussianFilter(20, 2).alpha_pow(), 0.2557294, 5e-8);
    EXPECT_NEAR(GaussianFilter(20, 4).alpha(), 0.6313943, 5e-8);
    EXPECT_NEAR(GaussianFilter(20, 4).alpha_pow(), 0.1589288, 5e-8);
}

TEST(Gaussian, WarmupRecursionAndEdges) {
    for (std::uint64_t n = 1; n <= 4; ++n) {
        const auto out = run(GaussianFilter(15, n), {3.0, 5.0, 4.0, 7.0, 6.0, 8.0});
        for (std::uint64_t i = 0; i < n; ++i) EXPECT_EQ(out[i], (std::vector<double>{3, 5, 4, 7})[i]);
        expect_all(run(GaussianFilter(15, n), std::vector<double>(40, 9.0)), 9.0, 1e-9);
    }
    // Two poles, bar 3: x·a + 2d·y1 - d²·y2 over the warm-up outputs.
    GaussianFilter g(15, 2);
    const double a = g.alpha();
    const double d = 1.0 - a;
    g.next(3.0);
    g.next(5.0);
    EXPECT_EQ(g.next(4.0), (4.0 * (a * a) + (2.0 * d) * 5.0) - (d * d) * 3.0);
    // Period 1: input weight 0; one pole holds the first input, two poles
    // continue the line through the first two.
    EXPECT_EQ(run(GaussianFilter(1, 1), {2.0, 9.0, 4.0}), (std::vector<double>{2.0, 2.0, 2.0}));
    EXPECT_EQ(run(GaussianFilter(1, 2), {2.0, 3.0, 9.0, 9.0}), (std::vector<double>{2.0, 3.0, 4.0, 5.0}));
    const auto zero = run(GaussianFilter(0, 3), {1.0, 2.0, 3.0, 4.0});
    EXPECT_EQ(zero[2], 3.0);
    EXPECT_TRUE(std::isnan(zero[3]));
}

// ---- swiss-army-knife ----

namespace {

// The first filtered output after `period` zero bars, fed 1.0: c0·b0.
double first_response(SwissMode m, std::uint64_t period, double delta) {
    SwissArmyKnife f(m, period, delta);
    for (std::uint64_t i = 0; i < period; ++i) f.next(0.0);
    return f.next(1.0);
}

}  // namespace

TEST(SwissArmyKnifeFilter, WorkedValuesAndFactors) {
    EXPECT_EQ(run(SwissArmyKnife(SwissMode::Smooth, 3, 0.0), {4, 8, 12, 16, 20}),
              (std::vector<double>{4, 8, 12, 12, 16}));
    EXPECT_EQ(run(SwissArmyKnife(SwissMode::SMA, 2, 0.0), {1, 2, 3, 4}), (std::vector<double>{1, 2, 3, 4}));
    const double a1 = first_response(SwissMode::EMA, 20, 0.0);
    EXPECT_NEAR(a1, 0.2734575, 5e-8);
    EXPECT_EQ(first_response(SwissMode::HighPass, 20, 0.0), (a1 * -0.5) + 1.0);
    const double a2sq = first_response(SwissMode::Gauss, 20, 0.0);
    EXPECT_NEAR(std::sqrt(a2sq), 0.3821693, 5e-8);
    EXPECT_EQ(first_response(SwissMode::Butterworth, 20, 0.0), a2sq * 0.25);
    const double a3 = 1.0 - 2.0 * first_response(SwissMode::BandPass, 20, 0.1);
    EXPECT_NEAR(a3, 0.9390625, 5e-8);
    EXPECT_NEAR(2.0 * first_response(SwissMode::BandStop, 20, 0.1) - 1.0, 0.9390625, 5e-8);
    // Band modes: 4pi·delta/P as the angle, gamma = 1/cos of it.
    const double gamma = 1.0 / std::cos((0.1 * 12.566370614359172) / 20.0);
    EXPECT_NEAR(gamma, 1.0019772, 5e-8);
    EXPECT_EQ(1.0 - 2.0 * first_response(SwissMode::BandPass, 20, 0.1),
              1.0 - 2.0 * ((1.0 - (gamma - std::sqrt((gamma * gamma) + (-1.0)))) * 0.5));
}

TEST(SwissArmyKnifeFilter, EveryModeOnAConstantInput) {
    const std::vector<double> c(60, 7.0);
    for (SwissMode m : {SwissMode::EMA, SwissMode::SMA, SwissMode::Gauss, SwissMode::Butterworth, SwissMode::Smooth,
                        SwissMode::BandStop}) {
        expect_all(run(SwissArmyKnife(m, 10, 0.1), c), 7.0, 1e-9);
    }
    for (SwissMode m : {SwissMode::HighPass, SwissMode::TwoPoleHighPass}) {
        EXPECT_EQ(run(SwissArmyKnife(m, 10, 0.1), c), std::vector<double>(60, 0.0));
    }
    const auto bp = run(SwissArmyKnife(SwissMode::BandPass, 10, 0.1), c);
    for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(bp[i], 7.0);
    EXPECT_LT(std::fabs(bp[59]), std::fabs(bp[20]));
    // Warm-up: the input (0 for the high-pass modes) for exactly `period` bars.
    const auto xs = series(8);
    for (int m = 1; m <= 9; ++m) {
        const auto out = run(SwissArmyKnife(static_cast<SwissMode>(m), 5, 0.1), xs);
        const bool hp = m == 6 || m == 7;
        for (int i = 0; i < 5; ++i) EXPECT_EQ(out[i], hp ? 0.0 : xs[i]) << m;
        EXPECT_NE(out[5], hp ? 0.0 : xs[5]) << m;
    }
}

TEST(SwissArmyKnifeFilter, PeriodZero) {
    for (int m = 1; m <= 9; ++m) {
        if (m == 5) continue;
        for (double y : run(SwissArmyKnife(static_cast<SwissMode>(m), 0, 0.1), {1.0, 2.0, 3.0})) {
            EXPECT_TRUE(std::isnan(y)) << m;
        }
    }
    EXPECT_EQ(run(SwissArmyKnife(SwissMode::Smooth, 0, 0.0), {4.0, 8.0, 12.0, 16.0}),
              (std::vector<double>{1.0, 4.0, 8.0, 12.0}));
}

TEST(SwissArmyKnifeFilter, SmaKeepsOnlyTheReadableHistory) {
    // A transcription that keeps every input and reads index count - P - 1.
    const std::uint64_t p = 7;
    const double inv = 1.0 / static_cast<double>(p);
    std::vector<double> all;
    double y1 = 0.0, y2 = 0.0, x0 = 0.0, x1 = 0.0, x2 = 0.0;
    SwissArmyKnife f(SwissMode::SMA, p, 0.0);
    for (std::uint64_t n = 1; n <= 5000; ++n) {
        const double x = 50.0 + std::sin(0.37 * static_cast<double>(n)) * 9.0;
        all.push_back(x);
        x2 = x1;
        x1 = x0;
        x0 = x;
        double y = x;
        if (n > p) y = ((1.0 * ((inv * x0 + 0.0 * x1) + 0.0 * x2) + 1.0 * y1) + 0.0 * y2) - all[n - p - 1] * inv;
        y2 = y1;
        y1 = y;
        EXPECT_EQ(f.next(x), y) << n;
        EXPECT_LE(f.history_size(), p + 1);
    }
    EXPECT_EQ(SwissArmyKnife(SwissMode::EMA, p, 0.0).history_size(), 0u);
}
