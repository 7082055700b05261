// Lifting a vector-of-bool argument, directly and through the call scaffolding.
#include "fuzz_support.hpp"
#include "runtime/batch.hpp"

using namespace lumenfold::ffi;
using namespace lf_fuzz;

LF_FUZZ_TARGET(lift_bool) {
    Input in(data, size);
    const std::uint8_t shape = in.byte();
    const Bytes payload = in.rest();
    auto same_bytes = [](const char* path, const Arg& arg) {
        return [path, &arg](const std::vector<bool>& v) { expect_lowered(path, lower<Vec<Bool>>(v), arg.bytes); };
    };
    {
        Arg arg(shape, payload);
        check_lift("lift", arg, vector_fault(arg.bytes, 1, true),
                   [](RustBuffer b) { return lift_buffer<Vec<Bool>>(b); }, same_bytes("lift", arg));
    }
    {
        Arg arg(shape, payload);
        check_lift("named", arg, vector_fault(arg.bytes, 1, true),
                   [](RustBuffer b) {
                       ArgBuffers<1> args(&b);
                       return args.lift<Vec<Bool>>("arg");
                   },
                   same_bytes("named", arg));
    }
}
