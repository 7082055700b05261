// Thread stress of object handles through the exported entry points: one
// object shared by every thread, one object per thread, clone/free races on a
// single handle and a poisoned object hammered from several threads. Nothing
// may be lost and every object must be destroyed exactly once.
#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "boundary.hpp"
#include "lumenfold/core/framework/smoothing.hpp"
#include "runtime/object.hpp"
#include "entry_points.h"

#ifndef LUMENFOLD_COUNT_OBJECTS
#error "the stress tests need the live-object count"
#endif

using namespace lumenfold::ffi;


namespace {

constexpr int kThreads = 8;
constexpr int kCalls = 100000;
constexpr std::uint64_t kTotal = std::uint64_t{kThreads} * kCalls;

using namespace lumenfold::test;

std::int64_t live() { return live_objects.load(); }

template <class Body>
void on_threads(Body body) {
    std::vector<std::thread> threads;
    std::atomic<int> ready{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Start together so the calls really overlap.
            ready.fetch_add(1);
            while (ready.load() < kThreads) std::this_thread::yield();
            body(t);
        });
    }
    for (auto& th : threads) th.join();
}

}  // namespace

TEST(Stress, SharedObjectLosesNoCall) {
    const std::int64_t before = live();
    Status st;
    // The window is longer than all calls together: after N zeros and one 1.0
    // the mean is exactly 1/(N+1), so a lost or doubled call shows.
    const std::uint64_t h = uniffi_lumenfold_python_fn_constructor_sma_new(kTotal + 1, &st);
    ASSERT_EQ(st.code, 0);
    EXPECT_EQ(live(), before + 1);
    std::atomic<std::uint64_t> bad{0};
    on_threads([&](int) {
        Status s;
        for (int i = 0; i < kCalls; ++i) {
            const double out =
                uniffi_lumenfold_python_fn_method_sma_next(uniffi_lumenfold_python_fn_clone_sma(h, &s), 0.0, &s);
            if (s.code != 0 || out != 0.0) bad.fetch_add(1);
        }
    });
    EXPECT_EQ(bad.load(), 0u);
    EXPECT_EQ(strong_count(h), 1u);
    // The last call consumes the constructor's reference and destroys the object.
    EXPECT_EQ(uniffi_lumenfold_python_fn_method_sma_next(h, 1.0, &st), 1.0 / static_cast<double>(kTotal + 1));
    EXPECT_EQ(st.code, 0);
    EXPECT_EQ(live(), before);
}

TEST(Stress, ObjectPerThreadMatchesTheCore) {
    const std::int64_t before = live();
    std::atomic<std::uint64_t> mismatches{0};
    on_threads([&](int t) {
        Status s;
        const std::uint64_t period = 3 + static_cast<std::uint64_t>(t);
        const std::uint64_t h = uniffi_lumenfold_python_fn_constructor_ema_new(period, &s);
        lumenfold::core::EMA reference(period);
        for (int i = 0; i < kCalls; ++i) {
            const double x = static_cast<double>((i * 7 + t) % 101) - 50.0;
            const double out =
                uniffi_lumenfold_python_fn_method_ema_next(uniffi_lumenfold_python_fn_clone_ema(h, &s), x, &s);
            if (s.code != 0 || std::bit_cast<std::uint64_t>(out) != std::bit_cast<std::uint64_t>(reference.next(x)))
                mismatches.fetch_add(1);
        }
        uniffi_lumenfold_python_fn_free_ema(h, &s);
    });
    EXPECT_EQ(mismatches.load(), 0u);
    EXPECT_EQ(live(), before);
}

TEST(Stress, ObjectsMadeAndDroppedOnEveryThread) {
    const std::int64_t before = live();
    std::atomic<std::uint64_t> failures{0};
    on_threads([&](int) {
        Status s;
        for (int i = 0; i < kCalls / 10; ++i) {
            const std::uint64_t h = uniffi_lumenfold_python_fn_constructor_sma_new(4, &s);
            // Two calls through clones, then one that consumes the last reference.
            for (int k = 0; k < 2; ++k)
                uniffi_lumenfold_python_fn_method_sma_next(uniffi_lumenfold_python_fn_clone_sma(h, &s), 1.0, &s);
            if (uniffi_lumenfold_python_fn_method_sma_next(h, 4.0, &s) != 2.0 || s.code != 0) failures.fetch_add(1);
        }
    });
    EXPECT_EQ(failures.load(), 0u);
    EXPECT_EQ(live(), before);
}

