// Byte-buffer entry points, call status and the contract version.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "boundary.hpp"
#include "entry_points.h"
#include "runtime/ffi.hpp"


namespace {

using lumenfold::test::QuietStderr;
using lumenfold::test::Status;

std::string free_error(RustBuffer buf) {
    Status st;
    ffi_lumenfold_python_rustbuffer_free(buf, &st);
    return st.code == 0 ? "" : std::to_string(st.code) + ":" + st.message();
}

// Growing an empty buffer takes storage without writing it: a test that only
// takes and frees blocks spends most of its time inside the cache.
RustBuffer take(std::uint64_t size) {
    Status st;
    return ffi_lumenfold_python_rustbuffer_reserve(RustBuffer{0, 0, nullptr}, size, &st);
}

}  // namespace

TEST(Buffers, AllocZeroIsEmptyWithNonNullPointer) {
    Status st;
    RustBuffer b = ffi_lumenfold_python_rustbuffer_alloc(0, &st);
    EXPECT_EQ(st.code, 0);
    EXPECT_EQ(b.capacity, 0u);
    EXPECT_EQ(b.len, 0u);
    EXPECT_NE(b.data, nullptr);
    EXPECT_EQ(free_error(b), "");
}

TEST(Buffers, AllocGivesZeroedBytes) {
    Status st;
    RustBuffer b = ffi_lumenfold_python_rustbuffer_alloc(32, &st);
    ASSERT_EQ(st.code, 0);
    EXPECT_EQ(b.capacity, 32u);
    EXPECT_EQ(b.len, 32u);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(b.data[i], 0);
    EXPECT_EQ(free_error(b), "");
}

TEST(Buffers, AllocBeyondSignedRangeIsCapacityOverflow) {
    Status st;
    RustBuffer b = ffi_lumenfold_python_rustbuffer_alloc((std::uint64_t{1} << 63), &st);
    EXPECT_EQ(st.code, 2);
    EXPECT_EQ(st.message(), "capacity overflow");
    EXPECT_EQ(b.data, nullptr);
}

TEST(Buffers, AllocThatTheHeapCannotSupplyIsReportedNotFatal) {
    Status st;
    ffi_lumenfold_python_rustbuffer_alloc((std::uint64_t{1} << 62), &st);
    EXPECT_EQ(st.code, 2);
    EXPECT_EQ(st.message(), "memory allocation failed");
}

TEST(Buffers, FromBytesCopies) {
    std::uint8_t bytes[3] = {1, 2, 3};
    Status st;
    RustBuffer b = ffi_lumenfold_python_rustbuffer_from_bytes(ForeignBytes{3, bytes}, &st);
    ASSERT_EQ(st.code, 0);
    bytes[0] = 9;
    EXPECT_EQ(b.capacity, 3u);
    EXPECT_EQ(b.len, 3u);
    EXPECT_EQ(b.data[0], 1);
    EXPECT_EQ(b.data[2], 3);
    EXPECT_EQ(free_error(b), "");
}

TEST(Buffers, FromBytesChecksInOrder) {
    {
        Status st;
        ffi_lumenfold_python_rustbuffer_from_bytes(ForeignBytes{2, nullptr}, &st);
        EXPECT_EQ(st.message(), "null ForeignBytes had non-zero length");
    }
    {
        // Null data is checked before the sign of the length.
        Status st;
        ffi_lumenfold_python_rustbuffer_from_bytes(ForeignBytes{-2, nullptr}, &st);
        EXPECT_EQ(st.message(), "null ForeignBytes had non-zero length");
    }
    {
        std::uint8_t byte = 0;
        Status st;
        ffi_lumenfold_python_rustbuffer_from_bytes(ForeignBytes{-1, &byte}, &st);
        EXPECT_EQ(st.code, 2);
        EXPECT_EQ(st.message().rfind("bytes length negative or overflowed", 0), 0u);
    }
    for (const std::uint8_t* data : {static_cast<const std::uint8_t*>(nullptr), reinterpret_cast<const std::uint8_t*>("x")}) {
        Status st;
        RustBuffer b = ffi_lumenfold_python_rustbuffer_from_bytes(ForeignBytes{0, data}, &st);
        EXPECT_EQ(st.code, 0);
        EXPECT_EQ(b.len, 0u);
        EXPECT_EQ(b.capacity, 0u);
        EXPECT_NE(b.data, nullptr);
    }
}

TEST(Buffers, FreeAppliesTheBufferRule) {
    std::uint8_t byte = 0;
    EXPECT_EQ(free_error(RustBuffer{0, 0, nullptr}), "");
    EXPECT_EQ(free_error(RustBuffer{0, 5, nullptr}), "2:null RustBuffer had non-zero length");
    EXPECT_EQ(free_error(RustBuffer{3, 0, nullptr}), "2:null RustBuffer had non-zero capacity");
    EXPECT_EQ(free_error(RustBuffer{4, 5, &byte}), "2:RustBuffer length exceeds capacity");
}

