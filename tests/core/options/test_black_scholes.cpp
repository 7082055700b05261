// Black-Scholes prices and Greeks, the normal distribution function and
// Cody's error functions. Reference values are the exact formulas evaluated
// in 40-digit arithmetic; a few ulps of tolerance cover the exponentials.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "lumenfold/core/options/black_scholes.hpp"

using namespace lumenfold::core::options;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void expect_rel(double actual, double expected, double tol = 8e-16) {
    EXPECT_LE(std::fabs(actual - expected), tol * std::fabs(expected)) << actual << " vs " << expected;
}

struct Case {
    double s, k, r, t, sigma;
    double call, put, delta_call, delta_put, gamma, vega, theta_call, theta_put, rho_call, rho_put;
};

constexpr Case kCases[] = {
    {100, 100, 0.05, 1, 0.2, 10.450583572185567346, 5.5735260222569679911, 0.63683065117561907331,
     -0.36316934882438092669, 0.018762017345846892841, 37.524034691693787765, -0.017572678209419715429,
     -0.0045421381477660981793, 53.232481545376339985, -41.89046090469506066},
    {100, 100, 0, 1, 0.2, 7.9655674554057967338, 7.9655674554057967338, 0.53982783727702898367,
     -0.46017216272297101633, 0.019847627373850587163, 39.695254747701176529, -0.010875412259644158557,
     -0.010875412259644158557, 46.017216272297101633, -53.982783727702898367},
    {120, 95, 0.065, 0.3, 0.35, 27.715361057651070693, 0.88080610057435986572, 0.9216416832073173911,
     -0.078358316792682608895, 0.0063618597627857843214, 9.6191319613321049278, -0.030132786222046074792,
     -0.013541679570566584373, 24.864492278168103952, -3.0851412347088817658},
};

}  // namespace

TEST(BlackScholes, WorkedValues) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.k);
        expect_rel(bs_call_price(c.s, c.k, c.r, c.t, c.sigma), c.call, 2e-15);
        expect_rel(bs_put_price(c.s, c.k, c.r, c.t, c.sigma), c.put, 4e-15);
        expect_rel(bs_delta(true, c.s, c.k, c.r, c.t, c.sigma), c.delta_call);
        expect_rel(bs_delta(false, c.s, c.k, c.r, c.t, c.sigma), c.delta_put, 4e-15);
        expect_rel(bs_gamma(c.s, c.k, c.r, c.t, c.sigma), c.gamma);
        expect_rel(bs_vega(c.s, c.k, c.r, c.t, c.sigma), c.vega);
        expect_rel(bs_theta(true, c.s, c.k, c.r, c.t, c.sigma), c.theta_call);
        expect_rel(bs_theta(false, c.s, c.k, c.r, c.t, c.sigma), c.theta_put, 4e-15);
        expect_rel(bs_rho(true, c.s, c.k, c.r, c.t, c.sigma), c.rho_call);
        expect_rel(bs_rho(false, c.s, c.k, c.r, c.t, c.sigma), c.rho_put, 4e-15);
    }
}

TEST(BlackScholes, ExpiredOptions) {
    for (double t : {0.0, -1.0}) {
        EXPECT_EQ(bs_call_price(100, 90, 0.05, t, 0.2), 10);
        EXPECT_EQ(bs_put_price(100, 90, 0.05, t, 0.2), 0);
        EXPECT_EQ(bs_put_price(90, 100, 0.05, t, 0.2), 10);
        EXPECT_EQ(bs_delta(true, 100, 90, 0.05, t, 0.2), 1);
        EXPECT_EQ(bs_delta(false, 90, 100, 0.05, t, 0.2), -1);
        // At the money both deltas are 0.
        EXPECT_EQ(bs_delta(true, 100, 100, 0.05, t, 0.2), 0);
        EXPECT_EQ(bs_delta(false, 100, 100, 0.05, t, 0.2), 0);
        EXPECT_EQ(bs_gamma(100, 100, 0.05, t, 0.2), 0);
        EXPECT_EQ(bs_vega(100, 100, 0.05, t, 0.2), 0);
        EXPECT_EQ(bs_theta(true, 100, 100, 0.05, t, 0.2), 0);
        EXPECT_EQ(bs_rho(false, 100, 100, 0.05, t, 0.2), 0);
    }
    // The intrinsic value is +0 for a zero difference and 0 for a NaN one.
    EXPECT_FALSE(std::signbit(bs_call_price(-0.0, 0.0, 0, 0, 0.2)));
    EXPECT_EQ(bs_call_price(kNaN, 100, 0, 0, 0.2), 0);
    EXPECT_EQ(bs_put_price(100, kNaN, 0, 0, 0.2), 0);
}

