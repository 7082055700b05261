// Lifting a string argument: any bytes are the text itself, unvalidated.
#include "fuzz_support.hpp"
#include "runtime/batch.hpp"

using namespace lumenfold::ffi;
using namespace lf_fuzz;

LF_FUZZ_TARGET(lift_string) {
    Input in(data, size);
    const std::uint8_t shape = in.byte();
    const Bytes payload = in.rest();
    auto same_bytes = [](const char* path, const Arg& arg) {
        return [path, &arg](const std::string& s) {
            LF_EXPECT(Bytes(s.begin(), s.end()) == arg.bytes, std::string(path) + ": text differs");
            expect_lowered(path, lower_string(s), arg.bytes);
        };
    };
    {
        Arg arg(shape, payload);
        check_lift("lift", arg, std::nullopt, [](RustBuffer b) { return lift_string(b); }, same_bytes("lift", arg));
    }
    {
        Arg arg(shape, payload);
        check_lift("named", arg, std::nullopt,
                   [](RustBuffer b) {
                       ArgBuffers<1> args(&b);
                       return args.lift_string();
                   },
                   same_bytes("named", arg));
    }
}