TEST(Buffers, ReserveGrowsOnlyWhenNeeded) {
    Status st;
    RustBuffer b = ffi_lumenfold_python_rustbuffer_alloc(10, &st);
    b.len = 4;
    std::memcpy(b.data, "abcd", 4);
    RustBuffer same = ffi_lumenfold_python_rustbuffer_reserve(b, 6, &st);
    EXPECT_EQ(st.code, 0);
    EXPECT_EQ(same.data, b.data);
    EXPECT_EQ(same.capacity, 10u);
    RustBuffer grown = ffi_lumenfold_python_rustbuffer_reserve(same, 7, &st);
    EXPECT_EQ(st.code, 0);
    EXPECT_GE(grown.capacity, 11u);
    EXPECT_EQ(grown.len, 4u);
    EXPECT_EQ(std::memcmp(grown.data, "abcd", 4), 0);
    EXPECT_EQ(free_error(grown), "");
}

TEST(Buffers, ReserveGrowsGeometrically) {
    Status st;
    RustBuffer b{0, 0, nullptr};
    int reallocations = 0;
    for (int i = 0; i < 10000; ++i) {
        RustBuffer next = ffi_lumenfold_python_rustbuffer_reserve(b, 1, &st);
        ASSERT_EQ(st.code, 0);
        if (next.data != b.data) ++reallocations;
        next.data[next.len++] = static_cast<std::uint8_t>(i);
        b = next;
    }
    EXPECT_LT(reallocations, 20);
    EXPECT_EQ(b.data[9999], static_cast<std::uint8_t>(9999));
    EXPECT_EQ(free_error(b), "");
}

TEST(Buffers, ReserveFailures) {
    {
        Status st;
        std::uint8_t byte = 0;
        ffi_lumenfold_python_rustbuffer_reserve(RustBuffer{0, 1, &byte}, 1, &st);
        EXPECT_EQ(st.message(), "RustBuffer length exceeds capacity");
    }
    {
        // The buffer is released even when growth is impossible.
        Status st;
        RustBuffer b = ffi_lumenfold_python_rustbuffer_alloc(8, &st);
        RustBuffer r = ffi_lumenfold_python_rustbuffer_reserve(b, ~std::uint64_t{0}, &st);
        EXPECT_EQ(st.code, 2);
        EXPECT_EQ(st.message(), "capacity overflow");
        EXPECT_EQ(r.data, nullptr);
    }
}

// Large blocks are recycled; a reused block must look exactly like a fresh one.
TEST(Buffers, RecycledStorageLooksFresh) {
    constexpr std::uint64_t kSize = std::uint64_t{1} << 20;
    Status st;
    RustBuffer a = ffi_lumenfold_python_rustbuffer_alloc(kSize, &st);
    ASSERT_EQ(st.code, 0);
    std::memset(a.data, 0xff, kSize);
    EXPECT_EQ(free_error(a), "");
    RustBuffer b = ffi_lumenfold_python_rustbuffer_alloc(kSize, &st);
    ASSERT_EQ(st.code, 0);
    EXPECT_EQ(b.capacity, kSize);
    EXPECT_EQ(b.len, kSize);
    std::vector<std::uint8_t> zeros(kSize, 0);
    EXPECT_EQ(std::memcmp(b.data, zeros.data(), kSize), 0);
    EXPECT_EQ(free_error(b), "");

    // A smaller copy into a recycled block reports its own size.
    std::vector<std::uint8_t> bytes(kSize - 100, 7);
    RustBuffer c = ffi_lumenfold_python_rustbuffer_from_bytes(
        ForeignBytes{static_cast<std::int32_t>(bytes.size()), bytes.data()}, &st);
    ASSERT_EQ(st.code, 0);
    EXPECT_EQ(c.capacity, bytes.size());
    EXPECT_EQ(std::memcmp(c.data, bytes.data(), bytes.size()), 0);
    EXPECT_EQ(free_error(c), "");
}

// A large block freed twice is refused the second time: kept twice, it would
// be handed to two callers at once.
TEST(Buffers, FreedTwiceIsRefusedAndNeverHandedOutTwice) {
    constexpr std::uint64_t kSize = std::uint64_t{1} << 20;
    Status st;
    RustBuffer a = ffi_lumenfold_python_rustbuffer_alloc(kSize, &st);
    ASSERT_EQ(st.code, 0);
    EXPECT_EQ(free_error(a), "");
    EXPECT_EQ(free_error(a), "2:RustBuffer freed twice");
    RustBuffer b = ffi_lumenfold_python_rustbuffer_alloc(kSize, &st);
    RustBuffer c = ffi_lumenfold_python_rustbuffer_alloc(kSize, &st);
    ASSERT_EQ(st.code, 0);
    EXPECT_NE(b.data, c.data);
    EXPECT_EQ(free_error(b), "");
    EXPECT_EQ(free_error(c), "");
}

