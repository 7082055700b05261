// Object handles: reference counts, method scaffolding, poison, threads.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "boundary.hpp"
#include "lumenfold/core/framework/smoothing.hpp"
#include "runtime/batch.hpp"
#include "runtime/object.hpp"
#include "entry_points.h"

using namespace lumenfold::ffi;


namespace {

using namespace lumenfold::test;

}  // namespace

TEST(Objects, CloneAddsAReferenceAndNeverTouchesStatus) {
    Status made;
    const std::uint64_t h = uniffi_lumenfold_python_fn_constructor_sma_new(3, &made);
    auto strong = [h] { return strong_count(h); };
    // Values no call would write: clone and free must leave every field alone.
    std::uint8_t marker = 0;
    RustCallStatus st{42, {7, 5, &marker}};
    EXPECT_EQ(uniffi_lumenfold_python_fn_clone_sma(h, &st), h);
    EXPECT_EQ(strong(), 2u);
    uniffi_lumenfold_python_fn_free_sma(h, &st);
    EXPECT_EQ(strong(), 1u);
    EXPECT_EQ(uniffi_lumenfold_python_fn_clone_sma(0, &st), 0u);
    uniffi_lumenfold_python_fn_free_sma(0, &st);
    EXPECT_EQ(st.code, 42);
    EXPECT_EQ(st.error_buf.capacity, 7u);
    EXPECT_EQ(st.error_buf.len, 5u);
    EXPECT_EQ(st.error_buf.data, &marker);
    uniffi_lumenfold_python_fn_free_sma(h, &made);
    EXPECT_EQ(made.code, 0);
}

TEST(Objects, MethodConsumesItsReference) {
    std::uint64_t h = make_faulty();
    Status st;
    clone_handle(h);
    EXPECT_EQ(faulty_next(h, 1.0, &st), 1.0);
    EXPECT_EQ(strong_count(h), 1u);
    // Without a clone the call consumes the last reference and destroys the object.
    EXPECT_EQ(faulty_next(h, 2.0, &st), 2.0);
    EXPECT_EQ(Faulty::alive.load(), 0);
    EXPECT_EQ(st.code, 0);
}

TEST(Objects, PanicInStepPoisonsOnlyThatObject) {
    std::uint64_t h = make_faulty();
    std::uint64_t other = make_faulty();
    {
        Status st;
        clone_handle(h);
        EXPECT_EQ(faulty_next(h, -1.0, &st), 0.0);
        EXPECT_EQ(st.code, 2);
        EXPECT_EQ(st.message(), "negative input");
    }
    for (int i = 0; i < 2; ++i) {
        Status st;
        clone_handle(h);
        faulty_next(h, 1.0, &st);
        EXPECT_EQ(st.code, 2);
        EXPECT_EQ(st.message(), "called `Result::unwrap()` on an `Err` value: PoisonError { .. }");
    }
    Status st;
    clone_handle(other);
    EXPECT_EQ(faulty_next(other, 3.0, &st), 3.0);
    EXPECT_EQ(st.code, 0);
    // The failed calls still released their references.
    EXPECT_EQ(strong_count(h), 1u);
    release_handle(h);
    release_handle(other);
    EXPECT_EQ(Faulty::alive.load(), 0);
}

// A method given an object of another type refuses it by name, still
// consuming the reference; any type's free destroys an object as its own.
TEST(Objects, MethodOfAnotherTypeIsRefusedByName) {
    Status st;
    const std::uint64_t h = uniffi_lumenfold_python_fn_constructor_ema_new(3, &st);
    uniffi_lumenfold_python_fn_method_vortex_next(uniffi_lumenfold_python_fn_clone_vortex(h, &st), 1.0, 2.0, 3.0, &st);
    EXPECT_EQ(st.code, 2);
    EXPECT_EQ(st.message(), "Vortex.next called on an object of type Ema");
    EXPECT_EQ(strong_count(h), 1u);
    st.reset();
    EXPECT_EQ(uniffi_lumenfold_python_fn_method_ema_next(uniffi_lumenfold_python_fn_clone_ema(h, &st), 4.0, &st), 4.0);
    EXPECT_EQ(st.code, 0);
    uniffi_lumenfold_python_fn_free_macd(h, &st);
}

TEST(Objects, NullHandleIsAFailureNotACrash) {
    Status st;
    faulty_next(0, 1.0, &st);
    EXPECT_EQ(st.code, 2);
    EXPECT_EQ(st.message(), "null object handle");
    EXPECT_EQ(clone_handle(0), 0u);
    release_handle(0);
}

