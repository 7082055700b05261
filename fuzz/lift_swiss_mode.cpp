// Lifting the SwissMode enum: a big-endian signed 32-bit variant number from 1
// to 9, the value checked before any leftover bytes.
#include "fuzz_support.hpp"
#include "records.hpp"
#include "runtime/batch.hpp"

using namespace lumenfold::ffi;
using namespace lf_fuzz;

namespace {

std::optional<std::string> mode_fault(const Bytes& b) {
    if (b.size() < 4) return shortage(b.size(), 4);
    const auto v = static_cast<std::int32_t>(be32(b.data()));
    if (v < 1 || v > 9) return "Invalid SwissMode enum value: " + std::to_string(v);
    if (b.size() > 4) return leftover(b.size() - 4);
    return std::nullopt;
}

}  // namespace

LF_FUZZ_TARGET(lift_swiss_mode) {
    Input in(data, size);
    const std::uint8_t shape = in.byte();
    const Bytes payload = in.rest();
    using Mode = lumenfold::core::SwissMode;
    auto same_bytes = [](const char* path, const Arg& arg) {
        return [path, &arg](Mode m) {
            LF_EXPECT(static_cast<std::int32_t>(m) == static_cast<std::int32_t>(be32(arg.bytes.data())),
                      std::string(path) + ": wrong variant");
            expect_lowered(path, lower<rec::SwissMode>(m), arg.bytes);
        };
    };
    {
        Arg arg(shape, payload);
        check_lift("lift", arg, mode_fault(arg.bytes), [](RustBuffer b) { return lift_buffer<rec::SwissMode>(b); },
                   same_bytes("lift", arg));
    }
    {
        Arg arg(shape, payload);
        check_lift("named", arg, mode_fault(arg.bytes),
                   [](RustBuffer b) {
                       ArgBuffers<1> args(&b);
                       return args.lift<rec::SwissMode>("arg");
                   },
                   same_bytes("named", arg));
    }
}
