// Every batch form against its streaming step, on every instruction set the
// lanes are compiled for: the same outputs over random series with ties,
// signed zeros, huge and tiny values, NaN and infinities, at lengths around
// the lane widths and the chunk boundaries, for periods from degenerate to
// long. lumenfold::core::batch against stepping on from a stepped object, and
// taking every exported class.
#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <typeindex>
#include <vector>

#include "framework/batch_forms.hpp"

namespace lumenfold::test {

// An exported class as the interface description makes it for the contract
// tests; `batches` runs lumenfold::core::batch over a few bars of it.
struct CoreClass {
    std::string name;
    std::type_index type;
    bool batch_form;
    std::function<std::size_t()> batches;
};

// Instantiating lumenfold::core::batch for the class and the element types of
// its `next` inputs is the compile-time check that it batches.
template <class... In, class Make>
CoreClass core_class(const char* name, Make make) {
    using Core = decltype(make());
    return {name, typeid(Core), BatchForm<Core, In...>,
            [make] {
                const auto out = lumenfold::core::batch(make(), std::array<In, 3>{}...);
                return out.size();
            }};
}

}  // namespace lumenfold::test

using lumenfold::test::core_class;
using lumenfold::test::CoreClass;
#include "core_classes.inc"

namespace lumenfold::test {
namespace {

// Series of six kinds: a clean random walk; a walk with rare NaN holes (one
// quiet NaN, with a payload on odd lengths); values drawn from a handful
// (ties, zeros of both signs); a walk with rare infinities; one of huge and
// tiny magnitudes; a walk with rare NaNs of both signs and infinities. Bits
// compare exactly, NaN sign and payload included, on the kinds without NaN or
// infinite inputs (see exact_nan); elsewhere every NaN compares alike.
constexpr int kKinds = 6;

// Whether NaN bits are compared exactly: only where no NaN or infinity goes
// in, by the series or by a period of 0 (whose coefficients divide by it), so
// that every NaN has one source and no operand order picks between two.
bool exact_nan(int kind, std::uint64_t period) { return period != 0 && (kind == 0 || kind == 2 || kind == 4); }

Columns series(std::size_t inputs, std::size_t n, int kind, std::mt19937_64& rng) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const double specials[] = {std::nan(""), kInf, -kInf, 0.0, -0.0, -std::nan("")};
    const double few[] = {1.0, 2.0, 0.0, -0.0, 2.0, 1.0, 3.5};
    std::uniform_real_distribution<double> step(-1.0, 1.0);
    std::uniform_int_distribution<int> pick(0, 99);
    const double hole = std::bit_cast<double>(n % 2 ? 0x7ff800000000abcdu : 0x7ff8000000000000u);
    Columns cols(inputs);
    for (std::size_t c = 0; c < inputs; ++c) {
        double level = 50.0 + 10.0 * static_cast<double>(c);
        for (std::size_t t = 0; t < n; ++t) {
            level += step(rng);
            double v = level;
            if (kind == 1 && pick(rng) < 4) v = hole;
            if (kind == 2) v = few[pick(rng) % 7];
            if (kind == 3 && pick(rng) < 3) v = pick(rng) % 2 ? kInf : -kInf;
            if (kind == 4) v *= pick(rng) % 2 ? 1e300 : 1e-300;
            if (kind == 5 && pick(rng) < 4) v = specials[pick(rng) % 6];
            cols[c].push_back(v);
        }
    }
    return cols;
}

TEST(BatchForms, EqualTheStepOnEveryInstructionSet) {
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 40; ++n) lengths.push_back(n);
    for (std::size_t n : {63, 64, 65, 129, 2080, 4200}) lengths.push_back(n);
    const std::uint64_t periods[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 14, 20, 33, 2050};
    const bool processor_narrow = core::lanes::narrow_chain_lanes();
    for (const std::int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        // With 512-bit vectors, the lane work beside a chain in both widths.
        const bool both = std::string_view(hwy::TargetName(target)).starts_with("AVX3");
        for (const bool narrow : both ? std::vector{true, false} : std::vector{processor_narrow}) {
            core::lanes::set_narrow_chain_lanes(narrow);
            const std::string on = std::string(hwy::TargetName(target)) + (narrow ? "" : " (512-bit chain lanes)");
            std::mt19937_64 rng(7);
            for (const Kernel& k : kernels()) {
                for (const std::uint64_t period : periods) {
                    for (const std::size_t n : lengths) {
                        // Chunk boundaries with short and long windows only.
                        if (n > 200 ? period != 3 && period != 14 && period != 2050 : period > 40) continue;
                        for (int kind = 0; kind < kKinds; ++kind) {
                            // Infinities and magnitudes on short series only: they take no path of their own.
                            if (n > 200 && (kind == 3 || kind == 4)) continue;
                            const Columns cols = series(k.inputs, n, kind, rng);
                            const Outcome o = k.run(period, cols);
                            ASSERT_FALSE(o.overrun) << k.name << " wrote past its outputs";
                            // The bits as compared: every NaN alike on kinds with NaN or infinite inputs.
                            const auto as_compared = [&](const Bits& b) {
                                return exact_nan(kind, period) ? b : nan_alike(b);
                            };
                            ASSERT_EQ(as_compared(o.step), as_compared(o.batch))
                                << k.name << " on " << on << ", period " << period << ", " << n
                                << " bars, series kind " << kind;
                            ASSERT_EQ(as_compared(o.step), as_compared(o.plain))
                                << k.name << " into plain arrays on " << on << ", period " << period << ", " << n
                                << " bars, series kind " << kind;
                        }
                    }
                }
            }
        }
    }
    core::lanes::set_narrow_chain_lanes(processor_narrow);
    hwy::SetSupportedTargetsForTest(0);
}

