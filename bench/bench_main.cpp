// Benchmarks: every indicator's core over a seeded series of 1e6 bars and its
// batch function through the C boundary (registered from the interface
// description), plus hand-written baselines and the cost of one boundary call.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <map>
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

using Bytes = std::vector<std::uint8_t>;

// A column serialized as a vector argument, built once per column.
const Bytes& serialized(const std::vector<double>& column) {
    static std::map<const std::vector<double>*, Bytes> made;
    Bytes& bytes = made[&column];
    if (bytes.empty()) {
        Writer w;
        Vec<F64>::write(w, column);
        bytes.assign(w.data(), w.data() + w.size());
    }
    return bytes;
}

// An argument buffer made from the serialized bytes, as a host makes it.
RustBuffer copy_in(const Bytes& bytes) {
    RustCallStatus st{0, {0, 0, nullptr}};
    return ffi_lumenfold_python_rustbuffer_from_bytes(
        ForeignBytes{static_cast<std::int32_t>(bytes.size()), bytes.data()}, &st);
}

void release_result(RustBuffer out, RustCallStatus& st) {
    RustCallStatus ignored{0, {0, 0, nullptr}};
    ffi_lumenfold_python_rustbuffer_free(out, &ignored);
    if (st.code != 0) ffi_lumenfold_python_rustbuffer_free(st.error_buf, &ignored);
}

double elapsed_ns(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - since).count();
}

long minor_faults() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_minflt;
}

// Times `call` (copy in, call, free) and reports its best time per bar, that
// time over the best memcpy of `input` into storage already in place (timed
// between the calls, so both see the same caches), and the minor page faults
// of the last call.
template <class Call>
void measure_batch(benchmark::State& state, std::size_t bars, const Bytes& input, Call call) {
    Bytes target(input.size(), 1);
    double best = std::numeric_limits<double>::infinity();
    double best_copy = std::numeric_limits<double>::infinity();
    long faults = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        std::memcpy(target.data(), input.data(), input.size());
        benchmark::ClobberMemory();
        best_copy = std::min(best_copy, elapsed_ns(t0));
        const long f0 = minor_faults();
        t0 = std::chrono::steady_clock::now();
        call();
        best = std::min(best, elapsed_ns(t0));
        faults = minor_faults() - f0;
    }
    state.counters["ns_per_bar"] = best / static_cast<double>(bars);
    state.counters["x_memcpy"] = best / best_copy;
    state.counters["memcpy_ns_per_bar"] = best_copy / static_cast<double>(bars);
    state.counters["faults"] = static_cast<double>(faults);
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

// The batch functions again with the parameters of the published comparison.
BENCHMARK_CAPTURE(BM_ffi_sma, 20, 20ull)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_ema, 10, 10ull)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_wma, 20, 20ull)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_kama, 10, 10ull)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_mom, 10, 10ull)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_roc, 10, 10ull)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_rsi, 14, 14ull)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_macd, 12_26_9, 12ull, 26ull, 9ull)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_atr, 14, 14ull)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_adx, 14, 14ull)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_cci, 14, 14ull)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_willr, 14, 14ull)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
