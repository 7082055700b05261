// A/B of two builds of the library through the C interface: every batch
// function called as a host calls it (each input copied into a fresh argument
// buffer, the call, the result freed), A and B interleaved for several rounds
// over the same bars, with the results of A and B compared byte for byte.
//
//   lumenfold_ab A.so B.so [--rounds N] [--series market|predictable|gappy|edge] [--only SUBSTRING]...
//                [--copies DIR] [--target NAME] [--bars N[,N...]] [--threads N]
//
// Prints per function A's and B's best and median ns per bar, the median of
// the per-round ratios B/A and B/A of the bests; then an in-run memcpy of one
// input. Pin it to one core (taskset -c N): the ratios are what to read. With
// --bars (1000000 by default) a timing is a run of calls, over at least a
// million bars, that cycles through the given sizes; with --threads, that
// many threads make their runs at once, and a timing is their mean. The
// two libraries are loaded from copies, kept in DIR when given (for a
// profiler to read their symbols afterwards), else removed at the end. With
// --target (AVX3, AVX2, SSE4, ...), both libraries' SIMD kernels run on that
// instruction set (it must be one this CPU has), else on the widest one; the
// dispatch state lives in the shared Highway library, which both load.
#include <dlfcn.h>
#include <hwy/targets.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bars.hpp"
#include "entry_points.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

using lumenfold::bench::Bars;

// Market bars with what breaks arithmetic: NaNs, infinities, zeros, flat runs
// and negative values, in every column at different places.
Bars edge_bars(std::size_t n) {
    Bars b = lumenfold::bench::random_walk(n, lumenfold::bench::kMarketWalk);
    std::vector<double>* columns[] = {&b.open, &b.high, &b.low, &b.close, &b.volume};
    for (std::size_t c = 0; c < 5; ++c) {
        std::vector<double>& x = *columns[c];
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t k = i + 7 * c;
            if (k % 97 == 0) x[i] = std::nan("");
            else if (k % 1013 == 0) x[i] = (k / 1013) % 2 ? INFINITY : -INFINITY;
            else if (k % 331 == 0) x[i] = 0.0;
            else if (k % 5000 < 60 && i > 0) x[i] = x[i - 1];
            else if (k % 7919 == 0) x[i] = -x[i];
        }
    }
    return b;
}

// A serialized vector of n elements of `size` bytes, its count filled in.
Bytes vector_of(std::size_t n, std::size_t size) {
    Bytes out(4 + n * size);
    for (int k = 0; k < 4; ++k) out[k] = static_cast<std::uint8_t>(n >> (24 - 8 * k));
    return out;
}

// The first n elements of x.
Bytes serialize(const std::vector<double>& x, std::size_t n) {
    Bytes out = vector_of(n, 8);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t bits = std::bit_cast<std::uint64_t>(x[i]);
        for (int k = 0; k < 8; ++k) out[4 + i * 8 + k] = static_cast<std::uint8_t>(bits >> (56 - 8 * k));
    }
    return out;
}

// One copy of the library, loaded on its own.
struct Lib {
    void* handle = nullptr;
    decltype(&ffi_lumenfold_python_rustbuffer_from_bytes) from_bytes = nullptr;
    decltype(&ffi_lumenfold_python_rustbuffer_free) free = nullptr;
};

// The arguments as one library receives them: the serialized columns, copied
// into a fresh buffer of that library per call.
struct AbArgs {
    const Lib* lib;
    Bytes open, high, low, close, volume, flags;
    std::size_t bars;

