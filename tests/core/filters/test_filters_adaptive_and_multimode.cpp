// Adaptive and multi-mode filters: Kalman, one-euro, zero-lag, Gaussian and
// the swiss-army-knife filter.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "filters/filters_support.hpp"
#include "lumenfold/core/filters/gaussian.hpp"
#include "lumenfold/core/filters/kalman.hpp"
#include "lumenfold/core/filters/one_euro_filter.hpp"
#include "lumenfold/core/filters/swiss_army_knife.hpp"
#include "lumenfold/core/filters/zero_lag.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "support.hpp"

using namespace lumenfold::core;
using lumenfold::test::run;

namespace {

std::vector<double> series(std::size_t n) { return lumenfold::test::wave(n, 80.0, 6.0, 0.29, 0.03); }

void expect_near_all(const std::vector<double>& out, const std::vector<double>& want, double tol) {
    ASSERT_EQ(out.size(), want.size());
    for (std::size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(out[i], want[i], tol) << "bar " << i + 1;
}

}  // namespace

TEST(Kalman, RunningMeanAndDegenerateNoise) {
    // Gain 0, noise 1: k = 1/2, 1/3, ... gives the running mean.
    expect_near_all(run(KalmanFilter(0.0, 1.0), {4, 8, 3, 9}), {4, 6, 5, 6}, 1e-14);
    EXPECT_EQ(run(KalmanFilter(0.5, 0.0), {3, 7, -2}), (std::vector<double>{3, 7, -2}));
    const auto z = run(KalmanFilter(0.0, 0.0), {1, 2, 3});
    EXPECT_EQ(z[1], 2.0);
    EXPECT_TRUE(std::isnan(z[2]));  // the variance fell to 0: k = 0/0
}

TEST(OneEuro, WorkedValues) {
    expect_near_all(run(OneEuroFilter(10, 0.0), {1, 2, 3}), {1, 1.2784314, 1.7577701}, 5e-8);
    expect_near_all(run(OneEuroFilter(10, 1.0), {1, 2, 3}), {1, 1.2750379, 1.7453318}, 5e-8);
    EXPECT_EQ(run(OneEuroFilter(0, 0.0), {4, 8, 2}), (std::vector<double>{4, 6, 4}));  // alpha exactly 1/2
    expect_near_all(run(OneEuroFilter(7, 2.0), std::vector<double>(30, 12.5)), std::vector<double>(30, 12.5), 1e-12);
}

TEST(ZeroLagFilter, WorkedValuesAndNaN) {
    ZeroLag z(9, 5.0);
    const double value[] = {10, 10.14, 10.41, 10.5166};
    const double trigger[] = {10, 10.2, 10.56, 10.648};
    const double xs[] = {10, 11, 12, 11};
    for (int i = 0; i < 4; ++i) {
        const ZeroLagOutput o = z.next(xs[i]);
        EXPECT_NEAR(o.value, value[i], 1e-12) << i;
        EXPECT_NEAR(o.trigger, trigger[i], 1e-12) << i;
    }
    const ZeroLagOutput n = z.next(kNaN);
    EXPECT_TRUE(std::isnan(n.value) && std::isnan(n.trigger));
    EXPECT_TRUE(std::isnan(z.next(12.0).value));
}

TEST(ZeroLagFilter, GridLimits) {
    EXPECT_EQ(ZeroLag::grid_limit(5.9), 5);
    EXPECT_EQ(ZeroLag::grid_limit(-5.9), -5);
    EXPECT_EQ(ZeroLag::grid_limit(kNaN), 0);
    EXPECT_EQ(ZeroLag::grid_limit(1e300), 2147483647);
    EXPECT_EQ(ZeroLag::grid_limit(-1e300), -2147483648LL);
    // Only the gain 0, or no candidate at all down to the 32-bit minimum:
    // value = c·(1 - alpha) + alpha·trigger.
    const auto xs = series(30);
    for (double limit : {0.9, -0.9, kNaN, -3.0, -2147483648.0, -1e300}) {
        ZeroLag z(9, limit);
        double c = z.next(xs[0]).value;
        for (std::size_t i = 1; i < xs.size(); ++i) {
            const ZeroLagOutput o = z.next(xs[i]);
            EXPECT_EQ(o.value, (c * (1.0 - 0.2)) + 0.2 * o.trigger) << limit;
            c = o.value;
        }
    }
}

TEST(Gaussian, PolesCoefficientsAndWarmup) {
    const auto xs = series(40);
    EXPECT_EQ(run(GaussianFilter(10, 0), xs), run(GaussianFilter(10, 1), xs));
    EXPECT_EQ(run(GaussianFilter(10, 100), xs), run(GaussianFilter(10, 4), xs));
    EXPECT_NEAR(GaussianFilter(20, 1).alpha(), 0.3821217, 5e-8);
    EXPECT_NEAR(GaussianFilter(20, 2).alpha_pow(), 0.2557294, 5e-8);
    EXPECT_NEAR(GaussianFilter(20, 4).alpha(), 0.6313943, 5e-8);
    EXPECT_NEAR(GaussianFilter(20, 4).alpha_pow(), 0.1589288, 5e-8);
    for (std::uint64_t n = 1; n <= 4; ++n) {
        const auto out = run(GaussianFilter(15, n), xs);
        for (std::uint64_t i = 0; i < n; ++i) EXPECT_EQ(out[i], xs[i]);
        EXPECT_NE(out[n], xs[n]);
    }
    // Two poles, bar 3: x·a^2 + 2d·y1 - d^2·y2 over the warm-up outputs.
    GaussianFilter g(15, 2);
    const double a = g.alpha(), d = 1.0 - a;
    g.next(3.0);
    g.next(5.0);
    EXPECT_EQ(g.next(4.0), (4.0 * (a * a) + (2.0 * d) * 5.0) - (d * d) * 3.0);
    // Period 1 gives alpha 0: one pole holds the first input, two continue the line.
    EXPECT_EQ(run(GaussianFilter(1, 1), {2, 9, 4}), (std::vector<double>{2, 2, 2}));
    EXPECT_EQ(run(GaussianFilter(1, 2), {2, 3, 9, 9}), (std::vector<double>{2, 3, 4, 5}));
}

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
    // Band modes: gamma = 1/cos(4pi·delta/P) ~ 1.0019772, alpha3 ~ 0.9390625.
    const double gamma = 1.0 / std::cos((0.1 * 12.566370614359172) / 20.0);
    const double a3 = gamma - std::sqrt((gamma * gamma) + (-1.0));
    EXPECT_NEAR(a3, 0.9390625, 5e-8);
    EXPECT_EQ(first_response(SwissMode::BandPass, 20, 0.1), (1.0 - a3) * 0.5);
    EXPECT_EQ(first_response(SwissMode::BandStop, 20, 0.1), (a3 + 1.0) * 0.5);
}

