// The maps the boundary computes straight from serialized values (and its
// scan for NaN, which chooses between batch paths) agree with the core's batch
// forms over plain arrays, bit for bit (a NaN for a NaN), on every instruction
// set, at lengths around the lane widths.
#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "boundary.hpp"
#include "entry_points.h"
#include "lumenfold/core/batch.hpp"
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
#include "lumenfold/core/framework/smoothing.hpp"
#include "lumenfold/core/oscillators/oc_price_rsi.hpp"
#include "runtime/serialize.hpp"

namespace {

using lumenfold::test::Status;
namespace core = lumenfold::core;

RustBuffer serialized(const std::vector<double>& xs) {
    lumenfold::ffi::Writer w;
    lumenfold::ffi::Vec<lumenfold::ffi::F64>::write(w, xs);
    return w.release();
}

// The result's payload after its count, released.
std::vector<std::uint8_t> payload(RustBuffer out) {
    std::vector<std::uint8_t> bytes(out.data + 4, out.data + out.len);
    Status st;
    ffi_lumenfold_python_rustbuffer_free(out, &st);
    return bytes;
}

// Doubles as serialized, every NaN alike: a NaN's sign and payload are the
// arithmetic's, which the two builds of a lane may order differently.
std::vector<std::uint64_t> serialized_bits(const double* v, std::size_t n) {
    std::vector<std::uint64_t> bits(n);
    for (std::size_t i = 0; i < n; ++i)
        bits[i] = std::isnan(v[i]) ? 0x7ff8000000000000u : __builtin_bswap64(std::bit_cast<std::uint64_t>(v[i]));
    return bits;
}
std::vector<std::uint64_t> result_bits(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint64_t> bits(bytes.size() / 8);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        std::uint64_t b;
        std::memcpy(&b, bytes.data() + i * 8, 8);
        bits[i] = std::isnan(std::bit_cast<double>(__builtin_bswap64(b))) ? 0x7ff8000000000000u : b;
    }
    return bits;
}

std::vector<double> column(std::size_t n, std::mt19937_64& rng) {
    const double special[] = {std::nan(""), std::numeric_limits<double>::infinity(), 0.0, -0.0, 5.0};
    std::uniform_real_distribution<double> step(-1.0, 1.0);
    std::uniform_int_distribution<int> pick(0, 99);
    std::vector<double> xs;
    double level = 50.0;
    for (std::size_t i = 0; i < n; ++i) {
        level += step(rng);
        xs.push_back(pick(rng) < 8 ? special[pick(rng) % 5] : level);
    }
    return xs;
}

