// The batch forms of the core classes and the check that they agree with
// stepping, shared by the core tests and the fuzz target. Outputs compare as
// bits, NaN sign and payload included; `nan_alike` makes every NaN one for
// series whose NaNs differ in bits (see there).
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <span>
#include <type_traits>
#include <string>
#include <typeindex>
#include <utility>
#include <vector>

#include "lumenfold/core/batch.hpp"
#include "lumenfold/core/channels/alma.hpp"
#include "lumenfold/core/channels/atr_ts.hpp"
#include "lumenfold/core/channels/choppiness_index.hpp"
#include "lumenfold/core/channels/donchian.hpp"
#include "lumenfold/core/channels/fractals.hpp"
#include "lumenfold/core/channels/heikin_ashi.hpp"
#include "lumenfold/core/channels/hma.hpp"
#include "lumenfold/core/channels/ichimoku.hpp"
#include "lumenfold/core/channels/keltner.hpp"
#include "lumenfold/core/channels/stc.hpp"
#include "lumenfold/core/channels/supertrend.hpp"
#include "lumenfold/core/channels/ttm_squeeze.hpp"
#include "lumenfold/core/channels/ultimate_channel.hpp"
#include "lumenfold/core/channels/pivot_points.hpp"
#include "lumenfold/core/channels/volume_profile.hpp"
#include "lumenfold/core/classic/adx.hpp"
#include "lumenfold/core/classic/aroon.hpp"
#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/classic/cci.hpp"
#include "lumenfold/core/classic/hilbert_ta.hpp"
#include "lumenfold/core/classic/kama.hpp"
#include "lumenfold/core/classic/macd.hpp"
#include "lumenfold/core/classic/mom.hpp"
#include "lumenfold/core/classic/obv.hpp"
#include "lumenfold/core/classic/rsi.hpp"
#include "lumenfold/core/classic/sar.hpp"
#include "lumenfold/core/classic/stoch.hpp"
#include "lumenfold/core/classic/willr.hpp"
#include "lumenfold/core/cycles/amfm.hpp"
#include "lumenfold/core/cycles/autocorrelation.hpp"
#include "lumenfold/core/cycles/correlation_cycle.hpp"
#include "lumenfold/core/cycles/cycle_trend_analytics.hpp"
#include "lumenfold/core/cycles/fourier_dominant_cycle.hpp"
#include "lumenfold/core/cycles/griffiths_spectrum.hpp"
#include "lumenfold/core/cycles/hurst.hpp"
#include "lumenfold/core/cycles/phasor.hpp"
#include "lumenfold/core/filters/dsma.hpp"
#include "lumenfold/core/filters/ehlers_filter.hpp"
#include "lumenfold/core/filters/frama.hpp"
#include "lumenfold/core/filters/hamming.hpp"
#include "lumenfold/core/filters/hann.hpp"
#include "lumenfold/core/filters/noise_elimination.hpp"
#include "lumenfold/core/filters/projected_moving_average.hpp"
#include "lumenfold/core/filters/recursive_median.hpp"
#include "lumenfold/core/filters/swiss_army_knife.hpp"
#include "lumenfold/core/filters/triangle.hpp"
#include "lumenfold/core/filters/truncated_bandpass.hpp"
#include "lumenfold/core/filters/undersampled_double_ma.hpp"
#include "lumenfold/core/framework/smoothing.hpp"
#include "lumenfold/core/framework/traits.hpp"
#include "lumenfold/core/features/frac_diff.hpp"
#include "lumenfold/core/features/hurst.hpp"
#include "lumenfold/core/oscillators/cg.hpp"
#include "lumenfold/core/oscillators/correlation_trend.hpp"
#include "lumenfold/core/oscillators/dmh.hpp"
#include "lumenfold/core/oscillators/madh.hpp"
#include "lumenfold/core/oscillators/oc_price_rsi.hpp"
#include "lumenfold/core/oscillators/rocket_rsi.hpp"
#include "lumenfold/core/oscillators/rsih.hpp"

