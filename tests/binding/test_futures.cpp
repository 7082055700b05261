// The future machinery: scheduler transitions, completion and cancellation.
#include <gtest/gtest.h>

#include <vector>

#include "runtime/future.hpp"
#include "entry_points.h"

using namespace lumenfold::ffi;


namespace {
std::vector<std::pair<std::uint64_t, std::int8_t>> calls;
void record(std::uint64_t data, std::int8_t code) { calls.emplace_back(data, code); }
}  // namespace

TEST(Futures, SchedulerTransitions) {
    calls.clear();
    Scheduler s;
    s.store(record, 1);  // empty -> stored
    EXPECT_TRUE(calls.empty());
    s.store(record, 2);  // stored -> stored, the old callback told ready
    EXPECT_EQ(calls.back(), (std::pair<std::uint64_t, std::int8_t>{1, kPollReady}));
    s.wake();  // stored -> empty, wake
    EXPECT_EQ(calls.back(), (std::pair<std::uint64_t, std::int8_t>{2, kPollWake}));
    EXPECT_EQ(s.state(), Scheduler::State::Empty);
    s.wake();  // empty -> woken
    EXPECT_EQ(s.state(), Scheduler::State::Woken);
    s.store(record, 3);  // woken -> empty, new callback woken
    EXPECT_EQ(calls.back(), (std::pair<std::uint64_t, std::int8_t>{3, kPollWake}));
    s.store(record, 4);
    s.cancel();  // stored -> cancelled, told ready
    EXPECT_EQ(calls.back(), (std::pair<std::uint64_t, std::int8_t>{4, kPollReady}));
    s.store(record, 5);  // cancelled stays cancelled, told ready
    EXPECT_EQ(calls.back(), (std::pair<std::uint64_t, std::int8_t>{5, kPollReady}));
    s.wake();
    EXPECT_EQ(s.state(), Scheduler::State::Cancelled);
    EXPECT_EQ(calls.size(), 5u);
}

TEST(Futures, CompleteHandsOverOnceThenReportsCancelled) {
    calls.clear();
    std::uint64_t h = new_future<double>();
    ffi_lumenfold_python_rust_future_poll_f64(h, record, 7);
    EXPECT_TRUE(calls.empty());
    future_from<double>(h)->resolve({2.5}, RustCallStatus{0, {0, 0, nullptr}});
    EXPECT_EQ(calls.back(), (std::pair<std::uint64_t, std::int8_t>{7, kPollWake}));
    ffi_lumenfold_python_rust_future_poll_f64(h, record, 8);
    EXPECT_EQ(calls.back(), (std::pair<std::uint64_t, std::int8_t>{8, kPollReady}));
    RustCallStatus st{0, {0, 0, nullptr}};
    EXPECT_EQ(ffi_lumenfold_python_rust_future_complete_f64(h, &st), 2.5);
    EXPECT_EQ(st.code, 0);
    EXPECT_EQ(ffi_lumenfold_python_rust_future_complete_f64(h, &st), 0.0);
    EXPECT_EQ(st.code, kCallCancelled);
    EXPECT_EQ(st.error_buf.len, 0u);
    EXPECT_NE(st.error_buf.data, nullptr);
    ffi_lumenfold_python_rust_future_free_f64(h);
}

TEST(Futures, CancelWakesTheWaitingHost) {
    calls.clear();
    std::uint64_t h = new_future<double>();
    ffi_lumenfold_python_rust_future_poll_f64(h, record, 9);
    ffi_lumenfold_python_rust_future_cancel_f64(h);
    EXPECT_EQ(calls.back(), (std::pair<std::uint64_t, std::int8_t>{9, kPollReady}));
    RustCallStatus st{0, {0, 0, nullptr}};
    ffi_lumenfold_python_rust_future_complete_f64(h, &st);
    EXPECT_EQ(st.code, kCallCancelled);
    // The caller's reference survives cancel; free consumes it.
    EXPECT_EQ(future_from<double>(h)->strong.load(), 1u);
    ffi_lumenfold_python_rust_future_free_f64(h);
}

TEST(Futures, FreeDiscardsAStoredBufferResult) {
    std::uint64_t h = new_future<RustBuffer>();
    future_from<RustBuffer>(h)->resolve({buffer_from("payload")}, RustCallStatus{0, {0, 0, nullptr}});
    ffi_lumenfold_python_rust_future_free_rust_buffer(h);  // the leak checker sees the buffer released
}

namespace {
template <class T>
bool is_zero(T v) { return v == T{}; }
bool is_zero(RustBuffer b) { return b.capacity == 0 && b.len == 0; }
}  // namespace

TEST(Futures, HandleZeroIsHarmlessForEveryKind) {
    calls.clear();
    int kinds = 0;
#define LF_CHECK_NULL_FUTURE(K, T)                                                       \
    {                                                                                    \
        ffi_lumenfold_python_rust_future_poll_##K(0, record, 10 + kinds);                \
        EXPECT_EQ(calls.back(), (std::pair<std::uint64_t, std::int8_t>{10 + kinds, kPollReady})) << #K; \
        ffi_lumenfold_python_rust_future_poll_##K(0, nullptr, 0);                        \
        ffi_lumenfold_python_rust_future_cancel_##K(0);                                  \
        RustCallStatus st{0, {0, 0, nullptr}};                                           \
        EXPECT_TRUE(is_zero(ffi_lumenfold_python_rust_future_complete_##K(0, &st))) << #K; \
        EXPECT_EQ(st.code, kCallCancelled) << #K;                                        \
        EXPECT_EQ(st.error_buf.len, 0u) << #K;                                           \
        ffi_lumenfold_python_rust_future_complete_##K(0, nullptr);                       \
        ffi_lumenfold_python_rust_future_free_##K(0);                                    \
        ++kinds;                                                                         \
    }
    LF_FUTURE_VALUE_KINDS(LF_CHECK_NULL_FUTURE)
#undef LF_CHECK_NULL_FUTURE
    ffi_lumenfold_python_rust_future_poll_void(0, record, 99);
    ffi_lumenfold_python_rust_future_cancel_void(0);
    RustCallStatus st{0, {0, 0, nullptr}};
    ffi_lumenfold_python_rust_future_complete_void(0, &st);
    EXPECT_EQ(st.code, kCallCancelled);
    ffi_lumenfold_python_rust_future_free_void(0);
    EXPECT_EQ(calls.size(), 12u);
}