TEST(Objects, ScalarBoolArguments) {
    EXPECT_TRUE(lift_bool_arg(1, "anchor"));
    EXPECT_FALSE(lift_bool_arg(0, "anchor"));
    Status st;
    call_with_status<int>(&st, [] { return lift_bool_arg(2, "anchor") ? 1 : 0; });
    EXPECT_EQ(st.message(), "Failed to convert arg 'anchor':\nunexpected byte for Boolean");
}

TEST(Objects, FailuresOfEveryKindBecomeStatusTwo) {
    auto message_of = [](auto body) {
        Status st;
        call_with_status<int>(&st, body);
        EXPECT_EQ(st.code, 2);
        return st.message();
    };
    EXPECT_EQ(message_of([]() -> int { throw lumenfold::Panic("boom"); }), "boom");
    EXPECT_EQ(message_of([]() -> int { throw 7; }), "Unknown panic!");
    EXPECT_EQ(message_of([]() -> int { throw std::bad_alloc(); }), "memory allocation failed");
    EXPECT_EQ(message_of([]() -> int { return static_cast<int>(std::vector<double>(std::size_t{1} << 62).size()); }),
              "capacity overflow");
}

// A window too long to address, and one the heap cannot hold: the host gets
// the message a C++ caller gets from the core.
TEST(Objects, CoreAllocationFailuresKeepTheirMessage) {
    for (const std::uint64_t period : {std::uint64_t{1} << 59, (std::uint64_t{1} << 59) - 1}) {
        std::string core;
        try {
            lumenfold::core::SMA sma(period);
        } catch (const lumenfold::Panic& p) {
            core = p.message();
        }
        EXPECT_EQ(core, period == std::uint64_t{1} << 59 ? "capacity overflow" : "memory allocation failed");
        Status st;
        EXPECT_EQ(uniffi_lumenfold_python_fn_constructor_sma_new(period, &st), 0u);
        EXPECT_EQ(st.code, 2);
        EXPECT_EQ(st.message(), core);
    }
}

TEST(Objects, ReferenceCountsUnderThreads) {
    std::uint64_t h = make_faulty();
    constexpr int kThreads = 8;
    constexpr int kCalls = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([h] {
            for (int i = 0; i < kCalls; ++i) {
                Status st;
                faulty_next(clone_handle(h), 1.0, &st);
                clone_handle(h);
                release_handle(h);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(strong_count(h), 1u);
    EXPECT_EQ(faulty_of(h).calls, std::uint64_t{kThreads} * kCalls);
    release_handle(h);
    EXPECT_EQ(Faulty::alive.load(), 0);
}

TEST(Objects, GeneratedEmaEndToEnd) {
    Status st;
    std::uint64_t h = uniffi_lumenfold_python_fn_constructor_ema_new(10, &st);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(uniffi_lumenfold_python_fn_method_ema_next(uniffi_lumenfold_python_fn_clone_ema(h, &st), 5.0, &st), 5.0);
    EXPECT_EQ(uniffi_lumenfold_python_fn_method_ema_next(uniffi_lumenfold_python_fn_clone_ema(h, &st), 16.0, &st),
              16.0 * (2.0 / 11.0) + 5.0 * (1.0 - 2.0 / 11.0));
    uniffi_lumenfold_python_fn_free_ema(h, &st);
    EXPECT_EQ(st.code, 0);
}

TEST(Objects, BatchReportsTheFailingArgument) {
    Status st;
    const std::uint8_t bytes[] = {0, 0, 0, 0, 1, 2, 3};
    RustBuffer series = buffer_from(std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes));
    RustBuffer out = uniffi_lumenfold_python_fn_func_sma(3, series, &st);
    EXPECT_EQ(st.code, 2);
    EXPECT_EQ(st.message(), "Failed to convert arg 'series':\njunk data left in buffer after lifting (count: 3)");
    EXPECT_EQ(out.data, nullptr);
}

TEST(Objects, PeriodSoLargeItCannotBeAllocatedFailsTheConstructor) {
    Status st;
    EXPECT_EQ(uniffi_lumenfold_python_fn_constructor_sma_new(~std::uint64_t{0}, &st), 0u);
    EXPECT_EQ(st.message(), "capacity overflow");
}

TEST(Objects, ZipsToTheShortestInput) {
    struct Sum3 {
        double next(double a, double b, double c) { return a + b + c; }
    };
    std::vector<double> a(5, 1.0), b(3, 2.0), c(4, 3.0), empty;
    auto out = lift_buffer<Vec<F64>>(run_lowered<F64>(Sum3{}, a, b, c));
    EXPECT_EQ(out, (std::vector<double>{6, 6, 6}));
    EXPECT_TRUE(lift_buffer<Vec<F64>>(run_lowered<F64>(Sum3{}, a, empty, c)).empty());
}