// A warmed-up indicator batched over new bars gives what stepping it on
// gives: from every split of edge-case series (NaN, infinities, ties, signed
// zeros, huge and tiny values), through the batch form where it can start from the state reached
// and by stepping elsewhere. A fresh object always offers its batch form.
TEST(BatchForms, BatchRunsFromTheStateGiven) {
    std::mt19937_64 rng(11);
    for (const Kernel& k : kernels()) {
        for (const std::uint64_t period : {0, 1, 2, 3, 5, 14, 33}) {
            EXPECT_TRUE(k.ready(period)) << k.name << ", period " << period;
            for (const std::size_t n : {9, 80, 150}) {
                for (int kind = 0; kind < kKinds; ++kind) {
                    const Columns cols = series(k.inputs, n, kind, rng);
                    const std::size_t p = static_cast<std::size_t>(period);
                    for (const std::size_t split : {std::size_t{0}, std::size_t{1}, std::size_t{2}, p, p + 1, n / 2}) {
                        if (split > n) continue;
                        const Outcome o = k.resume(period, cols, split);
                        ASSERT_EQ(exact_nan(kind, period) ? o.step : nan_alike(o.step),
                                  exact_nan(kind, period) ? o.batch : nan_alike(o.batch))
                            << k.name << ", period " << period << ", " << split << " of " << n
                            << " bars stepped first, series kind " << kind;
                    }
                }
            }
        }
    }
}

TEST(BatchForms, EveryExportedClassBatches) {
    std::set<std::type_index> listed;
    for (const Kernel& k : kernels()) listed.insert(k.type);
    for (const CoreClass& c : ::kCoreClasses) {
        EXPECT_EQ(c.batches(), 3u) << c.name;
        // Each batch form is run from stepped states above.
        if (c.batch_form) {
            EXPECT_TRUE(listed.count(c.type)) << c.name << " has a batch form missing from kernels()";
        }
    }
}

}  // namespace
}  // namespace lumenfold::test
