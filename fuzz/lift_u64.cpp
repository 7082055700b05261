// Lifting a vector-of-u64 argument, directly and through the call scaffolding.
#include "fuzz_support.hpp"
#include "runtime/batch.hpp"

using namespace lumenfold::ffi;
using namespace lf_fuzz;

LF_FUZZ_TARGET(lift_u64) {
    Input in(data, size);
    const std::uint8_t shape = in.byte();
    const Bytes payload = in.rest();
    auto same_bytes = [](const char* path, const Arg& arg) {
        return [path, &arg](const std::vector<std::uint64_t>& v) {
            LF_EXPECT(v.empty() || v[0] == be64(arg.bytes.data() + 4), std::string(path) + ": first element");
            expect_lowered(path, lower<Vec<U64>>(v), arg.bytes);
        };
    };
    {
        Arg arg(shape, payload);
        check_lift("lift", arg, vector_fault(arg.bytes, 8, false),
                   [](RustBuffer b) { return lift_buffer<Vec<U64>>(b); }, same_bytes("lift", arg));
    }
    {
        Arg arg(shape, payload);
        check_lift("named", arg, vector_fault(arg.bytes, 8, false),
                   [](RustBuffer b) {
                       ArgBuffers<1> args(&b);
                       return args.lift<Vec<U64>>("arg");
                   },
                   same_bytes("named", arg));
    }
}
