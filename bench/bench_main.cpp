// Benchmarks: every indicator's core over a seeded market-like series of 1e6
// bars and its batch function through the C boundary (registered from the
// interface description) on that series, on a predictable one and on gappy
// bars, plus hand-written baselines and the cost of one boundary call.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <array>
#include <cstdio>
#include <map>
#include <string>
#include <cstring>
#include <random>
#include <vector>

#include "bars.hpp"
#include "entry_points.h"
#include "lumenfold/core/classic/hilbert_ta.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "runtime/serialize.hpp"

using namespace lumenfold::ffi;

namespace {

using lumenfold::bench::Bars;

constexpr std::size_t kBars = 1'000'000;

const Bars& predictable_bars() {
    static const Bars b = lumenfold::bench::predictable_bars(kBars);
    return b;
}

const Bars& market_bars() {
    static const Bars b = lumenfold::bench::random_walk(kBars, lumenfold::bench::kMarketWalk);
    return b;
}

const Bars& gappy_bars() {
    static const Bars b = lumenfold::bench::random_walk(kBars, lumenfold::bench::kGappyWalk);
    return b;
}

const Bars& bars() { return market_bars(); }

// The batch functions run on every series: argument 0 the market-like one,
// 1 the predictable one, 2 the gappy one.
enum Series : int { kMarket = 0, kPredictable = 1, kGappy = 2, kSeriesCount = 3 };

const Bars& bars(const benchmark::State& state) {
    switch (state.range(0)) {
        case kPredictable: return predictable_bars();
        case kGappy: return gappy_bars();
        default: return market_bars();
    }
}

void on_every_series(benchmark::internal::Benchmark* b) {
    b->ArgName("series")->Arg(kMarket)->Arg(kPredictable)->Arg(kGappy);
}

// Best ns per bar of each batch function on each series, for the closing table.
std::map<std::string, std::array<double, kSeriesCount>>& series_times() {
    static std::map<std::string, std::array<double, kSeriesCount>> times;
    return times;
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

// "atr(14)": a batch function and its scalar arguments, naming it in the table.
template <class... A>
std::string batch_key(const char* fn, A... args) {
    std::string key = fn;
    if constexpr (sizeof...(A) != 0) {
        std::string list;
        ((list.append(list.empty() ? "" : ", ").append(std::to_string(args))), ...);
        key.append("(").append(list).append(")");
    }
    return key;
}

// Times `call` (copy in, call, free) after one untimed call and reports its
// best time per bar (of seven calls at least), that time over the best memcpy
// of `input` into storage already in place (timed between the calls, so both
// see the same caches), and the minor page faults of the last call.
template <class Call>
void measure_batch(benchmark::State& state, std::size_t bars, const Bytes& input, const std::string& key, Call call) {
    Bytes target(input.size(), 1);
    double best = std::numeric_limits<double>::infinity();
    double best_copy = std::numeric_limits<double>::infinity();
    long faults = 0;
    auto timed = [&] {
        auto t0 = std::chrono::steady_clock::now();
        std::memcpy(target.data(), input.data(), input.size());
        benchmark::ClobberMemory();
        best_copy = std::min(best_copy, elapsed_ns(t0));
        const long f0 = minor_faults();
        t0 = std::chrono::steady_clock::now();
        call();
        best = std::min(best, elapsed_ns(t0));
        faults = minor_faults() - f0;
    };
    // One call untimed first: the process's first output of a size pays for
    // memory the later ones find ready, whichever series comes first.
    call();
    for (auto _ : state) timed();
    // At least seven timed calls, however long one takes.
    for (auto k = state.iterations(); k < 7; ++k) timed();
    state.counters["ns_per_bar"] = best / static_cast<double>(bars);
    state.counters["x_memcpy"] = best / best_copy;
    state.counters["memcpy_ns_per_bar"] = best_copy / static_cast<double>(bars);
    state.counters["faults"] = static_cast<double>(faults);
    series_times()[key][static_cast<std::size_t>(state.range(0))] = best / static_cast<double>(bars);
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
BENCHMARK_CAPTURE(BM_ffi_sma, 20, 20ull)->Apply(on_every_series)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_ema, 10, 10ull)->Apply(on_every_series)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_wma, 20, 20ull)->Apply(on_every_series)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_kama, 10, 10ull)->Apply(on_every_series)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_mom, 10, 10ull)->Apply(on_every_series)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_roc, 10, 10ull)->Apply(on_every_series)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_rsi, 14, 14ull)->Apply(on_every_series)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_macd, 12_26_9, 12ull, 26ull, 9ull)->Apply(on_every_series)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_atr, 14, 14ull)->Apply(on_every_series)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_adx, 14, 14ull)->Apply(on_every_series)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_cci, 14, 14ull)->Apply(on_every_series)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ffi_willr, 14, 14ull)->Apply(on_every_series)->Unit(benchmark::kMillisecond);

