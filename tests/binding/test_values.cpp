// Lifting arguments out of buffers and lowering results into them.
#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <bit>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "entry_points.h"
#include "records.hpp"
#include "runtime/batch.hpp"

using namespace lumenfold::ffi;
using Bytes = std::vector<std::uint8_t>;

namespace {

RustBuffer owned(const Bytes& bytes) { return buffer_from(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())); }

Bytes take(RustBuffer b) {
    Bytes out(b.data, b.data + b.len);
    release_storage(b);
    return out;
}

// The lift failure reason, or "" when the lift succeeds.
template <class K>
std::string lift_reason(const Bytes& bytes) {
    try {
        lift_buffer<K>(owned(bytes));
        return "";
    } catch (const LiftFailure& e) {
        return e.reason;
    }
}

// The 8 big-endian bytes of v, as a host serializes it.
Bytes be_f64(double v) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
    Bytes b;
    for (int k = 7; k >= 0; --k) b.push_back(static_cast<std::uint8_t>(bits >> (8 * k)));
    return b;
}

}  // namespace

TEST(Lift, VectorOfF64) {
    EXPECT_EQ(lift_reason<Vec<F64>>({}), "not enough bytes remaining in buffer (0 < 4)");
    EXPECT_TRUE(lift_buffer<Vec<F64>>(owned({0, 0, 0, 0})).empty());
    Bytes two = {0, 0, 0, 2};
    Bytes one = be_f64(1.5);
    two.insert(two.end(), one.begin(), one.end());
    two.insert(two.end(), one.begin(), one.end() - 1);  // 15 bytes of data
    EXPECT_EQ(lift_reason<Vec<F64>>(two), "not enough bytes remaining in buffer (7 < 8)");
    EXPECT_EQ(lift_reason<Vec<F64>>({0xFF, 0xFF, 0xFF, 0xFF}), "out of range integral type conversion attempted");
    EXPECT_EQ(lift_reason<Vec<F64>>({0, 0, 0, 0, 1, 2, 3}), "junk data left in buffer after lifting (count: 3)");
    Bytes ok = {0, 0, 0, 1};
    Bytes nan = be_f64(-std::nan(""));
    ok.insert(ok.end(), nan.begin(), nan.end());
    auto v = lift_buffer<Vec<F64>>(owned(ok));
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(v[0]), std::bit_cast<std::uint64_t>(-std::nan("")));
}

TEST(Lift, HugeCountDoesNotAllocateAhead) {
    // A count of 2^31-1 with no data fails on the first element, not in the allocator.
    EXPECT_EQ(lift_reason<Vec<F64>>({0x7F, 0xFF, 0xFF, 0xFF}), "not enough bytes remaining in buffer (0 < 8)");
    EXPECT_EQ(lift_reason<Vec<Bool>>({0x7F, 0xFF, 0xFF, 0xFF, 1}), "not enough bytes remaining in buffer (0 < 1)");
}

