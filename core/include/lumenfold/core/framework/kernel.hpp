// Lane kernels: the computations of batch forms whose bars do not depend on
// earlier outputs, run several bars side by side in SIMD lanes. Each lane
// performs exactly the operations, in exactly the order, that the streaming
// step performs for its bar, so results are the same bit for bit on every
// instruction set; the widest one the processor offers is chosen at run time.
//
// A kernel is declared once, beside the indicator that uses it (or in
// framework/lanes.hpp when several share it), with its formula:
//
//     // out[k] = ...
//     extern const Kernel<void(const double* x, std::size_t count, double* out)> my_kernel;
//
// and implemented once per instruction set in its family's kernel file
// (core/src/<family>/lanes.cpp), where LF_DISPATCH(my_kernel, MyKernel)
// defines it.
#pragma once

namespace lumenfold::core::lanes {

template <class Signature>
class Kernel;

template <class R, class... A>
class Kernel<R(A...)> {
public:
    constexpr explicit Kernel(R (*dispatch)(A...)) noexcept : dispatch_(dispatch) {}
    R operator()(A... args) const noexcept { return dispatch_(args...); }

private:
    R (*dispatch_)(A...);
};

}  // namespace lumenfold::core::lanes