// ---- floors: the arithmetic alone ----
// Each batch function's own order of operations as a plain loop over native
// doubles in memory, written to a preallocated output: no boundary, no copy,
// no byte swap. What is left is the chain of dependent operations that a bar
// must wait for. Reported like the batch functions: best ns per bar, and over
// an in-run memcpy of one serialized input.

template <class Loop>
void measure_floor(benchmark::State& state, Loop loop) {
    const Bars& b = bars();
    const Bytes& input = serialized(b.close);
    Bytes target(input.size(), 1);
    std::vector<double> out(b.n);
    double best = std::numeric_limits<double>::infinity();
    double best_copy = std::numeric_limits<double>::infinity();
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        std::memcpy(target.data(), input.data(), input.size());
        benchmark::ClobberMemory();
        best_copy = std::min(best_copy, elapsed_ns(t0));
        t0 = std::chrono::steady_clock::now();
        loop(b.close.data(), b.n, out.data());
        benchmark::ClobberMemory();
        best = std::min(best, elapsed_ns(t0));
    }
    benchmark::DoNotOptimize(out.data());
    const double n = static_cast<double>(b.n);
    state.counters["ns_per_bar"] = best / n;
    state.counters["memcpy_ns_per_bar"] = best_copy / n;
    state.counters["x_memcpy"] = best / best_copy;
    state.counters["plus_memcpy_x_memcpy"] = (best + best_copy) / best_copy;
}

// Two dependent additions per bar: sum = x + sum, then sum - old.
static void BM_floor_sma(benchmark::State& state) {
    measure_floor(state, [](const double* x, std::size_t n, double* out) {
        const std::size_t p = 20;
        double sum = 0.0;
        for (std::size_t i = 0; i < p; ++i) {
            sum = x[i] + sum;
            out[i] = sum / static_cast<double>(i + 1);
        }
        for (std::size_t i = p; i < n; ++i) {
            sum = (x[i] + sum) - x[i - p];
            out[i] = sum / static_cast<double>(p);
        }
    });
}
BENCHMARK(BM_floor_sma)->Unit(benchmark::kMillisecond);

// A product and an addition per bar: v = x * alpha + v * (1 - alpha).
static void BM_floor_ema(benchmark::State& state) {
    measure_floor(state, [](const double* x, std::size_t n, double* out) {
        const double alpha = 2.0 / 11.0, keep = 1.0 - alpha;
        double v = x[0];
        out[0] = v;
        for (std::size_t i = 1; i < n; ++i) {
            v = x[i] * alpha + v * keep;
            out[i] = v;
        }
    });
}
BENCHMARK(BM_floor_ema)->Unit(benchmark::kMillisecond);

// No chain between bars: 20 products and additions per bar, bars side by
// side in lanes (the batch form's own kernel over native doubles).
static void BM_floor_wma(benchmark::State& state) {
    std::vector<double> weights(20);
    for (std::size_t j = 0; j < 20; ++j) weights[j] = static_cast<double>(j + 1);
    measure_floor(state, [&](const double* x, std::size_t n, double* out) {
        lumenfold::core::lanes::weighted_means(x, n - 19, 20, weights.data(), false, 210.0, out + 19);
    });
}
BENCHMARK(BM_floor_wma)->Unit(benchmark::kMillisecond);