TEST(DirectMaps, AgreeWithThePlainBatchFormsOnEveryInstructionSet) {
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 40; ++n) lengths.push_back(n);
    for (std::size_t n : {63, 64, 65, 129, 2049, 4500}) lengths.push_back(n);
    // Every target, the lane work beside a chain in 256-bit and, where the
    // target has them, 512-bit vectors.
    std::vector<std::pair<std::int64_t, bool>> configurations;
    for (const std::int64_t target : hwy::SupportedAndGeneratedTargets()) {
        for (const bool narrow : {true, false}) configurations.emplace_back(target, narrow);
    }
    const bool processor_narrow = core::lanes::narrow_chain_lanes();
    for (const auto& [target, narrow] : configurations) {
        hwy::SetSupportedTargetsForTest(target);
        core::lanes::set_narrow_chain_lanes(narrow);
        const std::string on = std::string(hwy::TargetName(target)) + (narrow ? "" : " (full-width chain lanes)");
        std::mt19937_64 rng(11);
        for (const std::size_t n : lengths) {
            const auto h = column(n, rng), l = column(n, rng), c = column(n, rng);
            const std::uint64_t period = 1 + n % 7;
            Status st;
            const auto mom = core::batch(core::MOM(period), c);
            EXPECT_EQ(result_bits(payload(uniffi_lumenfold_python_fn_func_mom(period, serialized(c), &st))),
                      serialized_bits(mom.data(), n))
                << "mom on " << on << ", " << n << " bars";
            const auto roc = core::batch(core::ROC(period), c);
            EXPECT_EQ(result_bits(payload(uniffi_lumenfold_python_fn_func_roc(period, serialized(c), &st))),
                      serialized_bits(roc.data(), n))
                << "roc on " << on << ", " << n << " bars";
            const auto wma = core::batch(core::WMA(period + n % 23), c);
            EXPECT_EQ(result_bits(payload(uniffi_lumenfold_python_fn_func_wma(period + n % 23, serialized(c), &st))),
                      serialized_bits(wma.data(), n))
                << "wma on " << on << ", " << n << " bars";
            const auto sma = core::batch(core::SMA(period), c);
            EXPECT_EQ(result_bits(payload(uniffi_lumenfold_python_fn_func_sma(period, serialized(c), &st))),
                      serialized_bits(sma.data(), n))
                << "sma on " << on << ", " << n << " bars";
            const auto rsi = core::batch(core::Rsi(period + 1), c);
            EXPECT_EQ(result_bits(payload(uniffi_lumenfold_python_fn_func_rsi(period + 1, serialized(c), &st))),
                      serialized_bits(rsi.data(), n))
                << "rsi on " << on << ", " << n << " bars";
            const auto mid_rsi = core::batch(core::OCPriceRSI(period + 1), c, h);
            EXPECT_EQ(result_bits(payload(uniffi_lumenfold_python_fn_func_ocpricersi(period + 1, serialized(c),
                                                                                      serialized(h), &st))),
                      serialized_bits(mid_rsi.data(), n))
                << "ocpricersi on " << on << ", " << n << " bars";
            const auto kama = core::batch(core::KAMA(period), c);
            EXPECT_EQ(result_bits(payload(uniffi_lumenfold_python_fn_func_kama(period, serialized(c), &st))),
                      serialized_bits(kama.data(), n))
                << "kama on " << on << ", " << n << " bars";
            const auto cci = core::batch(core::CCI(period + 1), h, l, c);
            EXPECT_EQ(result_bits(payload(uniffi_lumenfold_python_fn_func_cci(period + 1, serialized(h), serialized(l),
                                                                               serialized(c), &st))),
                      serialized_bits(cci.data(), n))
                << "cci on " << on << ", " << n << " bars";
            const auto willr = core::batch(core::WILLR(period + 1), h, l, c);
            EXPECT_EQ(result_bits(payload(uniffi_lumenfold_python_fn_func_willr(period + 1, serialized(h), serialized(l),
                                                                                 serialized(c), &st))),
                      serialized_bits(willr.data(), n))
                << "willr on " << on << ", " << n << " bars";
            const auto atr = core::batch(core::ATR(period), h, l, c);
            EXPECT_EQ(result_bits(payload(uniffi_lumenfold_python_fn_func_atr(period, serialized(h), serialized(l),
                                                                               serialized(c), &st))),
                      serialized_bits(atr.data(), n))
                << "atr on " << on << ", " << n << " bars";
            const auto obv = core::batch(core::OBV(), c, h);
            EXPECT_EQ(result_bits(payload(uniffi_lumenfold_python_fn_func_obv(serialized(c), serialized(h), &st))),
                      serialized_bits(obv.data(), n))
                << "obv on " << on << ", " << n << " bars";
            const double acceleration = 0.05 * static_cast<double>(period), maximum = 0.1 * static_cast<double>(n % 5);
            const auto sar = core::batch(core::SAR(acceleration, maximum), h, l);
            EXPECT_EQ(result_bits(payload(uniffi_lumenfold_python_fn_func_sar(acceleration, maximum, serialized(h),
                                                                               serialized(l), &st))),
                      serialized_bits(sar.data(), n))
                << "sar on " << on << ", " << n << " bars";
            const auto pivots = core::batch(core::PivotPoints(), h, l, c);
            EXPECT_EQ(result_bits(payload(
                          uniffi_lumenfold_python_fn_func_pivot_points(serialized(h), serialized(l), serialized(c), &st))),
                      serialized_bits(n == 0 ? nullptr : &pivots[0].p, 5 * n))
                << "pivot points on " << on << ", " << n << " bars";
            const auto fractals = core::batch(core::BillWilliamsFractals(), h, l);
            std::vector<std::uint8_t> flags;
            for (const auto& f : fractals) {
                flags.push_back(f.bearish ? 1 : 0);
                flags.push_back(f.bullish ? 1 : 0);
            }
            EXPECT_EQ(payload(uniffi_lumenfold_python_fn_func_fractals(serialized(h), serialized(l), &st)), flags)
                << "fractals on " << on << ", " << n << " bars";
            ASSERT_EQ(st.code, 0);
        }
    }
    core::lanes::set_narrow_chain_lanes(processor_narrow);
    hwy::SetSupportedTargetsForTest(0);
}

}  // namespace
