// Batch entry points (sma, atr, aroon, adosc) end to end, with arguments of every buffer shape and
// both valid and malformed encodings. The first faulty argument in declared
// order must give the exact message; otherwise the result must be the core
// indicator stepped over the decoded inputs, bit for bit (every NaN alike). Every consumed
// buffer must be released (the leak checker sees to it) and no rejected one
// touched (its storage is poisoned).
#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>

#include "fuzz_support.hpp"
#include "lumenfold/core/classic/adosc.hpp"
#include "lumenfold/core/classic/aroon.hpp"
#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/framework/smoothing.hpp"
#include "entry_points.h"


using namespace lf_fuzz;

namespace {

// A vector argument: a buffer shape, then raw bytes, or doubles framed as a
// valid encoding, or framed with a count one too high or too low.
std::unique_ptr<Arg> vector_arg(Input& in) {
    const std::uint8_t shape = in.byte();
    const std::uint8_t framing = in.byte() % 4;
    Bytes payload = in.take(in.u16() % 1024);
    if (framing != 0) {
        auto count = static_cast<std::int32_t>(payload.size() / 8);
        payload.resize(static_cast<std::size_t>(count) * 8);
        count += framing == 2 ? 1 : framing == 3 ? -1 : 0;
        const auto c = static_cast<std::uint32_t>(count);
        const std::uint8_t head[4] = {static_cast<std::uint8_t>(c >> 24), static_cast<std::uint8_t>(c >> 16),
                                      static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c)};
        payload.insert(payload.begin(), head, head + 4);
    }
    return std::make_unique<Arg>(shape, payload);
}

// The message of the first argument, in declared order, that cannot be lifted.
std::optional<std::string> first_fault(std::initializer_list<std::pair<const char*, const Arg*>> args) {
    for (const auto& [name, arg] : args) {
        if (arg->rule_fault) return arg->rule_fault;
        if (auto reason = vector_fault(arg->bytes, 8, false))
            return "Failed to convert arg '" + std::string(name) + "':\n" + *reason;
    }
    return std::nullopt;
}

void put(Bytes& out, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void put(Bytes& out, double y) {
    std::uint64_t bits;
    std::memcpy(&bits, &y, 8);
    put(out, bits, 8);
}
void put(Bytes& out, const lumenfold::core::AroonOutput& r) {
    put(out, r.up);
    put(out, r.down);
}

// The core stepped over the inputs paired to the shortest, encoded as a result.
template <class Core, class... Cols>
Bytes reference(Core core, const Cols&... cols) {
    const std::size_t n = std::min({cols.size()...});
    Bytes out;
    put(out, n, 4);
    for (std::size_t i = 0; i < n; ++i) put(out, core.next(cols[i]...));
    return out;
}

// Results of doubles (after the count) compare bit for bit, every NaN alike:
// which NaN operand an operation propagates is the compiler's choice, so a
// batch form and the step may carry different NaN payloads.
bool same_results(const Bytes& got, const Bytes& expected) {
    if (got.size() != expected.size() || got.size() < 4 || (got.size() - 4) % 8 != 0) return got == expected;
    if (!std::equal(got.begin(), got.begin() + 4, expected.begin())) return false;
    for (std::size_t i = 4; i < got.size(); i += 8) {
        const std::uint64_t a = be64(got.data() + i), b = be64(expected.data() + i);
        if (a != b && !(std::isnan(std::bit_cast<double>(a)) && std::isnan(std::bit_cast<double>(b)))) return false;
    }
    return true;
}

// Checks one call's outcome: the expected failure, or `want()`.
template <class Want>
void check_call(const char* fn, RustBuffer out, Status& st, const std::optional<std::string>& failure, Want want) {
    if (failure) {
        LF_EXPECT(st.code == 2, std::string(fn) + ": succeeded, expected " + *failure);
        LF_EXPECT(is_zero_buffer(out), std::string(fn) + ": failed call returned " + show(out));
        const std::string message = st.take_message();
        LF_EXPECT(message == *failure, std::string(fn) + ": message " + message + ", expected " + *failure);
        return;
    }
    LF_EXPECT(st.code == 0, std::string(fn) + ": failed with " + st.take_message());
    LF_EXPECT(st.untouched(), std::string(fn) + ": status written on success");
    const Bytes got = bytes_of(out);
    free_result(out);
    const Bytes expected = want();
    LF_EXPECT(same_results(got, expected), std::string(fn) + ": result " + show(got) + ", expected " + show(expected));
}

}  // namespace

LF_FUZZ_TARGET(batch) {
    Input in(data, size);
    Status st;
    switch (in.byte() % 4) {
        case 0: {
            // Periods from 2^63 on cannot be allocated; smaller ones stay small.
            std::uint64_t period = in.u64();
            if (period >> 63 == 0) period %= 512;
            auto series = vector_arg(in);
            auto failure = first_fault({{"series", series.get()}});
            if (!failure && period >> 63) failure = "capacity overflow";
            RustBuffer out = uniffi_lumenfold_python_fn_func_sma(period, series->buf, &st);
            check_call("sma", out, st, failure, [&] {
                return reference(lumenfold::core::SMA(period), decode_f64s(series->bytes));
            });
            break;
        }
        case 1: {
            const std::uint64_t period = in.u64();
            auto high = vector_arg(in);
            auto low = vector_arg(in);
            auto close = vector_arg(in);
            const auto failure = first_fault({{"high", high.get()}, {"low", low.get()}, {"close", close.get()}});
            RustBuffer out = uniffi_lumenfold_python_fn_func_atr(period, high->buf, low->buf, close->buf, &st);
            check_call("atr", out, st, failure, [&] {
                return reference(lumenfold::core::ATR(period), decode_f64s(high->bytes), decode_f64s(low->bytes),
                                 decode_f64s(close->bytes));
            });
            break;
        }
        case 2: {
            // Records as results; any period (the windows grow with the bars).
            const std::uint64_t period = in.u64();
            auto high = vector_arg(in);
            auto low = vector_arg(in);
            const auto failure = first_fault({{"high", high.get()}, {"low", low.get()}});
            RustBuffer out = uniffi_lumenfold_python_fn_func_aroon(period, high->buf, low->buf, &st);
            check_call("aroon", out, st, failure, [&] {
                return reference(lumenfold::core::AROON(period), decode_f64s(high->bytes), decode_f64s(low->bytes));
            });
            break;
        }
        default: {
            auto high = vector_arg(in);
            auto low = vector_arg(in);
            auto close = vector_arg(in);
            auto volume = vector_arg(in);
            const std::uint64_t fast = in.u64();
            const std::uint64_t slow = in.u64();
            const auto failure = first_fault(
                {{"high", high.get()}, {"low", low.get()}, {"close", close.get()}, {"volume", volume.get()}});
            RustBuffer out = uniffi_lumenfold_python_fn_func_adosc(high->buf, low->buf, close->buf, volume->buf, fast,
                                                                   slow, &st);
            check_call("adosc", out, st, failure, [&] {
                return reference(lumenfold::core::ADOSC(fast, slow), decode_f64s(high->bytes),
                                 decode_f64s(low->bytes), decode_f64s(close->bytes), decode_f64s(volume->bytes));
            });
            break;
        }
    }
}