// The same, for up to two seconds, while another thread's requests of
// another size look through the kept blocks.
TEST(Buffers, FreedTwiceIsRefusedWhileAnotherThreadTakesBlocks) {
    constexpr std::uint64_t kHeld = std::uint64_t{1} << 20, kOther = std::uint64_t{3} << 20;
    // Blocks that earlier tests left could fill the cache, and a block pushed out
    // to the heap to make room is no longer the cache's to refuse: take them out
    // first (each fits the request of the power of two at or below its size).
    std::vector<RustBuffer> drained;
    for (std::uint64_t size = std::uint64_t{64} << 10; size <= kOther * 8; size *= 2)
        for (int i = 0; i < 8; ++i) drained.push_back(take(size));
    std::atomic<bool> stop{false};
    std::thread other([&] {
        while (!stop.load(std::memory_order_relaxed)) free_error(take(kOther));
    });
    int accepted = 0, shared = 0;
    RustBuffer held = take(kHeld);
    const QuietStderr quiet;  // the report of every refused free
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (accepted + shared == 0 && std::chrono::steady_clock::now() < end) {
        for (int round = 0; round < 256; ++round) {
            EXPECT_EQ(free_error(held), "");
            if (free_error(held) != "2:RustBuffer freed twice") ++accepted;
            const RustBuffer a = take(kHeld), b = take(kHeld);
            if (a.data == b.data) ++shared;
            else free_error(b);
            held = a;
        }
    }
    stop = true;
    other.join();
    free_error(held);
    // The smallest last: the cache is left with blocks that later tests' requests pass over.
    for (auto b = drained.rbegin(); b != drained.rend(); ++b) free_error(*b);
    EXPECT_EQ(accepted, 0);
    EXPECT_EQ(shared, 0);
}

// Every size the cache keeps, up to 256 MiB itself, is refused a second free:
// huge-page aligned blocks are larger than asked for by up to a huge page.
// Each block is taken back and held, so that every size gets a fresh one.
TEST(Buffers, FreedTwiceIsRefusedAtEverySizeKept) {
    constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
    std::vector<std::uint64_t> sizes{std::uint64_t{64} << 10, 4 * kMiB};
    for (std::uint64_t q = 250 * 4; q <= 256 * 4; ++q) sizes.push_back(q * kMiB / 4);
    const QuietStderr quiet;  // the report of every refused free
    std::vector<RustBuffer> held;
    for (const std::uint64_t size : sizes) {
        const RustBuffer b = take(size);
        ASSERT_NE(b.data, nullptr);
        EXPECT_EQ(free_error(b), "") << size;
        EXPECT_EQ(free_error(b), "2:RustBuffer freed twice") << size;
        held.push_back(take(size));
    }
    for (const RustBuffer& b : held) EXPECT_EQ(free_error(b), "");
}

// Two threads freeing one block at the same instant, many times over: one
// free of each pair is refused, and the block is never kept twice (the next
// two requests never share it).
TEST(Buffers, FreedTwiceAtTheSameInstantIsRefusedOnce) {
    constexpr std::uint64_t kSize = std::uint64_t{1} << 20;
    constexpr int kRounds = 2000;
    std::atomic<int> go{0}, done{0};
    RustBuffer held{};
    std::string result[2];
    std::vector<std::thread> freers;
    for (int t = 0; t < 2; ++t) {
        freers.emplace_back([&, t] {
            for (int round = 1; round <= kRounds; ++round) {
                while (go.load(std::memory_order_acquire) != round) {
                }
                result[t] = free_error(held);
                done.fetch_add(1, std::memory_order_release);
            }
        });
    }
    int not_once = 0, shared = 0;
    const QuietStderr quiet;  // the report of every refused free
    for (int round = 1; round <= kRounds; ++round) {
        held = take(kSize);
        go.store(round, std::memory_order_release);
        while (done.load(std::memory_order_acquire) != 2 * round) std::this_thread::yield();
        if (result[0] + result[1] != "2:RustBuffer freed twice") ++not_once;
        const RustBuffer a = take(kSize), b = take(kSize);
        if (a.data == b.data) ++shared;
        free_error(a);
        free_error(b);
    }
    for (std::thread& t : freers) t.join();
    EXPECT_EQ(not_once, 0);
    EXPECT_EQ(shared, 0);
}

