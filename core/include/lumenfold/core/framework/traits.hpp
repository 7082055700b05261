// The stepping contract: every core indicator advances one bar per call of
// `next(inputs...)` and returns that bar's output (a double, a small named
// aggregate, or a vector of doubles).
#pragma once

#include <utility>

namespace lumenfold::core {

template <class T, class... In>
concept Next = requires(T t, In... in) { t.next(in...); };

template <class T, class... In>
using NextOutput = decltype(std::declval<T&>().next(std::declval<In>()...));

}  // namespace lumenfold::core
