// Black-Scholes prices and Greeks of a European option on an underlying without
// dividend yield: spot s, strike k, continuously compounded rate r (0.065 is
// 6.5 %), time to expiry t in years, volatility sigma a year (0.2 is 20 %).
// Prices are in the units of s and k. Theta is per calendar day, vega and rho
// per 1.0 of volatility and rate (divide by 100 for one point). At t <= 0 the
// prices are the intrinsic values, delta is the expiry payoff's slope and the
// other Greeks are 0; a NaN t takes the formulas and gives NaN.
#pragma once

#include <cmath>

#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/options/iv_solver.hpp"

namespace lumenfold::core::options {

// The standard normal density.
inline double norm_pdf(double z) noexcept { return 0.39894228040143265 * std::exp(-(z * z) / 2); }

// The standard normal distribution function: from erfc, except in the far
// lower tail (z <= -10), where its asymptotic series keeps relative precision.
inline double norm_cdf(double z) noexcept {
    if (z <= -10) {
        double sum = 1;
        // Beyond -1/sqrt(eps) the first term is already below rounding.
        if (z >= -67108864) {
            const double z2 = z * z;
            double g = 1, i = 1, previous = kMaxF64;
            for (;;) {
                const double x = (4 * i - 3) / z2;
                const double y = x * ((4 * i - 1) / z2);
                const double a = g * (x - y);
                sum = sum - a;
                g = g * y;
                i = i + 1;
                // Stops once the terms grow or drop below rounding (and on NaN).
                if (!(std::fabs(a) < previous && std::fabs(a) >= std::fabs(sum * 2.220446049250313e-16))) break;
                previous = std::fabs(a);
            }
        }
        return -norm_pdf(z) * sum / z;
    }
    return 0.5 * erfc_cody(-z * 0.7071067811865475);
}

namespace detail {

// The quantities shared by the formulas, for t > 0.
struct BsTerms {
    double sqrt_t, d1, d2, discount;
    BsTerms(double s, double k, double r, double t, double sigma) noexcept
        : sqrt_t(std::sqrt(t)),
          d1((std::log(s / k) + t * (r + sigma * (sigma * 0.5))) / (sigma * sqrt_t)),
          d2(d1 - sigma * sqrt_t),
          discount(std::exp(-(r * t))) {}
};

}  // namespace detail

// Price of a European call.
inline double bs_call_price(double s, double k, double r, double t, double sigma) noexcept {
    if (t <= 0) return max_num(s - k, 0.0);
    const detail::BsTerms b(s, k, r, t, sigma);
    return s * norm_cdf(b.d1) - k * b.discount * norm_cdf(b.d2);
}

// Price of a European put.
inline double bs_put_price(double s, double k, double r, double t, double sigma) noexcept {
    if (t <= 0) return max_num(k - s, 0.0);
    const detail::BsTerms b(s, k, r, t, sigma);
    return k * b.discount * norm_cdf(-b.d2) - s * norm_cdf(-b.d1);
}

// Delta, the price's change per unit of spot: 0 to 1 for a call, -1 to 0 for a
// put.
inline double bs_delta(bool is_call, double s, double k, double r, double t, double sigma) noexcept {
    if (t <= 0) {
        if (is_call) return s > k ? 1.0 : 0.0;
        return s < k ? -1.0 : 0.0;
    }
    const detail::BsTerms b(s, k, r, t, sigma);
    return is_call ? norm_cdf(b.d1) : norm_cdf(b.d1) - 1;
}

// Gamma, delta's change per unit of spot, the same for calls and puts; 0 for
// s <= 0 (tested before t).
inline double bs_gamma(double s, double k, double r, double t, double sigma) noexcept {
    if (s <= 0) return 0;
    if (t <= 0) return 0;
    const detail::BsTerms b(s, k, r, t, sigma);
    return norm_pdf(b.d1) / (b.sqrt_t * (s * sigma));
}

// Vega, the price's change per 1.0 of volatility, the same for calls and puts.
inline double bs_vega(double s, double k, double r, double t, double sigma) noexcept {
    if (t <= 0) return 0;
    const detail::BsTerms b(s, k, r, t, sigma);
    return b.sqrt_t * (s * norm_pdf(b.d1));
}

// Theta, the price's change per calendar day (the yearly rate divided by 365);
// negative for a call while r >= 0.
inline double bs_theta(bool is_call, double s, double k, double r, double t, double sigma) noexcept {
    if (t <= 0) return 0;
    const detail::BsTerms b(s, k, r, t, sigma);
    const double decay = -s * norm_pdf(b.d1) * sigma / (2 * b.sqrt_t);
    if (is_call) return (decay - r * k * b.discount * norm_cdf(b.d2)) / 365;
    return (decay + r * k * b.discount * norm_cdf(-b.d2)) / 365;
}

// Rho, the price's change per 1.0 of the rate: positive for a call, negative
// for a put.
inline double bs_rho(bool is_call, double s, double k, double r, double t, double sigma) noexcept {
    if (t <= 0) return 0;
    const detail::BsTerms b(s, k, r, t, sigma);
    if (is_call) return k * t * b.discount * norm_cdf(b.d2);
    return -(k * t) * b.discount * norm_cdf(-b.d2);
}

}  // namespace lumenfold::core::options
