// The maps of direct_maps.hpp, compiled once per instruction set from the
// core's map templates (core/kernels) with big-endian inputs and outputs.
#include "direct_maps.hpp"

#include <cstring>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "runtime/direct_maps.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "lumenfold/core/channels/maps-inl.h"
#include "lumenfold/core/classic/maps-inl.h"
#include "lumenfold/core/framework/lane_ops-inl.h"
#include "lumenfold/core/framework/maps-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lumenfold::ffi::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using core::lanes::HWY_NAMESPACE::D;
using core::lanes::HWY_NAMESPACE::V;

// The vector of lanes v, each 8 bytes reversed.
template <class VV>
inline VV swapped(VV v) {
    const hn::DFromV<VV> d;
#if HWY_TARGET == HWY_SCALAR
    return hn::Set(d, std::bit_cast<double>(__builtin_bswap64(std::bit_cast<std::uint64_t>(hn::GetLane(v)))));
#else
    const hn::Repartition<std::uint8_t, decltype(d)> d8;
    alignas(16) static constexpr std::uint8_t kSwap[16] = {7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8};
    return hn::BitCast(d, hn::TableLookupBytes(hn::BitCast(d8, v), hn::LoadDup128(d8, kSwap)));
#endif
}

// Big-endian doubles as the maps read them.
struct WireIn {
    const std::uint8_t* p;
    template <class DD>
    hn::Vec<DD> Load(DD, std::size_t i) const {
        hn::Vec<DD> v;
        std::memcpy(&v, p + i * 8, sizeof(v));
        return swapped(v);
    }
    V Load(std::size_t i) const { return Load(D(), i); }
    double Get(std::size_t i) const { return read_f64(p + i * 8); }
};

// Big-endian doubles as the maps write them.
struct WireOut {
    std::uint8_t* p;
    template <class VV>
    void Store(VV v, std::size_t k) const {
        const VV s = swapped(v);
        std::memcpy(p + k * 8, &s, sizeof(s));
    }
    void Set(std::size_t k, double x) const { write_f64(p + k * 8, x); }
};

// Records of N big-endian doubles.
template <std::size_t N>
struct WireRecords {
    std::uint8_t* p;
    void Store(const V (&fields)[N], std::size_t k) const {
        const D d;
        const std::size_t lanes = hn::Lanes(d);
        HWY_ALIGN double records[N * hn::MaxLanes(D())];
        core::lanes::HWY_NAMESPACE::interleave(fields, records);
        for (std::size_t i = 0; i < N * lanes; i += lanes) WireOut{p + k * N * 8}.Store(hn::Load(d, records + i), i);
    }
    void Set(std::size_t k, const double (&values)[N]) const {
        for (std::size_t f = 0; f < N; ++f) write_f64(p + (k * N + f) * 8, values[f]);
    }
};

// The mid prices (close + open) * 0.5 of two serialized series.
struct WireMids {
    WireIn close, open;
    V Load(std::size_t i) const { return hn::Mul(hn::Add(close.Load(i), open.Load(i)), hn::Set(D(), 0.5)); }
    double Get(std::size_t i) const { return (close.Get(i) + open.Get(i)) * 0.5; }
};

bool DirectAnyNan(const std::uint8_t* x, std::size_t n) { return core::lanes::HWY_NAMESPACE::AnyNanLanes(WireIn{x}, n); }

void DirectLagChanges(const std::uint8_t* x, std::size_t count, std::size_t lag, bool rate, std::uint8_t* out) {
    if (rate) {
        core::lanes::HWY_NAMESPACE::LagChangeLanes<true>(WireIn{x}, count, lag, WireOut{out});
    } else {
        core::lanes::HWY_NAMESPACE::LagChangeLanes<false>(WireIn{x}, count, lag, WireOut{out});
    }
}

void DirectPivotLevels(const std::uint8_t* high, const std::uint8_t* low, const std::uint8_t* close,
                       std::size_t count, std::uint8_t* out) {
    core::lanes::HWY_NAMESPACE::PivotLevelLanes(WireIn{high}, WireIn{low}, WireIn{close}, count, WireRecords<5>{out});
}

