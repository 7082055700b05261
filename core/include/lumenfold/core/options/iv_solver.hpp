// Implied Black volatility by Jaeckel's "Let's Be Rational" method: the price
// is normalised to an out-of-the-money call, an initial guess comes from one of
// four branches of rational approximations and rational-cubic interpolation,
// and at most two third-order Householder steps reach full double precision.
// Also home of Cody's complementary error functions, which the pricing
// functions share.
#pragma once

#include <optional>

#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core::options {

// The largest finite double: a volatility that signals a price at or above
// its maximum; its negation signals a price below intrinsic value.
inline constexpr double kPriceAboveMaximum = kMaxF64;
inline constexpr double kPriceBelowIntrinsic = -kMaxF64;

// erfc(x) by Cody's rational Chebyshev approximations.
double erfc_cody(double x) noexcept;
// exp(x^2) * erfc(x), the same approximations without the exponential factor.
double erfcx_cody(double x) noexcept;

// The inverse standard normal distribution function, for 0 < u < 1 (-inf at 0,
// +inf at 1).
double inverse_norm_cdf(double u) noexcept;

// Normalised Black call price b(x, s) = e^(x/2) N(x/s + s/2) - e^(-x/2) N(x/s - s/2)
// for x <= 0, from the error functions.
double normalised_black_with_optimal_use_of_codys_functions(double x, double s) noexcept;
// b(x, s) / b'(x, s) for small t = s/2, h = x/s.
double small_t_expansion_of_scaled_normalised_black(double h, double t) noexcept;
// b(x, s) / b'(x, s) for large negative h = x/s.
double asymptotic_expansion_of_scaled_normalised_black(double h, double t) noexcept;

// Normalised total volatility s = sigma * sqrt(T) for the normalised
// out-of-the-money call price beta at log-moneyness x <= 0, with at most n
// Householder steps. 0 for beta = 0, the sentinels outside the attainable range.
double lets_be_rational(int n, double beta, double x) noexcept;

// Black volatility of an undiscounted option price on the forward f at strike
// k and expiry t (years); q = +1 for a call, -1 for a put. Returns the
// sentinels unchanged.
double implied_black_volatility(double price, double f, double k, double t, double q) noexcept;

// Black-Scholes volatility of a discounted option price on spot s (no
// dividends, rate r continuously compounded, t in years, market_price in the
// units of s and k): a yearly volatility as a fraction (0.2 is 20 %), the sigma
// the pricing functions take. Absent when t <= 0 or the price is outside the
// attainable range (at or above the spot for a call or the discounted strike
// for a put, or below intrinsic value).
std::optional<double> implied_vol(double market_price, double s, double k, double r, double t,
                                  bool is_call) noexcept;

}  // namespace lumenfold::core::options
