// Every batch form against its streaming step, on every instruction set the
// lanes are compiled for: the outputs must be the same bits over random series
// with ties, signed zeros, NaN and infinities, at lengths around the lane
// widths and the chunk boundaries, for periods from degenerate to long. Every
// NaN counts alike: which NaN operand propagates is the compiler's choice.
#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "lumenfold/core/classic/adx.hpp"
#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/classic/cci.hpp"
#include "lumenfold/core/classic/kama.hpp"
#include "lumenfold/core/classic/macd.hpp"
#include "lumenfold/core/classic/mom.hpp"
#include "lumenfold/core/classic/rsi.hpp"
#include "lumenfold/core/classic/willr.hpp"
#include "lumenfold/core/framework/smoothing.hpp"

namespace lumenfold::core {
namespace {

using Bits = std::vector<std::uint64_t>;
using Columns = std::vector<std::vector<double>>;

std::vector<std::uint8_t> big_endian(const std::vector<double>& xs) {
    std::vector<std::uint8_t> out(xs.size() * 8);
    for (std::size_t i = 0; i < xs.size(); ++i) {
        const std::uint64_t bits = big_endian_bits(std::bit_cast<std::uint64_t>(xs[i]));
        std::memcpy(out.data() + i * 8, &bits, 8);
    }
    return out;
}

std::uint64_t canonical(std::uint64_t bits) {
    return std::isnan(std::bit_cast<double>(bits)) ? 0x7ff8000000000000u : bits;
}

template <class Out>
void append_bits(Bits& bits, const Out& v) {
    static_assert(sizeof(Out) % 8 == 0);
    std::array<std::uint64_t, sizeof(Out) / 8> words;
    std::memcpy(words.data(), &v, sizeof(Out));
    for (std::uint64_t w : words) bits.push_back(canonical(w));
}

template <class Core, std::size_t... I>
Bits stepped(Core core, const Columns& cols, std::index_sequence<I...>) {
    Bits bits;
    for (std::size_t t = 0; t < cols[0].size(); ++t) append_bits(bits, core.next(cols[I][t]...));
    return bits;
}

template <class Core, std::size_t... I>
Bits batched(Core core, const Columns& cols, std::index_sequence<I...>) {
    using Out = decltype(core.next(cols[I][0]...));
    const std::size_t n = cols[0].size();
    const std::array<std::vector<std::uint8_t>, sizeof...(I)> in{big_endian(cols[I])...};
    std::vector<std::uint8_t> out(n * sizeof(Out) + 1, 0xa5);
    core.batch(BigEndianOut(out.data()), BigEndianSeries(in[I].data(), n)...);
    EXPECT_EQ(out.back(), 0xa5) << "wrote past the outputs";
    Bits bits(n * sizeof(Out) / 8);
    for (std::size_t k = 0; k < bits.size(); ++k) {
        std::uint64_t b;
        std::memcpy(&b, out.data() + k * 8, 8);
        bits[k] = canonical(big_endian_bits(b));
    }
    return bits;
}

struct Kernel {
    std::string name;
    std::size_t inputs;
    std::function<void(std::uint64_t period, const Columns& cols, Bits& step, Bits& batch)> run;
};

template <std::size_t N, class Make>
Kernel kernel(std::string name, Make make) {
    return {std::move(name), N, [make](std::uint64_t period, const Columns& cols, Bits& step, Bits& batch) {
                step = stepped(make(period), cols, std::make_index_sequence<N>{});
                batch = batched(make(period), cols, std::make_index_sequence<N>{});
            }};
}

const std::vector<Kernel>& kernels() {
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
        kernel<3>("ADX", [](std::uint64_t p) { return ADX(p); }),
        kernel<3>("CCI", [](std::uint64_t p) { return CCI(p); }),
        kernel<3>("WILLR", [](std::uint64_t p) { return WILLR(p); }),
    };
    return all;
}

// Series of three kinds: a clean random walk, a walk with rare special
// values, and values drawn from a handful (ties, zeros of both signs).
Columns series(std::size_t inputs, std::size_t n, int kind, std::mt19937_64& rng) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const double specials[] = {std::nan(""), kInf, -kInf, 0.0, -0.0};
    const double few[] = {1.0, 2.0, 0.0, -0.0, 2.0, 1.0, 3.5};
    std::uniform_real_distribution<double> step(-1.0, 1.0);
    std::uniform_int_distribution<int> pick(0, 99);
    Columns cols(inputs);
    for (std::size_t c = 0; c < inputs; ++c) {
        double level = 50.0 + 10.0 * static_cast<double>(c);
        for (std::size_t t = 0; t < n; ++t) {
            level += step(rng);
            double v = level;
            if (kind == 1 && pick(rng) < 3) v = specials[pick(rng) % 5];
            if (kind == 2) v = few[pick(rng) % 7];
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
    for (const std::int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        std::mt19937_64 rng(7);
        for (const Kernel& k : kernels()) {
            for (const std::uint64_t period : periods) {
                for (const std::size_t n : lengths) {
                    // Chunk boundaries with short and long windows only.
                    if (n > 200 ? period != 3 && period != 14 && period != 2050 : period > 40) continue;
                    for (int kind = 0; kind < 3; ++kind) {
                        const Columns cols = series(k.inputs, n, kind, rng);
                        Bits step, batch;
                        k.run(period, cols, step, batch);
                        ASSERT_EQ(step, batch) << k.name << " on " << hwy::TargetName(target) << ", period "
                                               << period << ", " << n << " bars, series kind " << kind;
                    }
                }
            }
        }
    }
    hwy::SetSupportedTargetsForTest(0);
}

}  // namespace
}  // namespace lumenfold::core
