// Running lane kernels over whole series in chunks: each chunk of every input
// is loaded into a plain array (with the values before it that its windows
// reach back to), so that a kernel works on arrays that stay in cache, and its
// outputs are stored chunk by chunk.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <type_traits>
#include <utility>
#include <vector>

#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Arrays passed to kernels as `padded` have this many doubles of room past the
// bars they hold: a last group of lanes reads and writes whole vectors.
inline constexpr std::size_t kPad = 16;

// Bars per chunk: a few chunks of every input and output fit in the
// first-level cache.
inline constexpr std::size_t kChunk = 2048;

// Runs f(first, count, values...) over the bars [begin, n) of the series (n
// the shortest length) in chunks, values[j] being series[first - history + j]
// for the chunk's bars and the `history` values before them (begin >=
// history); the arrays are padded.
template <class F, class... S>
void each_chunk(std::size_t history, std::size_t begin, F f, const S&... series) {
    const std::size_t n = std::min({static_cast<std::size_t>(series.size())...});
    if (begin >= n) return;
    const std::size_t chunk = std::max(kChunk, history);
    const std::size_t most = std::min(n - begin, chunk);
    std::array<std::vector<double>, sizeof...(S)> values;
    for (auto& v : values) v.resize(most + history + kPad);
    for (std::size_t first = begin; first < n; first += chunk) {
        const std::size_t count = std::min(chunk, n - first);
        std::size_t k = 0;
        (series.load(first - history, count + history, values[k++].data()), ...);
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            f(first, count, static_cast<const double*>(values[I].data())...);
        }(std::index_sequence_for<S...>{});
    }
}

// Runs a kernel over the bars [begin, n) chunk by chunk: f(count, results,
// values...) gets the inputs as each_chunk gives them and fills results[0 ..
// count) (padded) with the outputs of the chunk's bars, which are then stored
// to `out`.
template <class O, class F, class... S>
void run_chunks(const O& out, std::size_t history, std::size_t begin, F f, const S&... series) {
    std::vector<double> results;
    each_chunk(history, begin, [&](std::size_t first, std::size_t count, const auto*... values) {
        results.resize(count + kPad);
        f(count, results.data(), values...);
        out.store(first, count, results.data());
    }, series...);
}

// Runs a map over the bars [begin, n): the outputs of a run of bars computed
// from the inputs of those bars and of at most `history` bars before them,
// run after run in bar order (a map may carry state, such as a recursion's
// last value, from one run to the next). map(count, results, values...)
// computes `count` outputs of type T into results from arrays holding the
// inputs of those bars after the `history` before them; it takes any count,
// and reads and writes nothing past them. Plain arrays (PlainSeries into
// PlainOutputs) are mapped in place, in one run; other storage in chunks as
// each_chunk gives them, their outputs stored to `out`. A sink and series
// over other storage may offer direct_map(out, history, begin, map,
// series...), found by argument-dependent lookup, which computes the same
// outputs from that storage directly, bit for bit.
template <class T, class O, class Map, class... S>
void map_bars(const O& out, std::size_t history, std::size_t begin, const Map& map, const S&... series) {
    if constexpr (requires { direct_map(out, history, begin, map, series...); }) {
        direct_map(out, history, begin, map, series...);
    } else if constexpr (std::is_same_v<O, PlainOutputs<T>> && (std::is_same_v<S, PlainSeries> && ...)) {
        // Plain arrays are read and written in place, in one piece.
        const std::size_t n = std::min({static_cast<std::size_t>(series.size())...});
        if (begin < n) map(n - begin, out.data() + begin, (series.data() + (begin - history))...);
    } else {
        std::vector<T> results;
        each_chunk(history, begin, [&](std::size_t first, std::size_t count, const auto*... values) {
            results.resize(count + kPad);
            map(count, results.data(), values...);
            out.store(first, count, results.data());
        }, series...);
    }
}

// A kernel with two outputs per bar over the bars [history, n) of one series,
// chunk by chunk: kernel(values, count, a, b) fills a[0 .. count) and
// b[0 .. count) (padded) from values as each_chunk gives them, then
// f(bar, a[k], b[k]) sees each bar in order.
template <class Kernel, class F, class S>
void each_output_pair(const S& x, std::size_t history, Kernel kernel, F f) {
    std::vector<double> a, b;
    each_chunk(history, history, [&](std::size_t first, std::size_t count, const double* values) {
        a.resize(count + kPad);
        b.resize(count + kPad);
        // Local pointers: the caller's stores could alias the vectors' own.
        double* const pa = a.data();
        double* const pb = b.data();
        kernel(values, count, pa, pb);
        for (std::size_t k = 0; k < count; ++k) f(first + k, pa[k], pb[k]);
    }, x);
}

}  // namespace lumenfold::core::lanes
