// What a batch form reads and where it writes.
//
// A batch form is a member template `batch(out, series...)` (see traits.hpp):
// it reads each input as a `Series` of plain doubles and writes the outputs
// through an `Outputs` sink, one output value per bar. Plain arrays come as
// `PlainSeries` and `PlainOutputs`; any other storage takes part by offering
// the same few operations.
#pragma once

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <cstring>
#include <span>
#include <vector>

namespace lumenfold::core {

// Series and sinks are cheap views: a batch form may copy one into a local,
// which keeps its pointers in registers across the output stores.

// A read-only series of doubles: s.size(), s[i], and s.load(from, count, dst),
// which copies the values [from, from + count) to dst.
template <class S>
concept Series = std::copyable<S> && requires(const S& s, std::size_t i, double* dst) {
    { s.size() } -> std::convertible_to<std::size_t>;
    { s[i] } -> std::convertible_to<double>;
    s.load(i, i, dst);
};

// Where outputs of type T go: o.put(i, v) sets the output of bar i, and
// o.store(from, count, values) those of the bars [from, from + count).
template <class O, class T>
concept Outputs = std::copyable<O> && requires(const O& o, std::size_t i, const T& v, const T* values) {
    o.put(i, v);
    o.store(i, i, values);
};

// Where rows of doubles go, one per bar, all of the length the indicator
// fixes for the whole series (`batch_row_length()`): o.put(i, row).
template <class O>
concept RowOutputs = std::copyable<O> && requires(const O& o, std::size_t i, std::span<const double> row) { o.put(i, row); };

// A series held as a contiguous array.
class PlainSeries {
public:
    PlainSeries(std::span<const double> values) noexcept : values_(values) {}

    std::size_t size() const noexcept { return values_.size(); }
    const double* data() const noexcept { return values_.data(); }
    double operator[](std::size_t i) const noexcept { return values_[i]; }
    void load(std::size_t from, std::size_t count, double* dst) const noexcept {
        if (count != 0) std::memcpy(dst, values_.data() + from, count * sizeof(double));
    }

private:
    std::span<const double> values_;
};

// Outputs written into an array of one T per bar.
template <class T>
class PlainOutputs {
public:
    explicit PlainOutputs(T* out) noexcept : out_(out) {}

    T* data() const noexcept { return out_; }
    void put(std::size_t i, const T& v) const noexcept { out_[i] = v; }
    void store(std::size_t from, std::size_t count, const T* values) const noexcept {
        std::copy_n(values, count, out_ + from);
    }

private:
    T* out_;
};

// Rows written into one vector per bar.
class PlainRows {
public:
    explicit PlainRows(std::vector<double>* rows) noexcept : rows_(rows) {}

    void put(std::size_t i, std::span<const double> row) const { rows_[i].assign(row.begin(), row.end()); }

private:
    std::vector<double>* rows_;
};

}  // namespace lumenfold::core
