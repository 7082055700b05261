// A window of the last `size` values, newest first, kept contiguous so that
// the sums over it read it in place (and in SIMD lanes). Values enter at the
// front of a buffer with room for `size` more; when the front reaches the
// start, the values held move to the far end, so each value moves about once.
// Entries not written yet read as 0; the storage is zeroed lazily (calloc), so
// a large window touches no page before it is used.
#pragma once

#include <cstdint>
#include <cstring>

#include "lumenfold/core/framework/allocation.hpp"

namespace lumenfold::core {

class ContiguousWindow {
public:
    explicit ContiguousWindow(std::uint64_t size) : size_(size), room_(room(size)), buf_(zeroed_doubles(room_)) {
        front_ = room_ - size_;
    }
    ContiguousWindow(const ContiguousWindow& o) : size_(o.size_), room_(o.room_), buf_(zeroed_doubles(room_)) {
        if (room_ != 0) std::memcpy(buf_.get(), o.buf_.get(), room_ * sizeof(double));
        front_ = o.front_;
        len_ = o.len_;
    }
    ContiguousWindow& operator=(const ContiguousWindow& o) {
        if (this != &o) *this = ContiguousWindow(o);
        return *this;
    }
    ContiguousWindow(ContiguousWindow&&) noexcept = default;
    ContiguousWindow& operator=(ContiguousWindow&&) noexcept = default;

    // Puts x at the front; the oldest value leaves once `size` are held. A
    // window of size 0 holds nothing.
    void push_front(double x) noexcept {
        if (size_ == 0) return;
        if (front_ == 0) {
            std::memmove(buf_.get() + room_ - size_ + 1, buf_.get(), (size_ - 1) * sizeof(double));
            front_ = room_ - size_ + 1;
        }
        buf_[--front_] = x;
        if (len_ < size_) ++len_;
    }

    // The `size` values, the newest first.
    const double* data() const noexcept { return buf_.get() + front_; }
    // Values pushed so far, at most `size`.
    std::uint64_t len() const noexcept { return len_; }

private:
    // Twice the size; a size whose storage could not be addressed fails.
    static std::uint64_t room(std::uint64_t size) { return 2 * element_count(size, 2 * sizeof(double)); }

    std::uint64_t size_;
    std::uint64_t room_;
    ZeroedDoubles buf_;
    std::uint64_t front_ = 0;  // index of the newest value
    std::uint64_t len_ = 0;
};

}  // namespace lumenfold::core
