// Per-call cost of the option pricing functions and of the implied-volatility
// solver in each of its four branches (and the closed form at the money),
// in the core and through the C boundary.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstddef>

#include "entry_points.h"
#include "lumenfold/core/options/black_scholes.hpp"
#include "lumenfold/core/options/iv_solver.hpp"

namespace opt = lumenfold::core::options;

namespace {

constexpr std::size_t kInputs = 64;

// Strikes from 80 to 120 around a spot of 100, so the branches of the
// normal distribution vary as they would along a chain.
const std::array<double, kInputs>& strikes() {
    static const std::array<double, kInputs> k = [] {
        std::array<double, kInputs> out{};
        for (std::size_t i = 0; i < kInputs; ++i) out[i] = 80.0 + 40.0 * static_cast<double>(i) / kInputs;
        return out;
    }();
    return k;
}

template <class F>
void per_call(benchmark::State& state, F f) {
    const auto& k = strikes();
    for (auto _ : state)
        for (std::size_t i = 0; i < kInputs; ++i) benchmark::DoNotOptimize(f(k[i]));
    state.SetItemsProcessed(state.iterations() * kInputs);
}

}  // namespace

static void BM_options_bs_call_price(benchmark::State& s) {
    per_call(s, [](double k) { return opt::bs_call_price(100, k, 0.065, 0.25, 0.2); });
}
static void BM_options_bs_put_price(benchmark::State& s) {
    per_call(s, [](double k) { return opt::bs_put_price(100, k, 0.065, 0.25, 0.2); });
}
static void BM_options_bs_delta(benchmark::State& s) {
    per_call(s, [](double k) { return opt::bs_delta(true, 100, k, 0.065, 0.25, 0.2); });
}
static void BM_options_bs_gamma(benchmark::State& s) {
    per_call(s, [](double k) { return opt::bs_gamma(100, k, 0.065, 0.25, 0.2); });
}
static void BM_options_bs_vega(benchmark::State& s) {
    per_call(s, [](double k) { return opt::bs_vega(100, k, 0.065, 0.25, 0.2); });
}
static void BM_options_bs_theta(benchmark::State& s) {
    per_call(s, [](double k) { return opt::bs_theta(true, 100, k, 0.065, 0.25, 0.2); });
}
static void BM_options_bs_rho(benchmark::State& s) {
    per_call(s, [](double k) { return opt::bs_rho(false, 100, k, 0.065, 0.25, 0.2); });
}
BENCHMARK(BM_options_bs_call_price);
BENCHMARK(BM_options_bs_put_price);
BENCHMARK(BM_options_bs_delta);
BENCHMARK(BM_options_bs_gamma);
BENCHMARK(BM_options_bs_vega);
BENCHMARK(BM_options_bs_theta);
BENCHMARK(BM_options_bs_rho);

// ---- implied volatility by branch: call prices on a forward of 1 at the
// strike e (log-moneyness -1, branch bounds s_l = 0.70, s_c = 1.41,
// s_u = 3.20), r = 0 and t = 1, volatilities spread over one branch each.

namespace {

struct IvCase {
    std::array<double, kInputs> price{};
    double k;
};

IvCase iv_case(double k, double lo, double hi) {
    IvCase c;
    c.k = k;
    for (std::size_t i = 0; i < kInputs; ++i)
        c.price[i] = opt::bs_call_price(1, k, 0, 1, lo + (hi - lo) * static_cast<double>(i) / kInputs);
    return c;
}

void iv_bench(benchmark::State& state, double k, double lo, double hi) {
    const IvCase c = iv_case(k, lo, hi);
    for (auto _ : state)
        for (std::size_t i = 0; i < kInputs; ++i)
            benchmark::DoNotOptimize(opt::implied_vol(c.price[i], 1, c.k, 0, 1, true));
    state.SetItemsProcessed(state.iterations() * kInputs);
}

const double kE = std::exp(1.0);

}  // namespace

static void BM_options_implied_vol_lowest(benchmark::State& s) { iv_bench(s, kE, 0.2, 0.6); }
static void BM_options_implied_vol_lower_middle(benchmark::State& s) { iv_bench(s, kE, 0.8, 1.35); }
static void BM_options_implied_vol_upper_middle(benchmark::State& s) { iv_bench(s, kE, 1.5, 3.1); }
static void BM_options_implied_vol_highest(benchmark::State& s) { iv_bench(s, kE, 3.4, 6.0); }
static void BM_options_implied_vol_at_the_money(benchmark::State& s) { iv_bench(s, 1, 0.05, 2.0); }
BENCHMARK(BM_options_implied_vol_lowest);
BENCHMARK(BM_options_implied_vol_lower_middle);
BENCHMARK(BM_options_implied_vol_upper_middle);
BENCHMARK(BM_options_implied_vol_highest);
BENCHMARK(BM_options_implied_vol_at_the_money);

// ---- through the C boundary, as a host calls them

static void BM_options_ffi_bs_call_price(benchmark::State& s) {
    per_call(s, [](double k) {
        RustCallStatus st{0, {0, 0, nullptr}};
        return uniffi_lumenfold_python_fn_func_bs_call_price(100, k, 0.065, 0.25, 0.2, &st);
    });
}
BENCHMARK(BM_options_ffi_bs_call_price);

static void BM_options_ffi_implied_vol_lower_middle(benchmark::State& state) {
    const IvCase c = iv_case(kE, 0.8, 1.35);
    for (auto _ : state)
        for (std::size_t i = 0; i < kInputs; ++i) {
            RustCallStatus st{0, {0, 0, nullptr}};
            RustBuffer out = uniffi_lumenfold_python_fn_func_implied_vol(c.price[i], 1, c.k, 0, 1, 1, &st);
            benchmark::DoNotOptimize(out.data);
            ffi_lumenfold_python_rustbuffer_free(out, &st);
        }
    state.SetItemsProcessed(state.iterations() * kInputs);
}
BENCHMARK(BM_options_ffi_implied_vol_lower_middle);
