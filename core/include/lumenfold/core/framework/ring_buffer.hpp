// Power-of-two circular window of doubles with free-running head and tail
// counters. The owner, not the buffer, decides when to pop: the buffer never
// checks fullness. Element i from the front lives at slot (tail + i) & mask.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "lumenfold/core/framework/allocation.hpp"
#include "lumenfold/core/framework/panic.hpp"

namespace lumenfold::core {

class RingBuffer {
public:
    // Storage for a requested capacity: 16 slots for 0, otherwise the smallest
    // power of two strictly greater than the capacity (room for the one extra
    // element an owner holds between its push and its pop).
    static std::uint64_t storage_size_for(std::uint64_t capacity) {
        if (capacity == 0) return 16;
        // 2^59 slots of 8 bytes and more would exceed the signed 64-bit byte range.
        if (capacity >= (std::uint64_t{1} << 59)) throw_capacity_overflow();
        std::uint64_t size = 1;
        while (size <= capacity) size <<= 1;
        return size;
    }

    explicit RingBuffer(std::uint64_t capacity) : RingBuffer(Storage{}, storage_size_for(capacity)) {}

    // A buffer that starts full with v's elements, v[0] at the front.
    static RingBuffer from(const std::vector<double>& v) {
        RingBuffer rb(Storage{}, storage_size_for(v.size()));
        if (!v.empty()) std::memcpy(rb.buf_.get(), v.data(), v.size() * sizeof(double));
        rb.head_ = v.size();
        rb.len_ = v.size();
        return rb;
    }

    RingBuffer(const RingBuffer& o)
        : RingBuffer(Storage{}, o.mask_ + 1) {
        std::memcpy(buf_.get(), o.buf_.get(), (mask_ + 1) * sizeof(double));
        head_ = o.head_;
        tail_ = o.tail_;
        len_ = o.len_;
    }
    RingBuffer& operator=(const RingBuffer& o) {
        if (this != &o) *this = RingBuffer(o);
        return *this;
    }
    RingBuffer(RingBuffer&&) noexcept = default;
    RingBuffer& operator=(RingBuffer&&) noexcept = default;

    void push(double x) noexcept {
        buf_[head_ & mask_] = x;
        ++head_;
        ++len_;
    }
    double pop() noexcept {
        double x = buf_[tail_ & mask_];
        ++tail_;
        --len_;
        return x;
    }
    void push_front(double x) noexcept {
        --tail_;
        buf_[tail_ & mask_] = x;
        ++len_;
    }
    double pop_back() noexcept {
        --head_;
        --len_;
        return buf_[head_ & mask_];
    }
    double back() const noexcept { return buf_[(head_ - 1) & mask_]; }

    // The element i positions from the front, or nothing past the end.
    std::optional<double> get(std::uint64_t i) const noexcept {
        if (i >= len_) return std::nullopt;
        return buf_[(tail_ + i) & mask_];
    }
    // get(i), or `fallback` past the end.
    double get_or(std::uint64_t i, double fallback) const noexcept {
        return i < len_ ? buf_[(tail_ + i) & mask_] : fallback;
    }
    // The slot i positions from the front without the length check (always a
    // valid slot thanks to the mask); for loops already bounded by len().
    double operator[](std::uint64_t i) const noexcept { return buf_[(tail_ + i) & mask_]; }

    std::uint64_t len() const noexcept { return len_; }
    bool empty() const noexcept { return len_ == 0; }
    std::uint64_t storage_size() const noexcept { return mask_ + 1; }

private:
    struct Storage {};

    // Zeroed slots, their pages untouched until written.
    RingBuffer(Storage, std::uint64_t size) : buf_(zeroed_doubles(size)), mask_(size - 1) {}

    ZeroedDoubles buf_;
    std::uint64_t mask_;
    std::uint64_t head_ = 0;
    std::uint64_t tail_ = 0;
    std::uint64_t len_ = 0;
};

}  // namespace lumenfold::core
