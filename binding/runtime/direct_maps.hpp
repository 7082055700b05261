// Maps (map_bars) computed straight from serialized inputs into the
// serialized result: the same lanes as the core's kernels (written once over
// their inputs and outputs), reading and writing big-endian bytes as they go,
// so that the cheapest maps and the recursions need no pass of their own to
// convert. map_bars finds these by argument-dependent lookup for the wire
// sink and series.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lumenfold/core/channels/fractals.hpp"
#include "lumenfold/core/channels/pivot_points.hpp"
#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/classic/cci.hpp"
#include "lumenfold/core/classic/kama.hpp"
#include "lumenfold/core/classic/mom.hpp"
#include "lumenfold/core/classic/obv.hpp"
#include "lumenfold/core/classic/rsi.hpp"
#include "lumenfold/core/classic/sar.hpp"
#include "lumenfold/core/classic/willr.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/oscillators/oc_price_rsi.hpp"
#include "wire.hpp"

namespace lumenfold::ffi {

// The lanes of each map over big-endian bytes; inputs hold count + history
// doubles, outputs count results.
bool direct_any_nan(const std::uint8_t* x, std::size_t n) noexcept;
void direct_lag_changes(const std::uint8_t* x, std::size_t count, std::size_t lag, bool rate,
                        std::uint8_t* out) noexcept;
void direct_pivot_levels(const std::uint8_t* high, const std::uint8_t* low, const std::uint8_t* close,
                         std::size_t count, std::uint8_t* out) noexcept;
void direct_fractal_flags(const std::uint8_t* high, const std::uint8_t* low, std::size_t count,
                          std::uint8_t* out) noexcept;
double direct_running_means(const std::uint8_t* x, std::size_t count, std::size_t lag, double den, double sum,
                            std::uint8_t* out) noexcept;
void direct_rsi(const std::uint8_t* x, std::size_t count, double period, double period_less1, double* averages,
                std::uint8_t* out) noexcept;
void direct_mid_rsi(const std::uint8_t* close, const std::uint8_t* open, std::size_t count, double period,
                    double period_less1, double* averages, std::uint8_t* out) noexcept;
void direct_weighted_means(const double* x, std::size_t count, std::size_t period, const double* weights,
                           bool newest_first, double den, std::uint8_t* out) noexcept;
void direct_willr(const double* high, const double* low, const double* close, std::size_t count,
                  std::size_t period, std::uint8_t* out) noexcept;
double direct_atr(const std::uint8_t* high, const std::uint8_t* low, const std::uint8_t* close, std::size_t count,
                  double alpha, double one_minus_alpha, double value, std::uint8_t* out) noexcept;
double direct_obv(const std::uint8_t* price, const std::uint8_t* volume, std::size_t count, double total,
                  std::uint8_t* out) noexcept;
void direct_cci(const std::uint8_t* high, const std::uint8_t* low, const std::uint8_t* close, std::size_t count,
                std::size_t period, core::lanes::CciState* state, double* work, std::uint8_t* out) noexcept;
double direct_kama(const std::uint8_t* x, std::size_t count, std::size_t period, double slow, double spread,
                   double value, double* work, std::uint8_t* out) noexcept;
void direct_sar(const std::uint8_t* high, const std::uint8_t* low, std::size_t count, double acceleration,
                double maximum, core::lanes::SarState* state, std::uint8_t* out) noexcept;

inline bool direct_has_nan(const WireSeries& x) { return direct_any_nan(x.bytes(), x.size()); }

template <class K>
void direct_map(const WireOutputs<K, double>& out, std::size_t history, std::size_t begin,
                const core::lanes::LagChangeMap& map, const WireSeries& x) {
    if (begin >= x.size()) return;
    direct_lag_changes(x.bytes() + (begin - history) * 8, x.size() - begin, map.lag, map.rate, out.at(begin));
}

template <class K>
void direct_map(const WireOutputs<K, core::PivotPointsOutput>& out, std::size_t history, std::size_t begin,
                const core::lanes::PivotLevelMap&, const WireSeries& high, const WireSeries& low,
                const WireSeries& close) {
    static_assert(K::template native_layout<core::PivotPointsOutput>(), "records of five doubles");
    const std::size_t n = std::min({high.size(), low.size(), close.size()});
    if (begin >= n) return;
    const std::size_t from = (begin - history) * 8;
    direct_pivot_levels(high.bytes() + from, low.bytes() + from, close.bytes() + from, n - begin, out.at(begin));
}

template <class K>
void direct_map(const WireOutputs<K, core::FractalsOutput>& out, std::size_t history, std::size_t begin,
                const core::lanes::FractalFlagMap&, const WireSeries& high, const WireSeries& low) {
    static_assert(K::kBytes == 2, "records of two flags");
    const std::size_t n = std::min(high.size(), low.size());
    if (begin >= n) return;
    direct_fractal_flags(high.bytes() + (begin - history) * 8, low.bytes() + (begin - history) * 8, n - begin,
                         out.at(begin));
}

template <class K>
void direct_map(const WireOutputs<K, double>& out, std::size_t history, std::size_t begin,
                const core::lanes::RunningMeanMap& map, const WireSeries& x) {
    if (begin >= x.size()) return;
    *map.sum = direct_running_means(x.bytes() + (begin - history) * 8, x.size() - begin, map.lag, map.den, *map.sum,
                                    out.at(begin));
}

template <class K>
void direct_map(const WireOutputs<K, double>& out, std::size_t history, std::size_t begin,
                const core::lanes::RsiMap& map, const WireSeries& x) {
    if (begin >= x.size()) return;
    direct_rsi(x.bytes() + (begin - history) * 8, x.size() - begin, map.period, map.period_less1, map.averages,
               out.at(begin));
}

// The RSI of the mid prices, each bar's read from the two series as the
// recursion takes it.
template <class K>
void direct_map(const WireOutputs<K, double>& out, std::size_t history, std::size_t begin,
                const core::lanes::RsiMap& map, const core::OCPriceRSI::MidPrices<WireSeries, WireSeries>& x) {
    if (begin >= x.size()) return;
    const std::size_t from = (begin - history) * 8;
    direct_mid_rsi(x.close.bytes() + from, x.open.bytes() + from, x.size() - begin, map.period, map.period_less1,
                   map.averages, out.at(begin));
}

// Each input is read `period` times: from plain chunks, the means written
// straight into the result.
template <class K>
void direct_map(const WireOutputs<K, double>& out, std::size_t history, std::size_t begin,
                const core::lanes::WeightedMeanMap& map, const WireSeries& x) {
    core::lanes::each_chunk(history, begin, [&](std::size_t first, std::size_t count, const double* values) {
        direct_weighted_means(values, count, map.period, map.weights, map.newest_first, map.den, out.at(first));
    }, x);
}

// Each input is read `period` times: from plain chunks, the outputs written
// straight into the result.
template <class K>
void direct_map(const WireOutputs<K, double>& out, std::size_t history, std::size_t begin,
                const core::lanes::WillrMap& map, const WireSeries& high, const WireSeries& low,
                const WireSeries& close) {
    core::lanes::each_chunk(history, begin, [&](std::size_t first, std::size_t count, const double* h, const double* l,
                                                const double* c) {
        direct_willr(h, l, c, count, map.period, out.at(first));
    }, high, low, close);
}

template <class K>
void direct_map(const WireOutputs<K, double>& out, std::size_t history, std::size_t begin,
                const core::lanes::AtrMap& map, const WireSeries& high, const WireSeries& low,
                const WireSeries& close) {
    const std::size_t n = std::min({high.size(), low.size(), close.size()});
    if (begin >= n) return;
    const std::size_t from = (begin - history) * 8;
    *map.value = direct_atr(high.bytes() + from, low.bytes() + from, close.bytes() + from, n - begin, map.alpha,
                            map.one_minus_alpha, *map.value, out.at(begin));
}

template <class K>
void direct_map(const WireOutputs<K, double>& out, std::size_t history, std::size_t begin,
                const core::lanes::ObvMap& map, const WireSeries& price, const WireSeries& volume) {
    const std::size_t n = std::min(price.size(), volume.size());
    if (begin >= n) return;
    const std::size_t from = (begin - history) * 8;
    *map.total = direct_obv(price.bytes() + from, volume.bytes() + from, n - begin, *map.total, out.at(begin));
}

template <class K>
void direct_map(const WireOutputs<K, double>& out, std::size_t history, std::size_t begin,
                const core::lanes::CciMap& map, const WireSeries& high, const WireSeries& low,
                const WireSeries& close) {
    const std::size_t n = std::min({high.size(), low.size(), close.size()});
    if (begin >= n) return;
    const std::size_t from = (begin - history) * 8;
    direct_cci(high.bytes() + from, low.bytes() + from, close.bytes() + from, n - begin, map.period, map.state,
               map.work, out.at(begin));
}

template <class K>
void direct_map(const WireOutputs<K, double>& out, std::size_t history, std::size_t begin,
                const core::lanes::KamaMap& map, const WireSeries& x) {
    if (begin >= x.size()) return;
    *map.value = direct_kama(x.bytes() + (begin - history) * 8, x.size() - begin, map.period, map.slow, map.spread,
                             *map.value, map.work, out.at(begin));
}

template <class K>
void direct_map(const WireOutputs<K, double>& out, std::size_t history, std::size_t begin,
                const core::lanes::SarMap& map, const WireSeries& high, const WireSeries& low) {
    const std::size_t n = std::min(high.size(), low.size());
    if (begin >= n) return;
    const std::size_t from = (begin - history) * 8;
    direct_sar(high.bytes() + from, low.bytes() + from, n - begin, map.acceleration, map.maximum, map.state,
               out.at(begin));
}

}  // namespace lumenfold::ffi