// No chain between bars: one subtraction per bar.
static void BM_floor_mom(benchmark::State& state) {
    measure_floor(state, [](const double* x, std::size_t n, double* out) {
        const std::size_t p = 10;
        for (std::size_t i = 0; i < p; ++i) out[i] = std::numeric_limits<double>::quiet_NaN();
        for (std::size_t i = p; i < n; ++i) out[i] = x[i] - x[i - p];
    });
}
BENCHMARK(BM_floor_mom)->Unit(benchmark::kMillisecond);

// The chain alone: a subtraction, a product and an addition per bar,
// value = value + (x - value) * f, with each bar's f = sc * sc (its
// volatility sum and efficiency ratio, which do not wait for the chain)
// computed beforehand.
static void BM_floor_kama(benchmark::State& state) {
    const Bars& b = bars();
    const std::size_t p = 10;
    const double slow = 2.0 / 31.0, spread = 2.0 / 3.0 - slow;
    std::vector<double> factor(b.n);
    for (std::size_t t = p; t < b.n; ++t) {
        double vol = 0.0;
        for (std::size_t i = 1; i <= p; ++i) vol = vol + std::fabs(b.close[t - i + 1] - b.close[t - i]);
        const double er = vol == 0.0 ? 0.0 : std::fabs(b.close[t] - b.close[t - p]) / vol;
        const double sc = slow + er * spread;
        factor[t] = sc * sc;
    }
    measure_floor(state, [&](const double* x, std::size_t n, double* out) {
        double value = x[p - 1];
        for (std::size_t t = p; t < n; ++t) {
            value = value + (x[t] - value) * factor[t];
            out[t] = value;
        }
    });
}
BENCHMARK(BM_floor_kama)->Unit(benchmark::kMillisecond);

// The chains alone: two side by side, each a product, an addition and a
// division per bar, avg = (gain + avg * (p - 1)) / p, with each bar's gain and
// loss taken beforehand (the RSI of each bar, which the chains do not wait
// for, left out).
static void BM_floor_rsi(benchmark::State& state) {
    const Bars& b = bars();
    std::vector<double> gains(b.n), losses(b.n);
    for (std::size_t i = 1; i < b.n; ++i) {
        const double change = b.close[i] - b.close[i - 1];
        gains[i] = change > 0.0 ? change : 0.0;
        losses[i] = change > 0.0 ? 0.0 : -change;
    }
    std::vector<double> avg_losses(b.n);
    measure_floor(state, [&](const double*, std::size_t n, double* out) {
        const double pf = 14.0, pf1 = 13.0;
        double avg_gain = 0.0, avg_loss = 0.0;
        for (std::size_t i = 15; i < n; ++i) {
            avg_gain = (gains[i] + avg_gain * pf1) / pf;
            avg_loss = (losses[i] + pf1 * avg_loss) / pf;
            out[i] = avg_gain;
            avg_losses[i] = avg_loss;
        }
    });
    benchmark::DoNotOptimize(avg_losses.data());
}
BENCHMARK(BM_floor_rsi)->Unit(benchmark::kMillisecond);

// The core step itself over native doubles: one serial chain per bar through
// the smoother, four Hilbert stages, the homodyne product, an arctangent and
// the period limits.
static void BM_floor_htdcperiod(benchmark::State& state) {
    measure_floor(state, [](const double* x, std::size_t n, double* out) {
        lumenfold::core::HT_DCPERIOD core;
        for (std::size_t i = 0; i < n; ++i) out[i] = core.next(x[i]);
    });
}
BENCHMARK(BM_floor_htdcperiod)->Unit(benchmark::kMillisecond);

// The benchmarks, then for every batch function measured on every series its
// time on each and its times on the two market-like series over its time on
// the predictable one.
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    bool header = false;
    for (const auto& [name, t] : series_times()) {
        if (t[kMarket] == 0.0 || t[kPredictable] == 0.0 || t[kGappy] == 0.0) continue;
        if (!header) {
            std::printf("\n%-44s %14s %14s %14s %8s %8s\n", "batch function", "market ns/bar", "gappy ns/bar",
                        "predict ns/bar", "market", "gappy");
            header = true;
        }
        std::printf("%-44s %14.3f %14.3f %14.3f %8.2f %8.2f\n", name.c_str(), t[kMarket], t[kGappy],
                    t[kPredictable], t[kMarket] / t[kPredictable], t[kGappy] / t[kPredictable]);
    }
    return 0;
}