// A record of two flags serializes as its two bytes, as in memory.
void DirectFractalFlags(const std::uint8_t* high, const std::uint8_t* low, std::size_t count, std::uint8_t* out) {
    core::lanes::HWY_NAMESPACE::FractalFlagLanes(WireIn{high}, WireIn{low}, count,
                                                 core::lanes::HWY_NAMESPACE::FlagPairs{out});
}

double DirectRunningMeans(const std::uint8_t* x, std::size_t count, std::size_t lag, double den, double sum,
                          std::uint8_t* out) {
    return core::lanes::HWY_NAMESPACE::RunningMeanLanes(WireIn{x}, count, lag, den, sum, WireOut{out});
}

void DirectRsi(const std::uint8_t* x, std::size_t count, double period, double period_less1, double* averages,
               std::uint8_t* out) {
    core::lanes::HWY_NAMESPACE::RsiLanes(WireIn{x}, count, period, period_less1, averages, WireOut{out});
}

void DirectMidRsi(const std::uint8_t* close, const std::uint8_t* open, std::size_t count, double period,
                  double period_less1, double* averages, std::uint8_t* out) {
    core::lanes::HWY_NAMESPACE::RsiLanes(WireMids{WireIn{close}, WireIn{open}}, count, period, period_less1, averages,
                                         WireOut{out});
}

void DirectWeightedMeans(const double* x, std::size_t count, std::size_t period, const double* weights,
                         bool newest_first, double den, std::uint8_t* out) {
    core::lanes::HWY_NAMESPACE::WeightedMeanLanes(x, count, period, weights, newest_first, den, WireOut{out});
}

void DirectWillr(const double* high, const double* low, const double* close, std::size_t count, std::size_t period,
                 std::uint8_t* out) {
    core::lanes::HWY_NAMESPACE::WillrLanes(high, low, close, count, period, WireOut{out});
}

double DirectAtr(const std::uint8_t* high, const std::uint8_t* low, const std::uint8_t* close, std::size_t count,
                 double alpha, double one_minus_alpha, double value, std::uint8_t* out) {
    return core::lanes::HWY_NAMESPACE::AtrLanes(WireIn{high}, WireIn{low}, WireIn{close}, count, alpha,
                                                one_minus_alpha, value, WireOut{out});
}

double DirectObv(const std::uint8_t* price, const std::uint8_t* volume, std::size_t count, double total,
                 std::uint8_t* out) {
    return core::lanes::HWY_NAMESPACE::ObvLanes(WireIn{price}, WireIn{volume}, count, total, WireOut{out});
}

void DirectCci(const std::uint8_t* high, const std::uint8_t* low, const std::uint8_t* close, std::size_t count,
               std::size_t period, core::lanes::CciState* state, double* work, std::uint8_t* out) {
    core::lanes::HWY_NAMESPACE::CciLanes(WireIn{high}, WireIn{low}, WireIn{close}, count, period, *state, work,
                                         WireOut{out});
}

double DirectKama(const std::uint8_t* x, std::size_t count, std::size_t period, double slow, double spread,
                  double value, double* work, std::uint8_t* out) {
    return core::lanes::HWY_NAMESPACE::KamaLanes(WireIn{x}, count, period, slow, spread, value, work, WireOut{out});
}

void DirectSar(const std::uint8_t* high, const std::uint8_t* low, std::size_t count, double acceleration,
               double maximum, core::lanes::SarState* state, std::uint8_t* out) {
    core::lanes::HWY_NAMESPACE::SarLanes(WireIn{high}, WireIn{low}, count, acceleration, maximum, *state,
                                         WireOut{out});
}

}  // namespace lumenfold::ffi::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lumenfold::ffi {

HWY_EXPORT(DirectAnyNan);
HWY_EXPORT(DirectLagChanges);
HWY_EXPORT(DirectPivotLevels);
HWY_EXPORT(DirectFractalFlags);
HWY_EXPORT(DirectWeightedMeans);
HWY_EXPORT(DirectRunningMeans);
HWY_EXPORT(DirectRsi);
HWY_EXPORT(DirectMidRsi);
HWY_EXPORT(DirectWillr);
HWY_EXPORT(DirectAtr);
HWY_EXPORT(DirectObv);
HWY_EXPORT(DirectCci);
HWY_EXPORT(DirectKama);
HWY_EXPORT(DirectSar);

