// Implied volatility: round trips through the pricing functions from deep in
// to deep out of the money and from a day to ten years, each of the solver's
// four branches on its own, the closed form at the money, the sentinels and
// every absent case.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

#include "lumenfold/core/options/black_scholes.hpp"
#include "lumenfold/core/options/iv_solver.hpp"

using namespace lumenfold::core::options;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kEps = 2.220446049250313e-16;

}  // namespace

// The out-of-the-money side carries the volatility; its price is well
// conditioned unless it is tiny against the terms it is computed from.
TEST(ImpliedVol, RoundTripsOverStrikesAndExpiries) {
    const double s = 100, r = 0.065;
    int checked = 0;
    for (double k : {20.0, 50.0, 80.0, 95.0, 100.0, 105.0, 125.0, 200.0, 500.0})
        for (double t : {1.0 / 365, 7.0 / 365, 0.25, 1.0, 3.0, 8.0})
            for (double sigma : {0.05, 0.15, 0.3, 0.6, 1.2, 2.5}) {
                const bool call = k >= s * std::exp(r * t);
                const double price = call ? bs_call_price(s, k, r, t, sigma) : bs_put_price(s, k, r, t, sigma);
                // Relative sensitivity of sigma to the price's rounding.
                const double cond = s / (sigma * bs_vega(s, k, r, t, sigma));
                if (!(price > 1e-12 * s) || cond > 1e3) continue;
                const std::optional<double> iv = implied_vol(price, s, k, r, t, call);
                ASSERT_TRUE(iv.has_value()) << k << " " << t << " " << sigma;
                EXPECT_NEAR(*iv, sigma, sigma * 64 * kEps * std::fmax(cond, 1.0)) << k << " " << t << " " << sigma;
                ++checked;
            }
    EXPECT_GT(checked, 200);
}

TEST(ImpliedVol, WorkedInversion) {
    const double call = bs_call_price(100, 100, 0.05, 1, 0.2);
    EXPECT_NEAR(*implied_vol(call, 100, 100, 0.05, 1, true), 0.2, 4e-15);
    const double put = bs_put_price(100, 100, 0.05, 1, 0.2);
    EXPECT_NEAR(*implied_vol(put, 100, 100, 0.05, 1, false), 0.2, 4e-15);
    // In the money both ways: the price is reduced to the other side's.
    const double itm_call = bs_call_price(100, 90, 0.05, 0.5, 0.3);
    EXPECT_NEAR(*implied_vol(itm_call, 100, 90, 0.05, 0.5, true), 0.3, 1e-14);
    const double itm_put = bs_put_price(100, 112, 0.05, 0.5, 0.3);
    EXPECT_NEAR(*implied_vol(itm_put, 100, 112, 0.05, 0.5, false), 0.3, 1e-14);
    // A strike equal to the forward takes the closed form, on both sides.
    for (double sigma : {0.05, 0.4, 2.0}) {
        const double k = 100 * std::exp(0.05 * 2.0);
        EXPECT_NEAR(*implied_vol(bs_call_price(100, k, 0.05, 2, sigma), 100, k, 0.05, 2, true), sigma, sigma * 1e-14);
        EXPECT_NEAR(*implied_vol(bs_put_price(100, k, 0.05, 2, sigma), 100, k, 0.05, 2, false), sigma, sigma * 1e-14);
    }
}

// The normalised problem on its own, at volatilities on both sides of the
// branch bounds s_l < s_c < s_u of each log-moneyness x (for x = -1: 0.70,
// 1.41, 3.20), so that every branch runs; x = -300 and -700 take the
// fourth-order steps of the outer branches. The tolerance follows the
// conditioning beta / (s b'), b' = exp(-(h^2 + t^2)/2) / sqrt(2 pi).
TEST(LetsBeRational, EveryBranchReachesFullPrecisionInTwoSteps) {
    struct Point {
        double x, s;
    };
    const Point points[] = {
        {-1, 0.17},     {-1, 0.46},     {-1, 1.06},   {-1, 2.3},     {-1, 3.5},    {-1, 4.48},
        {-0.01, 0.08}, {-0.01, 1.33}, {-0.01, 2.8}, {-8, 0.75},
        {-8, 2.0},      {-8, 3.5},      {-8, 4.7},    {-8, 6.0},     {-300, 15.5}, {-300, 23.9},
        {-300, 25.1},   {-300, 28.4},   {-700, 24.1}, {-700, 36.8},  {-700, 38.05}, {-700, 42.6},
    };
    for (const Point p : points) {
        const double beta = normalised_black_with_optimal_use_of_codys_functions(p.x, p.s);
        ASSERT_GT(beta, 0) << p.x << " " << p.s;
        const double h = p.x / p.s, t = p.s / 2;
        const double ln_vega = -(h * h + t * t) / 2 - 0.9189385332046728;
        const double cond = std::exp(std::log(beta) - std::log(p.s) - ln_vega);
        EXPECT_NEAR(lets_be_rational(2, beta, p.x), p.s, p.s * 16 * kEps * std::fmax(1.0, cond)) << p.x << " " << p.s;
        // The initial guess alone is already close.
        EXPECT_NEAR(lets_be_rational(0, beta, p.x), p.s, p.s * 0.1) << p.x << " " << p.s;
    }
}

