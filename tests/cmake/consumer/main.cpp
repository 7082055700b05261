// Streams a few bars through a header-only indicator and one compiled into
// the core library, and runs batches over plain arrays (through a batch form,
// with a record output, and by stepping) against stepping.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "lumenfold/core/batch.hpp"
#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/classic/hilbert_ta.hpp"
#include "lumenfold/core/classic/macd.hpp"
#include "lumenfold/core/framework/smoothing.hpp"

static_assert(__cplusplus >= 202002L, "lumenfold::core brings C++20");

namespace lf = lumenfold::core;

template <class Indicator, class... Columns>
bool batch_equals_stepping(const Indicator& make, const Columns&... columns) {
    const auto batch = lf::batch(make, columns...);
    Indicator stepped = make;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        const auto v = stepped.next(columns[i]...);
        if (std::memcmp(&v, &batch[i], sizeof v) != 0) return false;
    }
    return true;
}

int main() {
    lf::EMA ema(10);
    const double a = ema.next(5.0);
    const double b = ema.next(16.0);
    lf::HT_DCPERIOD period;
    double last = 0.0;
    for (int i = 0; i < 40; ++i) last = period.next(100.0 + (i % 7));
    if (a != 5.0 || b != 7.0 || std::isnan(last)) {
        std::printf("unexpected: %g %g %g\n", a, b, last);
        return 1;
    }

    std::vector<double> high, low, close;
    for (int i = 0; i < 5000; ++i) {
        const double c = 100.0 + 10.0 * std::sin(i * 0.05) + (i % 13) * 0.1;
        close.push_back(c);
        high.push_back(c + 1.0 + (i % 5) * 0.2);
        low.push_back(c - 1.0 - (i % 3) * 0.3);
    }
    low.resize(4000);  // paired to the shortest
    const bool ok = batch_equals_stepping(lf::WMA(20), close) &&
                    batch_equals_stepping(lf::ATR(14), high, low, close) &&
                    batch_equals_stepping(lf::MACD(12, 26, 9), close) &&
                    batch_equals_stepping(lf::HT_DCPERIOD(), close) && lf::batch(lf::ATR(14), high, low, close).size() == 4000;
    std::printf(ok ? "ok\n" : "batch differs from stepping\n");
    return ok ? 0 : 1;
}