namespace lumenfold::test {

using namespace lumenfold::core;

using Bits = std::vector<std::uint64_t>;
using Columns = std::vector<std::vector<double>>;

inline std::uint64_t canonical(std::uint64_t bits) {
    return std::isnan(std::bit_cast<double>(bits)) ? 0x7ff8000000000000u : bits;
}

// The words with every NaN made one. Where two NaNs of different bits meet in
// a sum or product (an input's and one that an infinity or a sign change
// made), which propagates is the compiler's choice of operand order, which
// may differ between the step and the batch form.
inline Bits nan_alike(Bits bits) {
    for (auto& b : bits) b = canonical(b);
    return bits;
}

template <class Out>
void append_bits(Bits& bits, const Out& v) {
    static_assert(sizeof(Out) % 8 == 0);
    std::array<std::uint64_t, sizeof(Out) / 8> words;
    std::memcpy(words.data(), &v, sizeof(Out));
    for (std::uint64_t w : words) bits.push_back(w);
}

template <class Core, std::size_t... I>
Bits stepped(Core core, const Columns& cols, std::index_sequence<I...>) {
    Bits bits;
    for (std::size_t t = 0; t < cols[0].size(); ++t) append_bits(bits, core.next(cols[I][t]...));
    return bits;
}

// Outputs into an array of n, noting any write past it.
template <class T>
struct CheckedOutputs {
    T* out;
    std::size_t n;
    bool* overrun;
    void put(std::size_t i, const T& v) const {
        if (i < n) out[i] = v;
        else *overrun = true;
    }
    void store(std::size_t from, std::size_t count, const T* values) const {
        for (std::size_t k = 0; k < count; ++k) put(from + k, values[k]);
    }
};
struct CheckedRows {
    std::vector<double>* rows;
    std::size_t n;
    bool* overrun;
    void put(std::size_t i, std::span<const double> row) const {
        if (i < n) rows[i].assign(row.begin(), row.end());
        else *overrun = true;
    }
};

template <class>
using AsDouble = double;

// The batch form's outputs as `next` would return them; `overrun` when it
// wrote past them. Through a sink of the test's own, or with `plain` (outputs
// of a fixed size) through plain arrays, as core::batch runs it, which a map
// reads and writes in place: there a guard past the outputs must stay as it
// was.
template <class Core, std::size_t... I>
auto batch_outputs(Core core, const Columns& cols, bool& overrun, bool plain, std::index_sequence<I...>) {
    using Out = BatchOutput<Core, AsDouble<decltype(I)>...>;
    const std::size_t n = cols[0].size();
    std::vector<std::conditional_t<FixedRows<Core>, std::vector<double>, Out>> out(n);
    if constexpr (FixedRows<Core>) {
        core.batch(CheckedRows{out.data(), n, &overrun}, PlainSeries(cols[I])...);
    } else if (plain) {
        constexpr std::size_t kGuard = 32;
        constexpr unsigned char kMark = 0xa5;
        out.resize(n + kGuard);
        auto* guard = reinterpret_cast<unsigned char*>(out.data() + n);
        std::memset(guard, kMark, kGuard * sizeof(Out));
        core.batch(PlainOutputs<Out>(out.data()), PlainSeries(cols[I])...);
        overrun = overrun || std::any_of(guard, guard + kGuard * sizeof(Out), [](unsigned char b) { return b != kMark; });
        out.resize(n);
    } else {
        core.batch(CheckedOutputs<Out>{out.data(), n, &overrun}, PlainSeries(cols[I])...);
    }
    return out;
}

// The batch form's outputs; `overrun` when it wrote past them.
template <class Core, std::size_t... I>
Bits batched(Core core, const Columns& cols, bool& overrun, bool plain, std::index_sequence<I...>) {
    Bits bits;
    for (const auto& v : batch_outputs(core, cols, overrun, plain, std::index_sequence<I...>{})) append_bits(bits, v);
    return bits;
}

// The step's outputs, the batch form's through the test's sink and through
// plain arrays.
struct Outcome {
    Bits step;
    Bits batch;
    Bits plain;
    bool overrun = false;
    bool agrees() const { return step == batch && step == plain && !overrun; }
};

// The object stepped over the first `split` bars of cols, then over the rest
// two ways: `step` stepping on, `batch` through lumenfold::core::batch, which
// must run it from that state. `emit(bits, output)` appends an output's bits.
template <class Core, class Emit, std::size_t... I>
Outcome resumed(Core core, const Columns& cols, std::size_t split, const Emit& emit, std::index_sequence<I...>) {
    for (std::size_t t = 0; t < split; ++t) (void)core.next(cols[I][t]...);
    Columns rest(cols.size());
    for (std::size_t c = 0; c < cols.size(); ++c) rest[c].assign(cols[c].begin() + split, cols[c].end());
    Outcome o;
    Core stepping = core;
    for (std::size_t t = 0; t < rest[0].size(); ++t) emit(o.step, stepping.next(rest[I][t]...));
    for (const auto& v : lumenfold::core::batch(core, rest[I]...)) emit(o.batch, v);
    return o;
}

// A core class with a batch form, made from one period: `run` compares its
// batch form with stepping, `resume` runs resumed() on it.
struct Kernel {
    std::string name;
    std::size_t inputs;
    std::function<Outcome(std::uint64_t period, const Columns& cols)> run;
    std::function<Outcome(std::uint64_t period, const Columns& cols, std::size_t split)> resume;
    std::type_index type;
    // Whether a just-made object offers its batch form to lumenfold::core::batch.
    std::function<bool(std::uint64_t period)> ready;
};

template <class Make>
std::function<bool(std::uint64_t)> ready_when_made(Make make) {
    return [make](std::uint64_t period) {
        const auto core = make(period);
        if constexpr (requires { core.batch_ready(); }) return core.batch_ready();
        else return true;
    };
}

template <std::size_t N, class Make>
Kernel kernel(std::string name, Make make) {
    return {std::move(name), N,
            [make](std::uint64_t period, const Columns& cols) {
                Outcome o;
                o.step = stepped(make(period), cols, std::make_index_sequence<N>{});
                o.batch = batched(make(period), cols, o.overrun, false, std::make_index_sequence<N>{});
                o.plain = batched(make(period), cols, o.overrun, true, std::make_index_sequence<N>{});
                return o;
            },
            [make](std::uint64_t period, const Columns& cols, std::size_t split) {
                return resumed(make(period), cols, split, [](Bits& b, const auto& v) { append_bits(b, v); },
                               std::make_index_sequence<N>{});
            },
            typeid(decltype(make(0))), ready_when_made(make)};
}

// Outputs other than doubles: the test serializes each step's output itself,
// field by field ('d' an 8-byte double, '4' a 4-byte integer, '1' one byte),
// and reads the batch form's bytes back with the same layout.
struct Encoded {
    std::vector<std::uint8_t> bytes;
    std::string layout;

