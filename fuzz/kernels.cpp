// The batch forms of the core classes against stepping, on any series, period
// and instruction set: the first byte picks the class, the next the
// instruction set and the period; then the series, as raw doubles (every bit
// pattern) or as one byte per value from a palette of ties and special values
// (long enough to cross the chunk boundaries). Multi-input classes take the
// values in turn.
#include <hwy/targets.h>

#include <limits>

#include "framework/batch_forms.hpp"
#include "fuzz_support.hpp"

using namespace lf_fuzz;

LF_FUZZ_TARGET(kernels) {
    Input in(data, size);
    const auto& all = lumenfold::test::kernels();
    const lumenfold::test::Kernel& k = all[in.byte() % all.size()];
    const std::vector<std::int64_t> targets = hwy::SupportedAndGeneratedTargets();
    const std::int64_t target = targets[in.byte() % targets.size()];
    const std::uint16_t p = in.u16();
    // Mostly short windows; the top bit asks for one of up to 2099 bars, but
    // for a class whose step costs period² a bar: under the sanitizers a long
    // window of it outlasts the fuzzer's timeout (the core tests run it long).
    const bool quadratic = k.name == "EhlersFilter";
    const std::uint64_t period = p & 0x8000 && !quadratic ? (p & 0x7fff) % 2100 : p % 40;
    const bool palette = in.byte() & 1;

    constexpr double kInf = std::numeric_limits<double>::infinity();
    static const double kPalette[16] = {0.0, -0.0, 1.0, -1.0, 2.0, 0.5, kInf, -kInf,
                                        std::numeric_limits<double>::quiet_NaN(), 1e300, -1e300, 3.0,
                                        std::numeric_limits<double>::denorm_min(), 100.0, 7.0, 2.0};
    lumenfold::test::Columns cols(k.inputs);
    for (std::size_t i = 0; !in.empty(); ++i) {
        double v;
        if (palette) {
            v = kPalette[in.byte() & 15];
        } else {
            const std::uint64_t bits = in.u64();
            std::memcpy(&v, &bits, 8);
        }
        cols[i % k.inputs].push_back(v);
    }
    const std::size_t n = cols.back().size();
    for (auto& c : cols) c.resize(n);

    hwy::SetSupportedTargetsForTest(target);
    const lumenfold::test::Outcome o = k.run(period, cols);
    hwy::SetSupportedTargetsForTest(0);
    LF_EXPECT(!o.overrun, k.name + " wrote past its outputs");
    // Any bit pattern makes NaNs of different bits meet: their NaNs compare alike.
    const lumenfold::test::Bits step = lumenfold::test::nan_alike(o.step);
    LF_EXPECT(step == lumenfold::test::nan_alike(o.batch), k.name + " on " + hwy::TargetName(target) + ", period " +
                                                                std::to_string(period) + ", " + std::to_string(n) +
                                                                " bars: batch differs from stepping");
    LF_EXPECT(step == lumenfold::test::nan_alike(o.plain),
              k.name + " on " + hwy::TargetName(target) + ", period " + std::to_string(period) + ", " +
                  std::to_string(n) + " bars: batch into plain arrays differs from stepping");
}