TEST(Stress, CloneFreeRaceDestroysOnce) {
    const std::int64_t before = live();
    Status st;
    for (int round = 0; round < 20; ++round) {
        const std::uint64_t h = uniffi_lumenfold_python_fn_constructor_ema_new(5, &st);
        // Each thread owns one reference; the creator drops its own at once, so
        // whichever thread frees last destroys the object.
        for (int t = 0; t < kThreads; ++t) uniffi_lumenfold_python_fn_clone_ema(h, &st);
        uniffi_lumenfold_python_fn_free_ema(h, &st);
        on_threads([&](int) {
            Status s;
            for (int i = 0; i < kCalls / 20; ++i) {
                uniffi_lumenfold_python_fn_clone_ema(h, &s);
                if (i % 4 == 0) {
                    uniffi_lumenfold_python_fn_method_ema_next(h, 1.0, &s);  // consumes the clone
                } else {
                    uniffi_lumenfold_python_fn_free_ema(h, &s);
                }
            }
            uniffi_lumenfold_python_fn_free_ema(h, &s);
        });
        ASSERT_EQ(live(), before) << "round " << round;
    }
    EXPECT_EQ(st.code, 0);
}

TEST(Stress, CloneAndFreeFromEveryThreadKeepTheCountExact) {
    const std::int64_t before = live();
    Status st;
    const std::uint64_t h = uniffi_lumenfold_python_fn_constructor_sma_new(2, &st);
    on_threads([&](int t) {
        Status s;
        // Each thread gathers a different number of references before it
        // drops them all, so counts rise and fall out of step.
        const std::size_t batch = 1 + static_cast<std::size_t>(t) * 97;
        std::vector<std::uint64_t> held;
        held.reserve(batch);
        for (int i = 0; i < kCalls; ++i) {
            held.push_back(uniffi_lumenfold_python_fn_clone_sma(h, &s));
            if (held.size() == batch) {
                for (std::uint64_t r : held) uniffi_lumenfold_python_fn_free_sma(r, &s);
                held.clear();
            }
        }
        for (std::uint64_t r : held) uniffi_lumenfold_python_fn_free_sma(r, &s);
    });
    EXPECT_EQ(strong_count(h), 1u);
    EXPECT_EQ(live(), before + 1);
    uniffi_lumenfold_python_fn_free_sma(h, &st);
    EXPECT_EQ(live(), before);
}

TEST(Stress, PoisonedObjectRefusesEveryCall) {
    const std::int64_t before = live();
    const std::uint64_t h = make_faulty();
    std::atomic<std::uint64_t> refused{0}, other{0};
    {
        QuietStderr quiet;
        Status st;
        faulty_next(clone_handle(h), -1.0, &st);
        ASSERT_EQ(st.message(), "negative input");
        on_threads([&](int) {
            Status s;
            for (int i = 0; i < kCalls; ++i) {
                faulty_next(clone_handle(h), 1.0, &s);
                if (s.code == 2 && s.message() == kPoisonMessage) {
                    refused.fetch_add(1);
                } else {
                    other.fetch_add(1);
                }
                s.reset();
            }
        });
    }
    EXPECT_EQ(refused.load(), kTotal);
    EXPECT_EQ(other.load(), 0u);
    EXPECT_EQ(faulty_of(h).calls, 0u);
    EXPECT_EQ(strong_count(h), 1u);
    release_handle(h);
    EXPECT_EQ(live(), before);
}

TEST(Stress, PoisonStruckMidwayCutsEveryThreadOff) {
    const std::int64_t before = live();
    const std::uint64_t h = make_faulty();
    std::atomic<std::uint64_t> succeeded{0}, refused{0}, failed{0}, resumed{0};
    {
        QuietStderr quiet;
        on_threads([&](int t) {
            Status s;
            bool cut_off = false;
            for (int i = 0; i < kCalls; ++i) {
                // One thread fails a step part-way through; every call after
                // that, on any thread, must be refused.
                const double x = (t == 3 && i == kCalls / 4) ? -1.0 : 1.0;
                const double out = faulty_next(clone_handle(h), x, &s);
                if (s.code == 0) {
                    succeeded.fetch_add(1);
                    if (cut_off || out != 1.0) resumed.fetch_add(1);
                } else if (s.message() == kPoisonMessage) {
                    refused.fetch_add(1);
                    cut_off = true;
                } else if (s.message() == "negative input") {
                    failed.fetch_add(1);
                    cut_off = true;
                }
                s.reset();
            }
        });
    }
    EXPECT_EQ(failed.load(), 1u);
    EXPECT_EQ(resumed.load(), 0u);
    EXPECT_EQ(succeeded.load() + refused.load() + failed.load(), kTotal);
    EXPECT_EQ(faulty_of(h).calls, succeeded.load());
    EXPECT_EQ(strong_count(h), 1u);
    release_handle(h);
    EXPECT_EQ(live(), before);
}