    RustBuffer in(const Bytes& bytes) const {
        RustCallStatus st{0, {0, 0, nullptr}};
        return lib->from_bytes(ForeignBytes{static_cast<std::int32_t>(bytes.size()), bytes.data()}, &st);
    }
    RustBuffer variant(std::int32_t v) const {
        const std::uint8_t b[4] = {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                                   static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
        RustCallStatus st{0, {0, 0, nullptr}};
        return lib->from_bytes(ForeignBytes{4, b}, &st);
    }
};

struct AbCase {
    std::string key;
    const char* symbol;
    RustBuffer (*call)(void* fn, const AbArgs& a, RustCallStatus* st);
};

#include "ab_cases.inc"

// The batch functions again with the parameters of the published comparison.
#define PUBLISHED(fn, key, ...) \
    AbCase{key, ab_##fn##_symbol, [](void* f, const AbArgs& a, RustCallStatus* s) { return ab_##fn(f, a, s, __VA_ARGS__); }}
const AbCase kPublished[] = {
    PUBLISHED(sma, "sma(20)", 20),       PUBLISHED(ema, "ema(10)", 10),       PUBLISHED(wma, "wma(20)", 20),
    PUBLISHED(kama, "kama(10)", 10),     PUBLISHED(mom, "mom(10)", 10),       PUBLISHED(roc, "roc(10)", 10),
    PUBLISHED(rsi, "rsi(14)", 14),       PUBLISHED(macd, "macd(12, 26, 9)", 12, 26, 9),
    PUBLISHED(atr, "atr(14)", 14),       PUBLISHED(adx, "adx(14)", 14),       PUBLISHED(cci, "cci(14)", 14),
    PUBLISHED(willr, "willr(14)", 14),
};

Lib load(const std::filesystem::path& original, const std::filesystem::path& dir, const char* name) {
    // A copy under its own name: the same file twice would be loaded once.
    const std::filesystem::path copy = dir / name;
    std::filesystem::copy_file(original, copy, std::filesystem::copy_options::overwrite_existing);
    Lib lib;
    lib.handle = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib.handle == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", original.c_str(), dlerror());
        std::exit(2);
    }
    lib.from_bytes = reinterpret_cast<decltype(lib.from_bytes)>(dlsym(lib.handle, "ffi_lumenfold_python_rustbuffer_from_bytes"));
    lib.free = reinterpret_cast<decltype(lib.free)>(dlsym(lib.handle, "ffi_lumenfold_python_rustbuffer_free"));
    return lib;
}

// One call as a host makes it; its ns. With `keep`, the result's
// bytes are copied there before the result is freed.
double timed_call(const AbCase& c, void* fn, const AbArgs& a, Bytes* keep = nullptr) {
    RustCallStatus st{0, {0, 0, nullptr}};
    const auto t0 = std::chrono::steady_clock::now();
    RustBuffer out = c.call(fn, a, &st);
    if (keep != nullptr) keep->assign(out.data, out.data + out.len);
    RustCallStatus ignored{0, {0, 0, nullptr}};
    a.lib->free(out, &ignored);
    if (st.code != 0) a.lib->free(st.error_buf, &ignored);
    const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
    if (keep != nullptr && st.code != 0) keep->assign({0xff, static_cast<std::uint8_t>(st.code)});
    return ns;
}

// One timing: `threads` threads at once, each making `cycles` calls of every
// size in turn; the threads' mean ns per bar.
double timed_run(const AbCase& c, void* fn, const std::vector<AbArgs>& sizes, int cycles, int threads) {
    auto run = [&] {
        double ns = 0, bars = 0;
        for (int k = 0; k < cycles; ++k)
            for (const AbArgs& a : sizes) {
                ns += timed_call(c, fn, a);
                bars += static_cast<double>(a.bars);
            }
        return ns / bars;
    };
    if (threads == 1) return run();
    std::vector<double> each(threads);
    std::atomic<int> ready{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < threads) {
            }
            each[t] = run();
        });
    for (std::thread& t : pool) t.join();
    return std::accumulate(each.begin(), each.end(), 0.0) / threads;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2.0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: %s A.so B.so [--rounds N] [--series market|predictable|gappy|edge] [--only SUBSTRING]... "
                     "[--copies DIR] [--target NAME] [--bars N[,N...]] [--threads N]\n",
                     argv[0]);
        return 2;
    }
    int rounds = 7;
    std::string series = "market";
    std::vector<std::string> only;
    std::filesystem::path dir;
    std::string target_name;
    std::vector<std::size_t> sizes;
    int threads = 1;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string_view opt = argv[i];
        if (opt == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (opt == "--series") series = argv[i + 1];
        else if (opt == "--only") only.push_back(argv[i + 1]);
        else if (opt == "--copies") dir = argv[i + 1];
        else if (opt == "--target") target_name = argv[i + 1];
        else if (opt == "--threads") threads = std::max(1, std::atoi(argv[i + 1]));
        else if (opt == "--bars") {
            std::istringstream list(argv[i + 1]);
            for (std::string count; std::getline(list, count, ',');) sizes.push_back(std::max(1ull, std::stoull(count)));
        }
        else {
            std::fprintf(stderr, "unknown option %s\n", argv[i]);
            return 2;
        }
    }
    if (!target_name.empty()) {
        std::int64_t chosen = 0;
        for (const std::int64_t t : hwy::SupportedAndGeneratedTargets())
            if (target_name == hwy::TargetName(t)) chosen = t;
        if (chosen == 0) {
            std::fprintf(stderr, "%s is not an instruction set this CPU has and the build compiled; one of:",
                         target_name.c_str());
            for (const std::int64_t t : hwy::SupportedAndGeneratedTargets()) std::fprintf(stderr, " %s", hwy::TargetName(t));
            std::fprintf(stderr, "\n");
            return 2;
        }
        hwy::SetSupportedTargetsForTest(chosen);
    }
    if (sizes.empty()) sizes.push_back(1'000'000);
    const std::size_t n = *std::max_element(sizes.begin(), sizes.end());
    const int cycles = static_cast<int>(std::max<std::size_t>(1, 1'000'000 / *std::min_element(sizes.begin(), sizes.end())));
    const Bars bars = series == "predictable" ? lumenfold::bench::predictable_bars(n)
                      : series == "gappy"     ? lumenfold::bench::random_walk(n, lumenfold::bench::kGappyWalk)
                      : series == "edge"      ? edge_bars(n)
                                              : lumenfold::bench::random_walk(n, lumenfold::bench::kMarketWalk);

    const bool keep = !dir.empty();
    if (!keep) dir = std::filesystem::temp_directory_path() / ("lumenfold_ab." + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const Lib libs[2] = {load(argv[1], dir, "liblumenfold_ab_a.so"), load(argv[2], dir, "liblumenfold_ab_b.so")};
    std::vector<AbArgs> args[2];
    for (int l = 0; l < 2; ++l)
        for (const std::size_t size : sizes) {
            Bytes flags = vector_of(size, 1);
            for (std::size_t i = 0; i < size; ++i) flags[4 + i] = ab_flag(i) ? 1 : 0;
            args[l].push_back(AbArgs{&libs[l], serialize(bars.open, size), serialize(bars.high, size),
                                     serialize(bars.low, size), serialize(bars.close, size),
                                     serialize(bars.volume, size), std::move(flags), size});
        }

    std::vector<AbCase> cases(std::begin(kAbCases), std::end(kAbCases));
    cases.insert(cases.end(), std::begin(kPublished), std::end(kPublished));
    std::erase_if(cases, [&](const AbCase& c) {
        return !only.empty() && std::none_of(only.begin(), only.end(), [&](const std::string& s) {
            return c.key.find(s) != std::string::npos;
        });
    });
    std::sort(cases.begin(), cases.end(), [](const AbCase& a, const AbCase& b) { return a.key < b.key; });

    struct Fn {
        void* at[2];
        std::vector<double> times[2];
        std::vector<double> ratios;
        bool same = true;
    };
    std::vector<Fn> fns(cases.size());
    for (std::size_t c = 0; c < cases.size(); ++c) {
        for (int l = 0; l < 2; ++l) {
            fns[c].at[l] = dlsym(libs[l].handle, cases[c].symbol);
            if (fns[c].at[l] == nullptr) {
                std::fprintf(stderr, "%s: no %s in %s\n", cases[c].key.c_str(), cases[c].symbol, argv[1 + l]);
                return 2;
            }
        }
        // One untimed call of each first; their results must agree.
        Bytes result[2];
        for (int l = 0; l < 2; ++l) timed_call(cases[c], fns[c].at[l], args[l].back(), &result[l]);
        fns[c].same = result[0] == result[1];
    }

    const Bytes& input = args[0].back().close;
    Bytes target(input.size(), 1);
    std::vector<double> copies;
    for (int r = 0; r < rounds; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        std::memcpy(target.data(), input.data(), target.size());
        asm volatile("" ::"r"(target.data()) : "memory");
        copies.push_back(std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count() /
                         static_cast<double>(args[0].back().bars));
        for (std::size_t c = 0; c < cases.size(); ++c) {
            // A first in even rounds, B first in odd ones.
            double t[2];
            for (int k = 0; k < 2; ++k) {
                const int l = (k + r) % 2;
                t[l] = timed_run(cases[c], fns[c].at[l], args[l], cycles, threads);
                fns[c].times[l].push_back(t[l]);
            }
            fns[c].ratios.push_back(t[1] / t[0]);
        }
    }

    std::string counts;
    for (const std::size_t size : sizes) counts += (counts.empty() ? "" : ",") + std::to_string(size);
    std::printf("A = %s\nB = %s\n%s bars (%s, %d thread%s), %d rounds, %s; ns per bar\n\n", argv[1], argv[2],
                series.c_str(), counts.c_str(), threads, threads == 1 ? "" : "s", rounds,
                hwy::TargetName(hwy::SupportedAndGeneratedTargets().front()));
    std::printf("%-44s %9s %9s %9s %9s %8s %8s\n", "function", "A best", "A median", "B best", "B median", "B/A",
                "best B/A");
    int differ = 0;
    std::vector<double> ratios;
    for (std::size_t c = 0; c < cases.size(); ++c) {
        const Fn& f = fns[c];
        const double a = *std::min_element(f.times[0].begin(), f.times[0].end());
        const double b = *std::min_element(f.times[1].begin(), f.times[1].end());
        std::printf("%-44s %9.3f %9.3f %9.3f %9.3f %8.3f %8.3f%s\n", cases[c].key.c_str(), a, median(f.times[0]), b,
                    median(f.times[1]), median(f.ratios), b / a, f.same ? "" : "  results differ");
        differ += f.same ? 0 : 1;
        ratios.push_back(median(f.ratios));
    }
    std::printf("\nmedian over the functions of B/A: %.3f\n", median(ratios));
    std::printf("memcpy of one input: best %.3f, median %.3f ns per element\n",
                *std::min_element(copies.begin(), copies.end()), median(copies));
    if (differ != 0) std::printf("%d functions' results differ between A and B\n", differ);
    if (!keep) std::filesystem::remove_all(dir);
    return 0;
}
