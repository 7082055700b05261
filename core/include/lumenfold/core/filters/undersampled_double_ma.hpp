// Undersampled double moving average: a sample-and-hold keeps the input of bar
// 1 and of every bar whose number (counted from 1) is a multiple of samp_per,
// and repeats it in between (samp_per 0 holds the first input for good); a fast
// (fast_len) and a slow (slow_len) Hann filter run on the held series every
// bar, giving the fast and slow fields. Each Hann filter passes the held input
// through until its window is full.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "lumenfold/core/filters/hann.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

struct UdmaOutput {
    double fast;
    double slow;
};

class UndersampledDoubleMA {
public:
    UndersampledDoubleMA(std::uint64_t fast_len, std::uint64_t slow_len, std::uint64_t samp_per)
        : fast_(fast_len), slow_(slow_len), samp_per_(samp_per) {}

    UdmaOutput next(double x) noexcept {
        const std::uint64_t n = ++bars_;
        if (n == 1 || (samp_per_ != 0 && n % samp_per_ == 0)) held_ = x;
        const double fast = fast_.next(held_);
        const double slow = slow_.next(held_);
        return {fast, slow};
    }

    bool batch_ready() const noexcept { return bars_ == 0; }

    // Batch form: the held series built in chunks of native doubles, both
    // Hann filters' windows read from it in SIMD lanes.
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        const std::size_t n = x.size();
        const std::uint64_t longest = std::max<std::uint64_t>({fast_.length(), slow_.length(), 1});
        const std::size_t history = static_cast<std::size_t>(std::min<std::uint64_t>(longest - 1, n));
        const std::size_t chunk = std::max<std::size_t>(2048, history);
        const std::size_t most = std::min(chunk, n);
        std::vector<double> held(history + most + lanes::kPad), fast(most + lanes::kPad), slow(most + lanes::kPad);
        // Locals, the sink's view included: the stores to `out` could
        // otherwise alias anything reached through a pointer.
        const O sink = out;
        const double* const f = fast.data();
        const double* const s = slow.data();
        for (std::size_t first = 0; first < n; first += chunk) {
            const std::size_t count = std::min(chunk, n - first);
            for (std::size_t j = 0; j < count; ++j) {
                const std::uint64_t bar = ++bars_;
                if (bar == 1 || (samp_per_ != 0 && bar % samp_per_ == 0)) held_ = x[first + j];
                held[history + j] = held_;
            }
            fast_.outputs(held.data() + history, first, count, fast.data());
            slow_.outputs(held.data() + history, first, count, slow.data());
            for (std::size_t j = 0; j < count; ++j) sink.put(first + j, UdmaOutput{f[j], s[j]});
            // The last `history` held values open the next chunk's windows.
            if (history != 0) std::memmove(held.data(), held.data() + count, history * sizeof(double));
        }
    }

    // The sample currently held.
    double held() const noexcept { return held_; }

private:
    HannFilter fast_;
    HannFilter slow_;
    double held_ = 0.0;
    std::uint64_t samp_per_;
    std::uint64_t bars_ = 0;
};

}  // namespace lumenfold::core