    void f64(double v) {
        put_be(std::bit_cast<std::uint64_t>(v), 8);
        layout += 'd';
    }
    void i32(std::int32_t v) {
        put_be(static_cast<std::uint32_t>(v), 4);
        layout += '4';
    }
    void byte(std::uint8_t v) {
        bytes.push_back(v);
        layout += '1';
    }

private:
    void put_be(std::uint64_t v, int size) {
        for (int k = size - 1; k >= 0; --k) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
    }
};

inline Bits fields_of(const std::uint8_t* p, const std::string& layout) {
    Bits bits;
    for (char c : layout) {
        const int size = c == 'd' ? 8 : c == '4' ? 4 : 1;
        std::uint64_t v = 0;
        for (int k = 0; k < size; ++k) v = (v << 8) | *p++;
        bits.push_back(v);
    }
    return bits;
}

template <class Core, class Encode, std::size_t... I>
Outcome run_encoded(Core step, Core batch, Core plain, const Encode& encode, const Columns& cols,
                    std::index_sequence<I...>) {
    const std::size_t n = cols[0].size();
    Encoded e;
    for (std::size_t t = 0; t < n; ++t) encode(e, step.next(cols[I][t]...));
    Outcome o;
    o.step = fields_of(e.bytes.data(), e.layout);
    Encoded b, p;
    for (const auto& v : batch_outputs(batch, cols, o.overrun, false, std::index_sequence<I...>{})) encode(b, v);
    o.batch = fields_of(b.bytes.data(), b.layout);
    for (const auto& v : batch_outputs(plain, cols, o.overrun, true, std::index_sequence<I...>{})) encode(p, v);
    o.plain = fields_of(p.bytes.data(), p.layout);
    return o;
}

// A core class whose outputs the test serializes with `encode(Encoded&, out)`.
template <std::size_t N, class Make, class Encode>
Kernel kernel(std::string name, Make make, Encode encode) {
    return {std::move(name), N,
            [make, encode](std::uint64_t period, const Columns& cols) {
                return run_encoded(make(period), make(period), make(period), encode, cols,
                                   std::make_index_sequence<N>{});
            },
            [make, encode](std::uint64_t period, const Columns& cols, std::size_t split) {
                const auto emit = [&encode](Bits& b, const auto& v) {
                    Encoded e;
                    encode(e, v);
                    const Bits fields = fields_of(e.bytes.data(), e.layout);
                    b.insert(b.end(), fields.begin(), fields.end());
                };
                return resumed(make(period), cols, split, emit, std::make_index_sequence<N>{});
            },
            typeid(decltype(make(0))), ready_when_made(make)};
}

// A vector output (the spectral measures) as its serialized row: the length, then the values.
inline void spectral_row(Encoded& e, const std::vector<double>& v) {
    e.i32(static_cast<std::int32_t>(v.size()));
    for (double x : v) e.f64(x);
}

// Every core class with a batch form.
inline const std::vector<Kernel>& kernels() {
    static const std::vector<Kernel> all = {
        kernel<1>("SMA", [](std::uint64_t p) { return SMA(p); }),
        kernel<1>("EMA", [](std::uint64_t p) { return EMA(p); }),
        kernel<1>("WMA", [](std::uint64_t p) { return WMA(p); }),
        kernel<1>("MOM", [](std::uint64_t p) { return MOM(p); }),
        kernel<1>("ROC", [](std::uint64_t p) { return ROC(p); }),
        kernel<1>("KAMA", [](std::uint64_t p) { return KAMA(p); }),
        kernel<1>("RSI", [](std::uint64_t p) { return Rsi(p); }),
        kernel<1>("MACD(p, 2p/3, p/2)", [](std::uint64_t p) { return MACD(p, p * 2 / 3, p / 2); }),
        kernel<1>("MACD(p/3, p, 1)", [](std::uint64_t p) { return MACD(p / 3, p, 1); }),
        kernel<3>("ATR", [](std::uint64_t p) { return ATR(p); }),
        kernel<2>("OBV", [](std::uint64_t) { return OBV(); }),
        // accelerations from 0 to 0.4 with maxima from 0 to 0.375, some below them
        kernel<2>("SAR", [](std::uint64_t p) { return SAR(to_f64(p % 9) / 20.0, to_f64(p % 4) / 8.0); }),
        kernel<2>("AROON", [](std::uint64_t p) { return AROON(p); }),
        kernel<3>("STOCH(p, p/2, p/3)", [](std::uint64_t p) { return STOCH(p, p / 2, p / 3); }),
        kernel<3>("STOCH(p, 3, 2) over EMAs", [](std::uint64_t p) { return STOCH(p, 3, 1, 2, 1); }),
        kernel<3>("ADX", [](std::uint64_t p) { return ADX(p); }),
        kernel<3>("CCI", [](std::uint64_t p) { return CCI(p); }),
        kernel<3>("WILLR", [](std::uint64_t p) { return WILLR(p); }),
        kernel<1>("Hann", [](std::uint64_t p) { return HannFilter(p); }),
        kernel<1>("Hamming", [](std::uint64_t p) { return HammingFilter(p, 0.5); }),
        kernel<1>("Hamming(0)", [](std::uint64_t p) { return HammingFilter(p, 0.0); }),
        kernel<1>("Triangle", [](std::uint64_t p) { return TriangleFilter(p); }),
        // channels
        kernel<1>("ALMA", [](std::uint64_t p) { return ALMA(p, 0.85, 6.0); }),
        kernel<1>("ALMA(offset 0, sigma 0.5)", [](std::uint64_t p) { return ALMA(p, 0.0, 0.5); }),
        kernel<1>("HMA", [](std::uint64_t p) { return HMA(p); }),
        kernel<2>("Donchian", [](std::uint64_t p) { return DonchianChannels(p); }),
        kernel<3>("Choppiness", [](std::uint64_t p) { return ChoppinessIndex(p); }),
        kernel<2>("Ichimoku(p, 2p, 3p)", [](std::uint64_t p) { return IchimokuCloud(p, 2 * p, 3 * p); }),
        kernel<2>("Ichimoku(p, p/2, 0)", [](std::uint64_t p) { return IchimokuCloud(p, p / 2, 0); }),
        kernel<3>("Keltner", [](std::uint64_t p) { return KeltnerChannels(p, p / 2 + 1, 2.0); }),
        kernel<3>("UltimateChannel", [](std::uint64_t p) { return UltimateChannel(p, p / 2 + 1, 1.5); }),
        kernel<4>("HeikinAshi", [](std::uint64_t) { return HeikinAshi(); }),
        kernel<1>("SchaffTrendCycle", [](std::uint64_t p) { return SchaffTrendCycle(p, p / 2 + 1, p + 3); }),
        // oscillators and features
        kernel<1>("MADH(p, p)", [](std::uint64_t p) { return MADH(p, p); }),
        kernel<1>("MADH(p/3, p)", [](std::uint64_t p) { return MADH(p / 3, p); }),
        kernel<1>("RSIH", [](std::uint64_t p) { return RSIH(p); }),
        kernel<1>("RocketRSI(p + 1, 8)", [](std::uint64_t p) { return RocketRSI(p + 1, 8); }),
        kernel<1>("CG", [](std::uint64_t p) { return CenterOfGravity(p); }),
        kernel<1>("CorrelationTrend", [](std::uint64_t p) { return CorrelationTrend(p); }),
        kernel<2>("DMH", [](std::uint64_t p) { return DMH(p); }),
        kernel<2>("OCPriceRSI", [](std::uint64_t p) { return OCPriceRSI(p); }),
        kernel<1>("FracDiff(0.45, 1/(p+1))", [](std::uint64_t p) { return FracDiff(0.45, 1.0 / to_f64(p + 1)); }),
        kernel<1>("FracDiff((p%11)/10, 1e-3)", [](std::uint64_t p) { return FracDiff(to_f64(p % 11) / 10.0, 1e-3); }),
        // cycles
        kernel<1>("HurstExponent", [](std::uint64_t p) { return HurstExponent(p); }),
        kernel<2>("AMDetector", [](std::uint64_t p) { return AMDetector(p, p / 2 + 1); }),
        kernel<1>("MarketState", [](std::uint64_t p) { return MarketState(p, 9.0); }),
        kernel<1>("MarketState(400)", [](std::uint64_t p) { return MarketState(p, 400.0); }),
        // A sweep of 43 periods per bar: windows capped to keep the test quick.
        kernel<1>("FourierDominantCycle",
                  [](std::uint64_t p) { return FourierDominantCycle(std::min<std::uint64_t>(p, 100)); }),
        // filters
        kernel<1>("DSMA", [](std::uint64_t p) { return DSMA(p); }),
        kernel<1>("EhlersFilter", [](std::uint64_t p) { return EhlersFilter(p); }),
        kernel<1>("TruncatedBandpass", [](std::uint64_t p) { return TruncatedBandpass(20, 0.1, p); }),
        kernel<3>("FRAMA", [](std::uint64_t p) { return FRAMA(p); }),
        kernel<1>("NoiseElimination", [](std::uint64_t p) { return NoiseElimination(p); }),
        kernel<1>("ProjectedMovingAverage", [](std::uint64_t p) { return ProjectedMovingAverage(p); }),
        kernel<1>("RecursiveMedian", [](std::uint64_t p) { return RecursiveMedian(p); }),
        kernel<1>("RecursiveMedianOscillator", [](std::uint64_t p) { return RecursiveMedianOscillator(p, p + 5); }),
        kernel<1>("SwissArmyKnife(SMA)", [](std::uint64_t p) { return SwissArmyKnife(SwissMode::SMA, p, 0.1); }),
        kernel<1>("SwissArmyKnife(BandStop)", [](std::uint64_t p) { return SwissArmyKnife(SwissMode::BandStop, p, 0.1); }),
        kernel<1>("TruncatedBandpass(p, 0.3)", [](std::uint64_t p) { return TruncatedBandpass(p, 0.3, p / 2); }),
        kernel<1>("UndersampledDoubleMA", [](std::uint64_t p) { return UndersampledDoubleMA(p / 2, p, p / 3); }),
        kernel<1>("UndersampledDoubleMA(long fast)", [](std::uint64_t p) { return UndersampledDoubleMA(p, 3, 2); }),
        // averages with windows at and past the sizes of their groups and chunks (64, 75, 2111 on long series)
        kernel<1>("SMA(p + 61)", [](std::uint64_t p) { return SMA(p + 61); }),
        kernel<1>("WMA(p + 61)", [](std::uint64_t p) { return WMA(p + 61); }),
        kernel<1>("ROC(p + 61)", [](std::uint64_t p) { return ROC(p + 61); }),
        kernel<1>("KAMA(p + 61)", [](std::uint64_t p) { return KAMA(p + 61); }),
        kernel<1>("RSI(p + 61)", [](std::uint64_t p) { return Rsi(p + 61); }),
        // records with integer or boolean fields, and records of fewer fields than the step returns
        kernel<2>("Fractals", [](std::uint64_t) { return BillWilliamsFractals(); },
                  [](Encoded& e, FractalsOutput o) {
                      e.byte(o.bearish);
                      e.byte(o.bullish);
                  }),
        // The multipliers by period: the usual ones, a squeeze mostly on, a negative and an infinite one,
        // and bands that coincide (never a squeeze: the comparisons are strict).
        kernel<3>("TTMSqueeze",
                  [](std::uint64_t p) {
                      const double bb[] = {2.0, 0.25, -0.5, 0.0};
                      const double kc[] = {1.5, 3.0, std::numeric_limits<double>::infinity(), 0.0};
                      return TTMSqueeze(p, bb[p % 4], kc[p % 4]);
                  },
                  [](Encoded& e, SuperTrendOutput o) {
                      e.f64(o.value);
                      e.byte(static_cast<std::uint8_t>(o.direction));
                  }),
        // Stops that flip often (a small multiplier) and seldom, and a negative multiplier.
        kernel<3>("SuperTrend",
                  [](std::uint64_t p) { return SuperTrend(p, p % 3 == 0 ? -1.0 : 0.25 * static_cast<double>(p % 8)); },
                  [](Encoded& e, SuperTrendOutput o) {
                      e.f64(o.value);
                      e.byte(static_cast<std::uint8_t>(o.direction));
                  }),
        kernel<3>("ATRTrailingStop",
                  [](std::uint64_t p) {
                      return ATRTrailingStop(p, p % 3 == 0 ? -1.0 : 0.25 * static_cast<double>(p % 8));
                  },
                  [](Encoded& e, AtrTsOutput o) {
                      e.f64(o.stop);
                      e.byte(static_cast<std::uint8_t>(o.direction));
                  }),
        kernel<1>("HurstFeatureExtractor", [](std::uint64_t p) { return HurstFeatureExtractor(p); },
                  [](Encoded& e, HurstFeatures o) {
                      e.f64(o.persistence);
                      e.i32(o.regime_label);
                  }),
        kernel<1>("CorrelationCycle", [](std::uint64_t p) { return CorrelationCycle(p); },
                  [](Encoded& e, const auto& o) {
                      e.f64(o.in_phase);
                      e.f64(o.quadrature);
                  }),
        // phasor, sine wave, cycle/trend pair, volume profile, pivot points
        kernel<1>("Phasor", [](std::uint64_t) { return Phasor(); }),
        kernel<1>("SineWave", [](std::uint64_t) { return SineWave(); }),
        kernel<1>("CycleTrendPair(p, p + 1)", [](std::uint64_t p) { return CycleTrendPair(p, p + 1); },
                  [](Encoded& e, const auto& o) { e.f64(o.cycle); e.f64(o.trend); }),
        kernel<1>("CycleTrendPair(p / 3, p + 4)", [](std::uint64_t p) { return CycleTrendPair(p / 3, p + 4); },
                  [](Encoded& e, const auto& o) { e.f64(o.cycle); e.f64(o.trend); }),
        kernel<2>("VolumeProfile(p, 12)", [](std::uint64_t p) { return VolumeProfile(p, 12); }),
        kernel<2>("VolumeProfile(p, 1 + p % 40)", [](std::uint64_t p) { return VolumeProfile(p, 1 + p % 40); }),
        kernel<2>("VolumeProfile(p / 2, 0)", [](std::uint64_t p) { return VolumeProfile(p / 2, 0); }),
        kernel<3>("PivotPoints", [](std::uint64_t) { return PivotPoints(); }),
        // the Hilbert period engine's series loop
        kernel<1>("HT_DCPERIOD", [](std::uint64_t) { return HT_DCPERIOD(); }),
        kernel<1>("HT_PHASOR", [](std::uint64_t) { return HT_PHASOR(); }),
        // spectral cycle measures: one vector of fixed length per bar
        kernel<1>("EhlersAutocorrelation",
                  [](std::uint64_t p) { return EhlersAutocorrelation(std::min<std::uint64_t>(p, 24), p % 19); }, spectral_row),
        kernel<1>("GriffithsSpectrum",
                  [](std::uint64_t p) {
                      return GriffithsSpectrum(p % 7 + 1, p % 7 + 1 + p % 17, std::min<std::uint64_t>(p, 20));
                  },
                  spectral_row),
        kernel<1>("GriffithsSpectrum(no period)", [](std::uint64_t p) { return GriffithsSpectrum(p + 1, p, 5); },
                  spectral_row),
        kernel<1>("GriffithsPredictor",
                  [](std::uint64_t p) { return GriffithsPredictor(8, 30, std::min<std::uint64_t>(p, 24) / 3, p % 8); }),
    };
    return all;
}

}  // namespace lumenfold::test