TEST(Lift, VectorOfU64AndBool) {
    auto u = lift_buffer<Vec<U64>>(owned({0, 0, 0, 1, 0xFF, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(u, (std::vector<std::uint64_t>{0xFF00000000000001ull}));
    EXPECT_EQ(lift_buffer<Vec<Bool>>(owned({0, 0, 0, 2, 1, 0})), (std::vector<bool>{true, false}));
    EXPECT_EQ(lift_reason<Vec<Bool>>({0, 0, 0, 2, 1, 2}), "unexpected byte for Boolean");
    EXPECT_EQ(lift_reason<Vec<Bool>>({0, 0, 0, 1, 1, 0}), "junk data left in buffer after lifting (count: 1)");
}

TEST(Lift, SwissMode) {
    using Mode = lumenfold::core::SwissMode;
    EXPECT_EQ(lift_buffer<rec::SwissMode>(owned({0, 0, 0, 2})), Mode::SMA);
    EXPECT_EQ(lift_buffer<rec::SwissMode>(owned({0, 0, 0, 9})), Mode::BandStop);
    EXPECT_EQ(lift_reason<rec::SwissMode>({0, 0, 0, 10}), "Invalid SwissMode enum value: 10");
    EXPECT_EQ(lift_reason<rec::SwissMode>({0xFF, 0xFF, 0xFF, 0xFF}), "Invalid SwissMode enum value: -1");
    EXPECT_EQ(lift_reason<rec::SwissMode>({0, 0, 0, 2, 0}), "junk data left in buffer after lifting (count: 1)");
    // The value is checked before the leftover bytes.
    EXPECT_EQ(lift_reason<rec::SwissMode>({0, 0, 0, 0, 0}), "Invalid SwissMode enum value: 0");
    EXPECT_EQ(lift_reason<rec::SwissMode>({0, 0, 2}), "not enough bytes remaining in buffer (3 < 4)");
}

TEST(Lift, StringIsTheRawBytes) {
    EXPECT_EQ(lift_string(owned({'h', 'i'})), "hi");
    EXPECT_EQ(lift_string(RustBuffer{0, 0, nullptr}), "");
}

TEST(Lift, BufferRuleViolationsArePanics) {
    std::uint8_t byte = 0;
    try {
        lift_buffer<Vec<F64>>(RustBuffer{1, 2, &byte});
        FAIL();
    } catch (const lumenfold::Panic& p) {
        EXPECT_EQ(p.message(), "RustBuffer length exceeds capacity");
    }
    EXPECT_THROW(lift_buffer<Vec<F64>>(RustBuffer{1, 0, nullptr}), lumenfold::Panic);
}

TEST(Lift, FailedArgumentNamesItselfAndReleasesTheRest) {
    RustBuffer a = owned({0, 0, 0, 0});
    RustBuffer b = owned({0, 0, 0, 0, 1, 2, 3});
    RustBuffer c = owned({0, 0, 0, 0});
    try {
        ArgBuffers<3> args(&a, &b, &c);
        args.lift<Vec<F64>>("high");
        args.lift<Vec<F64>>("low");
        FAIL();
    } catch (const ArgLiftFailure& e) {
        EXPECT_EQ(e.name, "low");
        EXPECT_EQ(e.reason, "junk data left in buffer after lifting (count: 3)");
    }
    // Nothing leaks: the leak checker of the sanitizer build sees to `c`.
}

TEST(Lower, Records) {
    struct ST {
        double value;
        std::int8_t direction;
    };
    EXPECT_EQ(take(lower<rec::SuperTrendResult>(ST{1.5, -1})),
              (Bytes{0x3F, 0xF8, 0, 0, 0, 0, 0, 0, 0xFF}));
    struct Swing {
        std::uint64_t bar;
        double price;
        bool is_high;
    };
    struct Flip {
        bool is_bearish;
        double price;
        std::uint64_t bar;
        std::uint32_t structure_strength;
    };
    struct State {
        std::uint32_t bias;
        std::optional<Swing> last_swing_high;
        std::optional<Swing> last_swing_low;
        std::optional<Flip> current_flip;
        std::uint32_t swing_depth_used;
        std::uint64_t bar_index;
    };
    State s{1, Swing{2, 3.0, true}, std::nullopt, Flip{true, 4.0, 5, 6}, 7, 8};
    Bytes bytes = take(lower<rec::MarketStructureStateResult>(s));
    // bias 4 + tag 1 + swing 17 + tag 1 + tag 1 + flip 21 + 4 + 8
    EXPECT_EQ(bytes.size(), 57u);
    EXPECT_EQ(bytes[4], 1);
    EXPECT_EQ(bytes[4 + 1 + 16], 1);  // is_high
    EXPECT_EQ(bytes[22], 0);          // absent low swing
    EXPECT_EQ(bytes[23], 1);
    EXPECT_EQ(bytes.back(), 8);
}

TEST(Lower, OptionalsAndNestedVectors) {
    EXPECT_EQ(take(lower<Opt<F64>>(std::optional<double>{})), (Bytes{0}));
    EXPECT_EQ(take(lower<Opt<F64>>(std::optional<double>{2.0})), (Bytes{1, 0x40, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(take(lower<Opt<U32>>(std::optional<std::uint32_t>{7})), (Bytes{1, 0, 0, 0, 7}));
    std::vector<std::vector<double>> vv{{}, {1.0}};
    Bytes b = take(lower<Vec<Vec<F64>>>(vv));
    EXPECT_EQ(b.size(), 4u + 4u + 4u + 8u);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 8), (Bytes{0, 0, 0, 2, 0, 0, 0, 0}));
    struct Ar {
        double up, down;
    };
    std::vector<Ar> ars{{1, 2}, {3, 4}};
    EXPECT_EQ(take(lower<Vec<rec::AroonResult>>(ars)).size(), 4u + 32u);
}

TEST(Lower, EmptyResultIsAValidBuffer) {
    RustBuffer b = lower<Vec<F64>>(std::vector<double>{});
    EXPECT_EQ(b.len, 4u);
    release_storage(b);
}

TEST(Lower, RoundTrip) {
    std::vector<double> xs{0.0, -0.0, 1e308, -std::numeric_limits<double>::infinity(), std::nan("")};
    auto back = lift_buffer<Vec<F64>>(lower<Vec<F64>>(xs));
    ASSERT_EQ(back.size(), xs.size());
    for (size_t i = 0; i < xs.size(); ++i)
        EXPECT_EQ(std::bit_cast<std::uint64_t>(back[i]), std::bit_cast<std::uint64_t>(xs[i]));
}

// The special doubles a result can hold, each as its own bit pattern: signed
// zeros, infinities, quiet NaNs of both signs with and without payloads, a
// signalling NaN, the smallest subnormal, the largest negative subnormal, the
// largest finite value and 1 + 1 ulp.
const std::uint64_t kSpecialBits[] = {0x0000000000000000, 0x8000000000000000, 0x7ff0000000000000,
                                      0xfff0000000000000, 0x7ff8000000000000, 0xfff8000000000000,
                                      0x7ff8deadbeef0001, 0xfff8000000000123, 0x7ff0000000000001,
                                      0x0000000000000001, 0x800fffffffffffff, 0x7fefffffffffffff,
                                      0x3ff0000000000001};

// Results keep every double's bits: vectors (in lanes and past them, on every
// instruction set), optionals and records alike.
TEST(Lower, EveryDoubleKeepsItsBits) {
    for (const std::int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        for (std::size_t n = 0; n <= 2 * std::size(kSpecialBits); ++n) {
            std::vector<double> xs;
            for (std::size_t i = 0; i < n; ++i) xs.push_back(std::bit_cast<double>(kSpecialBits[i % std::size(kSpecialBits)]));
            const Bytes lowered = take(lower<Vec<F64>>(xs));
            ASSERT_EQ(lowered.size(), 4 + 8 * n);
            for (std::size_t i = 0; i < n; ++i)
                EXPECT_EQ(Bytes(lowered.begin() + 4 + 8 * i, lowered.begin() + 12 + 8 * i), be_f64(xs[i]))
                    << hwy::TargetName(target) << ", " << n << " values, value " << i;
        }
    }
    hwy::SetSupportedTargetsForTest(0);
    for (const std::uint64_t bits : kSpecialBits) {
        const double v = std::bit_cast<double>(bits);
        Bytes opt = {1};
        const Bytes be = be_f64(v);
        opt.insert(opt.end(), be.begin(), be.end());
        EXPECT_EQ(take(lower<Opt<F64>>(std::optional<double>{v})), opt) << std::hex << bits;
        struct ST {
            double value;
            std::int8_t direction;
        };
        Bytes record = be;
        record.push_back(0xFF);
        EXPECT_EQ(take(lower<rec::SuperTrendResult>(ST{v, -1})), record) << std::hex << bits;
    }
}

// A value passed through keeps its bits at the C interface: Ema's first
// output is its first input, streamed and batched, whatever its pattern.
TEST(Lower, EmasFirstBarReturnsItsInputsBits) {
    for (const std::uint64_t bits : kSpecialBits) {
        const double x = std::bit_cast<double>(bits);
        RustCallStatus st{};
        const std::uint64_t h = uniffi_lumenfold_python_fn_constructor_ema_new(10, &st);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(uniffi_lumenfold_python_fn_method_ema_next(h, x, &st)), bits)
            << std::hex << bits;
        Bytes series = {0, 0, 0, 1};
        const Bytes be = be_f64(x);
        series.insert(series.end(), be.begin(), be.end());
        EXPECT_EQ(take(uniffi_lumenfold_python_fn_func_ema(10, owned(series), &st)), series) << std::hex << bits;
        EXPECT_EQ(st.code, 0);
    }
}

namespace {
struct RecordCase {
    const char* name;
    RustBuffer (*lower)();
    Bytes expected;
};
#include "record_cases.inc"
}  // namespace

// One case per record of the description (the metadata test counts the
// records against it).
TEST(Lower, EveryRecordWritesItsFieldsInDeclaredOrder) {
    EXPECT_FALSE(kRecordCases.empty());
    for (const RecordCase& c : kRecordCases) EXPECT_EQ(take(c.lower()), c.expected) << c.name;
}

// Sizes written out by hand from the record shapes, checked against what the
// C++ writer produces (the generated cases share the description with it).
TEST(Lower, RecordSizesFollowTheirShapes) {
    const std::pair<const char*, size_t> sizes[] = {
        {"AroonResult", 16}, {"MacdResult", 24}, {"HeikinAshiResult", 32}, {"PivotPointsResult", 40},
        {"SystemEvaluatorResult", 56}, {"TrendflexFeaturesResult", 8}, {"AtrTsResult", 9},
        {"HurstFeaturesResult", 12}, {"FractalsResult", 2}, {"SwingPointResult", 17},
        {"FlipEventResult", 21}, {"HsPatternResult", 30}, {"FlagPatternResult", 62}};
    for (auto [name, size] : sizes) {
        bool found = false;
        for (const RecordCase& c : kRecordCases)
            if (std::string(c.name) == name) {
                found = true;
                EXPECT_EQ(take(c.lower()).size(), size) << name;
            }
        EXPECT_TRUE(found) << name;
    }
}