TEST(BlackScholes, NanExpiryGivesNanEverywhere) {
    EXPECT_TRUE(std::isnan(bs_call_price(100, 100, 0.05, kNaN, 0.2)));
    EXPECT_TRUE(std::isnan(bs_put_price(100, 100, 0.05, kNaN, 0.2)));
    EXPECT_TRUE(std::isnan(bs_delta(true, 100, 100, 0.05, kNaN, 0.2)));
    EXPECT_TRUE(std::isnan(bs_gamma(100, 100, 0.05, kNaN, 0.2)));
    EXPECT_TRUE(std::isnan(bs_vega(100, 100, 0.05, kNaN, 0.2)));
    EXPECT_TRUE(std::isnan(bs_theta(false, 100, 100, 0.05, kNaN, 0.2)));
    EXPECT_TRUE(std::isnan(bs_rho(true, 100, 100, 0.05, kNaN, 0.2)));
}

TEST(BlackScholes, GammaTestsSpotFirstVegaFollowsTheArithmetic) {
    EXPECT_EQ(bs_gamma(0, 100, 0.05, 1, 0.2), 0);
    EXPECT_EQ(bs_gamma(-5, 100, 0.05, kNaN, 0.2), 0);
    EXPECT_EQ(bs_vega(0, 100, 0.05, 1, 0.2), 0);  // d1 = -inf
    EXPECT_TRUE(std::isnan(bs_vega(-5, 100, 0.05, 1, 0.2)));
}

TEST(BlackScholes, ZeroVolatilityFallsBackToDiscountedIntrinsic) {
    const double df = std::exp(-(0.05 * 1.0));
    EXPECT_EQ(bs_call_price(100, 90, 0.05, 1, 0), 100 - 90 * df);
    EXPECT_EQ(bs_put_price(100, 90, 0.05, 1, 0), 0);
}

TEST(BlackScholes, PutCallParity) {
    for (double k : {50.0, 90.0, 100.0, 110.0, 200.0})
        for (double t : {1.0 / 365, 0.25, 1.0, 5.0})
            for (double sigma : {0.05, 0.2, 0.8}) {
                const double s = 100, r = 0.065;
                const double parity = s - k * std::exp(-(r * t));
                const double diff = bs_call_price(s, k, r, t, sigma) - bs_put_price(s, k, r, t, sigma);
                EXPECT_NEAR(diff, parity, 1e-12 * (s + k)) << k << " " << t << " " << sigma;
                EXPECT_NEAR(bs_delta(true, s, k, r, t, sigma) - bs_delta(false, s, k, r, t, sigma), 1, 1e-15);
            }
}

TEST(NormCdf, TailsAndBranchBoundary) {
    expect_rel(norm_cdf(-10), 7.619853024160526066e-24, 4e-15);      // asymptotic series, -10 included
    expect_rel(norm_cdf(-9.999), 7.697185013083595198e-24, 4e-14);   // erfc branch
    expect_rel(norm_cdf(-12.5), 3.7325642988777133772e-36, 4e-15);
    expect_rel(norm_cdf(1.3), 0.90319951541438967446);
    EXPECT_EQ(norm_cdf(0), 0.5);
    EXPECT_EQ(norm_cdf(-1e9), 0);  // beyond the series cut-off only the density is left, and it underflows
    EXPECT_EQ(norm_cdf(40), 1);
    EXPECT_TRUE(std::isnan(norm_cdf(kNaN)));
}

TEST(CodyErrorFunctions, ValuesAndLimits) {
    EXPECT_EQ(erfc_cody(0), 1);
    EXPECT_EQ(erfc_cody(-30), 2);
    EXPECT_EQ(erfc_cody(30), 0);
    EXPECT_EQ(erfcx_cody(-27), 1.7976931348623157e308);
    // One point in each of Cody's three ranges, on both sides of 0.
    expect_rel(erfc_cody(0.3), 0.67137324054087258381);
    expect_rel(erfc_cody(-0.3), 1.3286267594591274162);
    expect_rel(erfc_cody(1), 0.15729920705028513066, 2e-15);
    expect_rel(erfc_cody(3), 0.000022090496998585441373, 4e-15);
    expect_rel(erfc_cody(-2), 1.9953222650189527342);
    expect_rel(erfc_cody(10), 2.088487583762544757e-45, 4e-15);
    expect_rel(erfcx_cody(0.3), 0.73459933456765514992);
    expect_rel(erfcx_cody(1), 0.42758357615580700441, 2e-15);
    expect_rel(erfcx_cody(5), 0.11070463773306862637, 2e-15);
    expect_rel(erfcx_cody(26), 0.021683584850562906616, 2e-15);
    expect_rel(erfcx_cody(-3), 16205.988853999586625, 4e-15);
    EXPECT_TRUE(std::isnan(erfc_cody(kNaN)));
    EXPECT_TRUE(std::isnan(erfcx_cody(kNaN)));
}
