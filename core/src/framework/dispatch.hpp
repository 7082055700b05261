// Defines a lane kernel declared as `extern const Kernel<...> name` from its
// per-instruction-set implementation `Impl` (in namespace HWY_NAMESPACE of
// the same namespace): the table of implementations and the entry that
// calls the one chosen for this processor. Use it once per kernel, in the
// kernel file's `#if HWY_ONCE` part.
#pragma once

#include <hwy/highway.h>

#include "lumenfold/core/framework/kernel.hpp"

#define LF_DISPATCH(name, Impl) \
    HWY_EXPORT(Impl);           \
    constinit const decltype(name) name{[](auto... args) { return HWY_DYNAMIC_DISPATCH(Impl)(args...); }};
