// The stepping contract: every core indicator advances one bar per call of
// `next(inputs...)` and returns that bar's output (a double, a small named
// aggregate, or a vector of doubles).
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

template <class T, class... In>
concept Next = requires(T t, In... in) { t.next(in...); };

template <class T, class... In>
using NextOutput = decltype(std::declval<T&>().next(std::declval<In>()...));

// Whether the indicator's output is a vector whose length it fixes for the
// whole series: its batch form writes one row per bar.
template <class T>
concept FixedRows = requires(const T& t) {
    { t.batch_row_length() } -> std::convertible_to<std::uint64_t>;
};

namespace detail {
template <class T, class... In>
struct BatchOutputOf {
    using type = NextOutput<T, In...>;
};
template <class T, class... In>
    requires requires { typename T::BatchOutput; }
struct BatchOutputOf<T, In...> {
    using type = typename T::BatchOutput;
};
template <class>
using AsSeries = PlainSeries;
}  // namespace detail

// What a batch form writes per bar: what `next` returns, unless the class
// names a `BatchOutput` (a batch form that leaves out fields of the step's
// output that only the step needs).
template <class T, class... In>
using BatchOutput = typename detail::BatchOutputOf<T, In...>::type;

// The sink a batch form of T writes plain outputs to.
template <class T, class... In>
using PlainSink = std::conditional_t<FixedRows<T>, PlainRows, PlainOutputs<BatchOutput<T, In...>>>;

// A batch form: `batch(out, series...)`, a member template called once, on
// an object whose `batch_ready()` holds, with one Series per `next` input, all
// of one length. It writes through `out` (Outputs of BatchOutput, or
// RowOutputs) the outputs `next` would give bar by bar over those series from
// the object's state, bit for bit (which NaN propagates aside). It consumes
// the object: stepping it afterwards continues from no defined bar, so
// callers batch a copy.
//
// `batch_ready()` is a cheap test of state the class keeps anyway: whether
// its batch form can start from the present state. Most batch forms read
// their windows from the series itself and so hold only until the first
// bar; the few that step their own state through hold always. A freshly
// constructed object is always ready.
template <class T, class... In>
concept BatchForm = requires(T t, PlainSink<T, In...> out, detail::AsSeries<In>... series) {
    t.batch(out, series...);
};

}  // namespace lumenfold::core
