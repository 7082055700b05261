// Batch functions: lift the vector arguments in declared order, run a fresh
// core indicator over them zipped to the shortest, lower the outputs.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

#include "serialize.hpp"

namespace lumenfold::ffi {

// Owns the buffer arguments of one call. Each is lifted once, in order; when
// the call ends early, every buffer not yet lifted is released too.
template <std::size_t N>
class ArgBuffers {
public:
    template <class... P>
    explicit ArgBuffers(P*... bufs) : bufs_{bufs...} {}
    ArgBuffers(const ArgBuffers&) = delete;
    ArgBuffers& operator=(const ArgBuffers&) = delete;
    ~ArgBuffers() {
        for (std::size_t i = next_; i < N; ++i) {
            try {
                if (check_buffer(*bufs_[i])) release_storage(*bufs_[i]);
            } catch (...) {
                // A malformed buffer is not ours to free.
            }
        }
    }

    template <class K>
    auto lift(const char* name) {
        RustBuffer buf = *bufs_[next_++];
        try {
            return lift_buffer<K>(buf);
        } catch (const LiftFailure& e) {
            throw ArgLiftFailure{name, e.reason};
        }
    }
    std::string lift_string() { return ffi::lift_string(*bufs_[next_++]); }

private:
    std::array<RustBuffer*, N> bufs_;
    std::size_t next_ = 0;
};

// Steps `core` over the inputs zipped to the shortest, collecting each output.
template <class Core, class... Vecs>
auto run_zipped(Core& core, const Vecs&... inputs) {
    const std::size_t n = std::min({inputs.size()...});
    using Out = std::decay_t<decltype(core.next(inputs[0]...))>;
    std::vector<Out> out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) out.push_back(core.next(inputs[i]...));
    return out;
}

}  // namespace lumenfold::ffi
