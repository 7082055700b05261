// Helpers shared by the core test files.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "lumenfold/core/framework/panic.hpp"

namespace lumenfold::test {

// `f` must fail with the library's Panic carrying `message`.
template <class F>
void expect_panic(F f, const std::string& message) {
    try {
        f();
        ADD_FAILURE() << "no panic, expected \"" << message << "\"";
    } catch (const lumenfold::Panic& p) {
        EXPECT_EQ(p.message(), message);
    }
}

// Feeds every value to a fresh copy of `ind` and collects the outputs.
template <class T>
std::vector<double> run(T ind, const std::vector<double>& xs) {
    std::vector<double> out;
    out.reserve(xs.size());
    for (double x : xs) out.push_back(ind.next(x));
    return out;
}

// One bar of an indicator fed high, low and close.
struct Bar {
    double high, low, close;
};

// Feeds every bar to a fresh copy of `ind` and collects the outputs.
template <class T>
auto run_hlc(T ind, const std::vector<Bar>& bars) {
    std::vector<decltype(ind.next(0.0, 0.0, 0.0))> out;
    out.reserve(bars.size());
    for (const Bar& b : bars) out.push_back(ind.next(b.high, b.low, b.close));
    return out;
}

// A random walk of closes with the high above and the low below each.
inline std::vector<Bar> walk_bars(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> step(-1.0, 1.0);
    std::uniform_real_distribution<double> spread(0.0, 2.0);
    std::vector<Bar> bars;
    double c = 100.0;
    for (std::size_t i = 0; i < n; ++i) {
        c += step(rng);
        bars.push_back({c + spread(rng), c - spread(rng), c});
    }
    return bars;
}

}  // namespace lumenfold::test
