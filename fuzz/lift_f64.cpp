// Lifting a vector-of-f64 argument three ways: the copying lift, the named
// lift of the call scaffolding and the in-place view of the batch functions.
// Each must agree with the model, and what it lifts lowers to the same bytes,
// but that every NaN lowers as the library's one NaN.
#include "fuzz_support.hpp"
#include "runtime/batch.hpp"

using namespace lumenfold::ffi;
using namespace lf_fuzz;

// The serialized vector with each NaN element (exponent all ones, fraction
// not zero) made the quiet NaN with the sign clear and no payload.
static Bytes nans_made_one(Bytes bytes) {
    for (std::size_t at = 4; at + 8 <= bytes.size(); at += 8) {
        std::uint64_t word = 0;
        for (std::size_t k = 0; k < 8; ++k) word = (word << 8) | bytes[at + k];
        if ((word & 0x7fffffffffffffffu) > 0x7ff0000000000000u) {
            for (std::size_t k = 0; k < 8; ++k) bytes[at + k] = k == 0 ? 0x7f : k == 1 ? 0xf8 : 0;
        }
    }
    return bytes;
}

LF_FUZZ_TARGET(lift_f64) {
    Input in(data, size);
    const std::uint8_t shape = in.byte();
    const Bytes payload = in.rest();
    auto same_bytes = [](const char* path, const Arg& arg) {
        return [path, &arg](const std::vector<double>& v) {
            expect_lowered(path, lower<Vec<F64>>(v), nans_made_one(arg.bytes));
        };
    };
    {
        Arg arg(shape, payload);
        check_lift("lift", arg, vector_fault(arg.bytes, 8, false),
                   [](RustBuffer b) { return lift_buffer<Vec<F64>>(b); }, same_bytes("lift", arg));
    }
    {
        Arg arg(shape, payload);
        check_lift("named", arg, vector_fault(arg.bytes, 8, false),
                   [](RustBuffer b) {
                       ArgBuffers<1> args(&b);
                       return args.lift<Vec<F64>>("arg");
                   },
                   same_bytes("named", arg));
    }
    {
        Arg arg(shape, payload);
        check_lift("view", arg, vector_fault(arg.bytes, 8, false),
                   [](RustBuffer b) {
                       ArgBuffers<1> args(&b);
                       const F64View view = args.view("arg");
                       std::vector<double> out(view.size());
                       for (std::size_t i = 0; i < view.size(); ++i) out[i] = view[i];
                       return out;
                   },
                   same_bytes("view", arg));
    }
}