// One buffer passed as several arguments of a call is read as each of them
// and released once, small (heap) and large (cached) alike.
TEST(Buffers, OneBufferAsSeveralArgumentsIsReleasedOnce) {
    for (const std::int32_t bars : {100, 100'000}) {
        std::vector<std::uint8_t> bytes(4 + std::size_t(bars) * 8);
        bytes[0] = static_cast<std::uint8_t>(bars >> 24);
        bytes[1] = static_cast<std::uint8_t>(bars >> 16);
        bytes[2] = static_cast<std::uint8_t>(bars >> 8);
        bytes[3] = static_cast<std::uint8_t>(bars);
        for (std::size_t i = 0; i < std::size_t(bars); ++i) bytes[4 + 8 * i] = 0x40;  // 2.0
        const ForeignBytes foreign{static_cast<std::int32_t>(bytes.size()), bytes.data()};
        Status st;
        auto make = [&] { return ffi_lumenfold_python_rustbuffer_from_bytes(foreign, &st); };
        const RustBuffer shared = make();
        RustBuffer once = uniffi_lumenfold_python_fn_func_atr(3, shared, shared, shared, &st);
        ASSERT_EQ(st.code, 0);
        RustBuffer apart = uniffi_lumenfold_python_fn_func_atr(3, make(), make(), make(), &st);
        ASSERT_EQ(st.code, 0);
        ASSERT_EQ(once.len, apart.len);
        EXPECT_EQ(std::memcmp(once.data, apart.data, once.len), 0);
        EXPECT_EQ(free_error(once), "");
        EXPECT_EQ(free_error(apart), "");
        const RustBuffer x = make(), y = make();
        EXPECT_NE(x.data, y.data);
        EXPECT_EQ(free_error(x), "");
        EXPECT_EQ(free_error(y), "");
    }
}

// After the first call of a size, a call with the same sizes (three 8 MB
// argument copies and the result) touches almost no fresh page.
TEST(Buffers, RepeatedCallsFaultInAlmostNothing) {
    constexpr std::int32_t kBars = 1'000'000;
    std::vector<std::uint8_t> input(4 + std::size_t{kBars} * 8, 0);
    input[0] = kBars >> 24;
    input[1] = (kBars >> 16) & 0xff;
    input[2] = (kBars >> 8) & 0xff;
    input[3] = kBars & 0xff;
    auto faults_of_one_call = [&] {
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        Status st;
        RustBuffer args[3];
        for (RustBuffer& a : args)
            a = ffi_lumenfold_python_rustbuffer_from_bytes(ForeignBytes{static_cast<std::int32_t>(input.size()),
                                                                        input.data()}, &st);
        RustBuffer out = uniffi_lumenfold_python_fn_func_atr(14, args[0], args[1], args[2], &st);
        EXPECT_EQ(st.code, 0);
        EXPECT_EQ(out.len, input.size());
        EXPECT_EQ(free_error(out), "");
        getrusage(RUSAGE_SELF, &after);
        return after.ru_minflt - before.ru_minflt;
    };
    faults_of_one_call();
    EXPECT_LT(faults_of_one_call(), 64);
}

// A fork while other threads allocate and free recycled blocks gives a child
// that can allocate: nothing the cache does can leave it waiting for ever.
TEST(Buffers, ForkWhileOtherThreadsRecycleBlocks) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers' own allocators are not fork-safe while other threads
    // allocate: a child can block in them whatever this library does.
    GTEST_SKIP() << "the sanitizer's allocator is not fork-safe";
#endif
    constexpr std::uint64_t kBlock = std::uint64_t{1} << 20;
    std::atomic<bool> stop{false};
    std::vector<std::thread> churn;
    for (int t = 0; t < 4; ++t) {
        churn.emplace_back([&] {
            while (!stop.load(std::memory_order_relaxed)) free_error(take(kBlock));
        });
    }
    int blocked = 0, failed = 0;
    for (int round = 0; round < 300 && blocked < 3; ++round) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            Status st;
            RustBuffer b = ffi_lumenfold_python_rustbuffer_alloc(kBlock, &st);
            ffi_lumenfold_python_rustbuffer_free(b, &st);
            _exit(st.code == 0 ? 0 : 1);
        }
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ++blocked;
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failed;
    }
    stop = true;
    for (std::thread& t : churn) t.join();
    EXPECT_EQ(blocked, 0);
    EXPECT_EQ(failed, 0);
}

TEST(Buffers, ContractVersion) {
    EXPECT_EQ(ffi_lumenfold_python_uniffi_contract_version(), 30u);
    EXPECT_EQ(ffi_lumenfold_python_uniffi_contract_version(), 30u);
}
