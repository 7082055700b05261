// Lifting a vector-of-f64 argument three ways: the copying lift, the named
// lift of the call scaffolding and the in-place view of the batch functions.
// Each must agree with the model, and what it lifts lowers to the same bytes.
#include "fuzz_support.hpp"
#include "runtime/batch.hpp"

using namespace lumenfold::ffi;
using namespace lf_fuzz;

LF_FUZZ_TARGET(lift_f64) {
    Input in(data, size);
    const std::uint8_t shape = in.byte();
    const Bytes payload = in.rest();
    auto same_bytes = [](const char* path, const Arg& arg) {
        return [path, &arg](const std::vector<double>& v) { expect_lowered(path, lower<Vec<F64>>(v), arg.bytes); };
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