TEST(SwissArmyKnifeFilter, EveryModeWarmupAndConstantInput) {
    const std::vector<double> c(60, 7.0);
    for (SwissMode m : {SwissMode::EMA, SwissMode::SMA, SwissMode::Gauss, SwissMode::Butterworth, SwissMode::Smooth,
                        SwissMode::BandStop}) {
        expect_near_all(run(SwissArmyKnife(m, 10, 0.1), c), c, 1e-9);
    }
    const auto bp = run(SwissArmyKnife(SwissMode::BandPass, 10, 0.1), c);
    EXPECT_LT(std::fabs(bp[59]), std::fabs(bp[20]));  // decays from the warm-up outputs
    const auto xs = series(8);
    for (int m = 1; m <= 9; ++m) {
        const bool hp = m == 6 || m == 7;
        if (hp) {
            EXPECT_EQ(run(SwissArmyKnife(static_cast<SwissMode>(m), 10, 0.1), c), std::vector<double>(60, 0.0));
        }
        const auto out = run(SwissArmyKnife(static_cast<SwissMode>(m), 5, 0.1), xs);
        for (int i = 0; i < 5; ++i) EXPECT_EQ(out[i], hp ? 0.0 : xs[i]) << m;
        EXPECT_NE(out[5], hp ? 0.0 : xs[5]) << m;
        // Period 0: no warm-up and NaN coefficients in every mode but Smooth.
        if (m != 5) {
            EXPECT_TRUE(std::isnan(run(SwissArmyKnife(static_cast<SwissMode>(m), 0, 0.1), {1.0})[0])) << m;
        }
    }
    EXPECT_EQ(run(SwissArmyKnife(SwissMode::Smooth, 0, 0.0), {4, 8, 12, 16}), (std::vector<double>{1, 4, 8, 12}));
}

TEST(SwissArmyKnifeFilter, SmaKeepsOnlyTheReadableHistory) {
    // A transcription that keeps every input and reads index count - P - 1.
    const std::uint64_t p = 7;
    const double inv = 1.0 / 7.0;
    const auto xs = series(5000);
    double y1 = 0.0, y2 = 0.0;
    SwissArmyKnife f(SwissMode::SMA, p, 0.0);
    for (std::uint64_t n = 1; n <= xs.size(); ++n) {
        const double x0 = xs[n - 1], x1 = n > 1 ? xs[n - 2] : 0.0, x2 = n > 2 ? xs[n - 3] : 0.0;
        double y = x0;
        if (n > p) y = ((1.0 * ((inv * x0 + 0.0 * x1) + 0.0 * x2) + 1.0 * y1) + 0.0 * y2) - xs[n - p - 1] * inv;
        y2 = y1;
        y1 = y;
        EXPECT_EQ(f.next(x0), y) << n;
        EXPECT_LE(f.history_size(), p + 1);
    }
}
