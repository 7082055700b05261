// Streams a few bars through a header-only indicator and one compiled into
// the core library.
#include <cmath>
#include <cstdio>

#include "lumenfold/core/framework/smoothing.hpp"
#include "lumenfold/core/classic/hilbert_ta.hpp"

static_assert(__cplusplus >= 202002L, "lumenfold::core brings C++20");

int main() {
    lumenfold::core::EMA ema(10);
    const double a = ema.next(5.0);
    const double b = ema.next(16.0);
    lumenfold::core::HT_DCPERIOD period;
    double last = 0.0;
    for (int i = 0; i < 40; ++i) last = period.next(100.0 + (i % 7));
    if (a != 5.0 || b != 7.0 || std::isnan(last)) {
        std::printf("unexpected: %g %g %g\n", a, b, last);
        return 1;
    }
    std::printf("ok\n");
    return 0;
}