TEST(LetsBeRational, SentinelsAndTheClosedFormAtTheMoney) {
    EXPECT_EQ(lets_be_rational(2, 0, -1), 0);
    EXPECT_EQ(lets_be_rational(2, -1e-3, -1), kPriceBelowIntrinsic);
    EXPECT_EQ(lets_be_rational(2, std::exp(-0.5), -1), kPriceAboveMaximum);
    // At x = 0 the closed form needs no iteration: N = 0 already gives s.
    for (double s : {0.01, 0.3, 1.0, 2.5, 6.0}) {
        const double beta = normalised_black_with_optimal_use_of_codys_functions(0, s);
        EXPECT_NEAR(lets_be_rational(0, beta, 0), s, s * 1e-14) << s;
    }
}

TEST(ImpliedVol, AbsentOutsideTheAttainableRange) {
    const double s = 100, k = 110, r = 0.05, t = 0.5;
    // At or above the maximum: the spot for a call, the discounted strike for a put.
    EXPECT_FALSE(implied_vol(s, s, k, r, t, true));
    EXPECT_FALSE(implied_vol(s + 1, s, k, r, t, true));
    EXPECT_FALSE(implied_vol(k * std::exp(-(r * t)) * 1.0000001, s, k, r, t, false));
    // Below intrinsic value, for every positive expiry.
    for (double tt : {1e-6, 0.5, 10.0}) {
        const double intrinsic = 120 - 100 * std::exp(-(r * tt));
        EXPECT_FALSE(implied_vol(intrinsic * 0.999, 120, 100, r, tt, true)) << tt;
    }
    // No time left.
    EXPECT_FALSE(implied_vol(5, s, k, r, 0, true));
    EXPECT_FALSE(implied_vol(5, s, k, r, -1, false));
    // An out-of-the-money option priced at 0 has volatility 0.
    EXPECT_EQ(implied_vol(0, s, k, r, t, true), std::optional<double>(0.0));
}

TEST(ImpliedVol, NanNeverFails) {
    EXPECT_TRUE(std::isnan(*implied_vol(kNaN, 100, 100, 0.05, 1, true)));
    EXPECT_TRUE(implied_vol(5, kNaN, 100, 0.05, 1, true).has_value());
    EXPECT_TRUE(implied_vol(5, 100, kNaN, 0.05, 1, false).has_value());
    EXPECT_TRUE(implied_vol(5, 100, 100, kNaN, 1, true).has_value());
    EXPECT_TRUE(implied_vol(5, 100, 100, 0.05, kNaN, true).has_value());
}

TEST(InverseNormCdf, CentralAndTailForms) {
    EXPECT_EQ(inverse_norm_cdf(0.5), 0);
    EXPECT_NEAR(inverse_norm_cdf(0.975), 1.959963984540054, 4e-15);
    EXPECT_NEAR(inverse_norm_cdf(0.025), -1.959963984540054, 4e-15);
    for (double z : {-37.0, -20.0, -9.0, -5.0, -3.0, -1.5, -0.5, 0.2, 0.9, 1.1, 4.0}) {
        const double u = norm_cdf(z);
        EXPECT_NEAR(inverse_norm_cdf(u), z, 1e-13 * std::fmax(1.0, std::fabs(z))) << z;
    }
    EXPECT_EQ(inverse_norm_cdf(0), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(inverse_norm_cdf(1), std::numeric_limits<double>::infinity());
}
