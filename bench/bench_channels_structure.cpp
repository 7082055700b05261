// The pattern scanner's cost per bar over random walks of growing length:
// it must not grow with the number of bars fed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "lumenfold/core/channels/geometric_pattern.hpp"

namespace {

std::vector<std::pair<double, double>> random_walk(std::size_t n) {
    std::mt19937_64 rng(42);
    std::normal_distribution<double> step(0.0, 1.0);
    std::uniform_real_distribution<double> wick(0.0, 1.0);
    std::vector<std::pair<double, double>> bars;
    double price = 100.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double o = price;
        const double c = std::max(1.0, o + step(rng));
        bars.push_back({std::max(o, c) + wick(rng), std::min(o, c) - wick(rng)});
        price = c;
    }
    return bars;
}

void BM_core_GeometricPatternScanner_walk(benchmark::State& state) {
    const auto bars = random_walk(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        lumenfold::core::GeometricPatternScanner scanner(5);
        for (const auto& [h, l] : bars) benchmark::DoNotOptimize(scanner.next(h, l));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(bars.size()));
}

}  // namespace

BENCHMARK(BM_core_GeometricPatternScanner_walk)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