bool direct_any_nan(const std::uint8_t* x, std::size_t n) noexcept { return HWY_DYNAMIC_DISPATCH(DirectAnyNan)(x, n); }
void direct_lag_changes(const std::uint8_t* x, std::size_t count, std::size_t lag, bool rate,
                        std::uint8_t* out) noexcept {
    HWY_DYNAMIC_DISPATCH(DirectLagChanges)(x, count, lag, rate, out);
}
void direct_pivot_levels(const std::uint8_t* high, const std::uint8_t* low, const std::uint8_t* close,
                         std::size_t count, std::uint8_t* out) noexcept {
    HWY_DYNAMIC_DISPATCH(DirectPivotLevels)(high, low, close, count, out);
}
void direct_fractal_flags(const std::uint8_t* high, const std::uint8_t* low, std::size_t count,
                          std::uint8_t* out) noexcept {
    HWY_DYNAMIC_DISPATCH(DirectFractalFlags)(high, low, count, out);
}

double direct_running_means(const std::uint8_t* x, std::size_t count, std::size_t lag, double den, double sum,
                            std::uint8_t* out) noexcept {
    return HWY_DYNAMIC_DISPATCH(DirectRunningMeans)(x, count, lag, den, sum, out);
}
void direct_rsi(const std::uint8_t* x, std::size_t count, double period, double period_less1, double* averages,
                std::uint8_t* out) noexcept {
    HWY_DYNAMIC_DISPATCH(DirectRsi)(x, count, period, period_less1, averages, out);
}
void direct_mid_rsi(const std::uint8_t* close, const std::uint8_t* open, std::size_t count, double period,
                    double period_less1, double* averages, std::uint8_t* out) noexcept {
    HWY_DYNAMIC_DISPATCH(DirectMidRsi)(close, open, count, period, period_less1, averages, out);
}
void direct_weighted_means(const double* x, std::size_t count, std::size_t period, const double* weights,
                           bool newest_first, double den, std::uint8_t* out) noexcept {
    HWY_DYNAMIC_DISPATCH(DirectWeightedMeans)(x, count, period, weights, newest_first, den, out);
}

void direct_willr(const double* high, const double* low, const double* close, std::size_t count,
                  std::size_t period, std::uint8_t* out) noexcept {
    HWY_DYNAMIC_DISPATCH(DirectWillr)(high, low, close, count, period, out);
}

double direct_atr(const std::uint8_t* high, const std::uint8_t* low, const std::uint8_t* close, std::size_t count,
                  double alpha, double one_minus_alpha, double value, std::uint8_t* out) noexcept {
    return HWY_DYNAMIC_DISPATCH(DirectAtr)(high, low, close, count, alpha, one_minus_alpha, value, out);
}
double direct_obv(const std::uint8_t* price, const std::uint8_t* volume, std::size_t count, double total,
                  std::uint8_t* out) noexcept {
    return HWY_DYNAMIC_DISPATCH(DirectObv)(price, volume, count, total, out);
}
void direct_cci(const std::uint8_t* high, const std::uint8_t* low, const std::uint8_t* close, std::size_t count,
                std::size_t period, core::lanes::CciState* state, double* work, std::uint8_t* out) noexcept {
    HWY_DYNAMIC_DISPATCH(DirectCci)(high, low, close, count, period, state, work, out);
}
double direct_kama(const std::uint8_t* x, std::size_t count, std::size_t period, double slow, double spread,
                   double value, double* work, std::uint8_t* out) noexcept {
    return HWY_DYNAMIC_DISPATCH(DirectKama)(x, count, period, slow, spread, value, work, out);
}
void direct_sar(const std::uint8_t* high, const std::uint8_t* low, std::size_t count, double acceleration,
                double maximum, core::lanes::SarState* state, std::uint8_t* out) noexcept {
    HWY_DYNAMIC_DISPATCH(DirectSar)(high, low, count, acceleration, maximum, state, out);
}

}  // namespace lumenfold::ffi
#endif
