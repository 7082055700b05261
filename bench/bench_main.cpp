// Benchmarks: every indicator's core over a seeded series of 1e6 bars and its
// batch function through the C boundary (registered from the interface
// description), plus hand-written baselines and the cost of one boundary call.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "entry_points.h"
#include "runtime/serialize.hpp"

using namespace lumenfold::ffi;

namespace {

struct Bars {
    std::size_t n = 0;
    std::vector<double> open, high, low, close, volume;
};

const Bars& bars() {
    static const Bars b = [] {
        Bars out;
        out.n = 1'000'000;
        std::mt19937_64 rng(42);
        std::normal_distribution<double> step(0.0, 1.0);
        std::uniform_real_distribution<double> wick(0.0, 1.0);
        double price = 100.0;
        for (std::size_t i = 0; i < out.n; ++i) {
            const double o = price;
            const double c = std::max(1.0, o + step(rng));
            out.open.push_back(o);
            out.close.push_back(c);
            out.high.push_back(std::max(o, c) + wick(rng));
            out.low.push_back(std::min(o, c) - wick(rng));
            out.volume.push_back(1000.0 + std::floor(wick(rng) * 4000.0));
            price = c;
        }
        return out;
    }();
    return b;
}

// A serialized vector argument, as a host would hand it over.
RustBuffer column_buffer(const std::vector<double>& column) {
    Writer w;
    Vec<F64>::write(w, column);
    return w.release();
}

void release_result(RustBuffer out, RustCallStatus& st) {
    release_storage(out);
    if (st.code != 0) release_storage(st.error_buf);
}

}  // namespace


// ---- plain-loop baselines of the three moving averages (period 5) ----

static void BM_baseline_sma(benchmark::State& state) {
    const Bars& b = bars();
    const std::size_t p = 5;
    for (auto _ : state) {
        double sum = 0.0;
        for (std::size_t i = 0; i < b.n; ++i) {
            sum += b.close[i];
            if (i >= p) sum -= b.close[i - p];
            benchmark::DoNotOptimize(sum / static_cast<double>(i < p ? i + 1 : p));
        }
    }
    state.SetItemsProcessed(state.iterations() * b.n);
}
BENCHMARK(BM_baseline_sma)->Unit(benchmark::kMillisecond);

static void BM_baseline_ema(benchmark::State& state) {
    const Bars& b = bars();
    const double alpha = 2.0 / 6.0;
    for (auto _ : state) {
        double v = b.close[0];
        for (std::size_t i = 0; i < b.n; ++i) {
            v = b.close[i] * alpha + v * (1.0 - alpha);
            benchmark::DoNotOptimize(v);
        }
    }
    state.SetItemsProcessed(state.iterations() * b.n);
}
BENCHMARK(BM_baseline_ema)->Unit(benchmark::kMillisecond);

static void BM_baseline_wma(benchmark::State& state) {
    const Bars& b = bars();
    const std::size_t p = 5;
    for (auto _ : state) {
        for (std::size_t i = 0; i < b.n; ++i) {
            const std::size_t k = i + 1 < p ? i + 1 : p;
            double num = 0.0, den = 0.0;
            for (std::size_t j = 0; j < k; ++j) {
                const double w = static_cast<double>(j + 1);
                num += b.close[i + 1 - k + j] * w;
                den += w;
            }
            benchmark::DoNotOptimize(num / den);
        }
    }
    state.SetItemsProcessed(state.iterations() * b.n);
}
BENCHMARK(BM_baseline_wma)->Unit(benchmark::kMillisecond);

// ---- one streaming call through the boundary: clone + next ----

static void BM_ffi_stream_ema_next(benchmark::State& state) {
    RustCallStatus st{0, {0, 0, nullptr}};
    const std::uint64_t h = uniffi_lumenfold_python_fn_constructor_ema_new(10, &st);
    double x = 100.0;
    for (auto _ : state) {
        x = uniffi_lumenfold_python_fn_method_ema_next(uniffi_lumenfold_python_fn_clone_ema(h, &st), x + 1.0, &st);
        benchmark::DoNotOptimize(x);
    }
    uniffi_lumenfold_python_fn_free_ema(h, &st);
}
BENCHMARK(BM_ffi_stream_ema_next);

#include "bench_cases.inc"

BENCHMARK_MAIN();
