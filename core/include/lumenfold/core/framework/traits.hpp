// The stepping contract: every core indicator advances one bar per call of
// `next(inputs...)` and returns that bar's output (a double, a small named
// aggregate, or a vector of doubles).
#pragma once

#include <utility>

#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

template <class T, class... In>
concept Next = requires(T t, In... in) { t.next(in...); };

template <class T, class... In>
using NextOutput = decltype(std::declval<T&>().next(std::declval<In>()...));

// A batch form: `batch(out, series...)`, called once on a freshly constructed
// object with one series per `next` input, all of one length, writes the
// outputs `next` would give bar by bar over those series, bit for bit. It
// consumes the object: stepping it afterwards continues from no defined bar,
// so callers batch a copy (the boundary batches a local).
template <class T, class... In>
concept BatchForm = requires(T t, BigEndianOut out, In... in) { t.batch(out, in...); };

}  // namespace lumenfold::core
