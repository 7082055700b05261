// The future machinery the foreign-call convention requires. No exported item
// is asynchronous, so nothing in the library creates a future; the entry
// points exist so that the host finds every symbol it expects, and they follow
// the convention's rules for handles, scheduling, cancellation and completion.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <mutex>
#include <optional>

#include "exports.h"

namespace lumenfold::ffi {

using ContinuationCallback = LumenfoldContinuationCallback;
inline constexpr std::int8_t kPollReady = 0;
inline constexpr std::int8_t kPollWake = 1;

// What the host is told next: nothing yet, a stored continuation, an early
// wake, or cancellation.
class Scheduler {
public:
    enum class State { Empty, Stored, Woken, Cancelled };

    void store(ContinuationCallback cb, std::uint64_t data) {
        switch (state_) {
            case State::Empty:
                set_stored(cb, data);
                break;
            case State::Stored: {
                auto old_cb = cb_;
                auto old_data = data_;
                set_stored(cb, data);
                old_cb(old_data, kPollReady);
                break;
            }
            case State::Woken:
                state_ = State::Empty;
                cb(data, kPollWake);
                break;
            case State::Cancelled:
                cb(data, kPollReady);
                break;
        }
    }
    void wake() {
        if (state_ == State::Stored) {
            state_ = State::Empty;
            cb_(data_, kPollWake);
        } else if (state_ == State::Empty) {
            state_ = State::Woken;
        }
    }
    void cancel() {
        const bool had = state_ == State::Stored;
        state_ = State::Cancelled;
        if (had) cb_(data_, kPollReady);
    }
    State state() const { return state_; }

private:
    void set_stored(ContinuationCallback cb, std::uint64_t data) {
        state_ = State::Stored;
        cb_ = cb;
        data_ = data;
    }
    State state_ = State::Empty;
    ContinuationCallback cb_ = nullptr;
    std::uint64_t data_ = 0;
};

// What complete reports once the result is gone or was never there: code 3
// and an empty error buffer.
inline void report_cancelled(RustCallStatus* out) {
    if (out == nullptr) return;
    out->code = kCallCancelled;
    out->error_buf = empty_buffer();
}

template <class T>
struct FutureValue {
    T value{};
};
template <>
struct FutureValue<void> {};

template <class T>
class Future {
public:
    enum class Slot { Pending, Ready, Taken, Cancelled };

    std::atomic<std::uint64_t> strong{1};

    // Stores the result and lets a waiting host know it can complete.
    void resolve(FutureValue<T> value, RustCallStatus status) {
        auto lock = locked();
        if (slot_ != Slot::Pending) return;
        value_ = value;
        status_ = status;
        slot_ = Slot::Ready;
        scheduler_.wake();
    }

    void poll(ContinuationCallback cb, std::uint64_t data) {
        auto lock = locked();
        if (slot_ == Slot::Pending) {
            scheduler_.store(cb, data);
        } else {
            cb(data, kPollReady);
        }
    }

    void cancel() {
        auto lock = locked();
        scheduler_.cancel();
        if (slot_ == Slot::Pending || slot_ == Slot::Ready) {
            if (slot_ == Slot::Ready) release_status();
            slot_ = Slot::Cancelled;
        }
    }

    FutureValue<T> complete(RustCallStatus* out) {
        auto lock = locked();
        if (slot_ == Slot::Ready) {
            slot_ = Slot::Taken;
            if (out != nullptr) *out = status_;
            return value_;
        }
        report_cancelled(out);
        return FutureValue<T>{};
    }

    void free_pending() { cancel(); }
    Scheduler::State scheduler_state() {
        auto lock = locked();
        return scheduler_.state();
    }
    ~Future() {
        if (slot_ == Slot::Ready) release_status();
    }

private:
    // Nothing panics while a future is locked (these entry points end the
    // process on a panic), so its lock is never poisoned.
    std::unique_lock<std::mutex> locked() { return std::unique_lock<std::mutex>(mutex_); }
    void release_status() {
        if (status_.code != kCallSuccess) release_storage(status_.error_buf);
        if constexpr (std::is_same_v<T, RustBuffer>) release_storage(value_.value);
    }

    std::mutex mutex_;
    Scheduler scheduler_;
    Slot slot_ = Slot::Pending;
    FutureValue<T> value_{};
    RustCallStatus status_{0, RustBuffer{0, 0, nullptr}};
};

template <class T>
Future<T>* future_from(std::uint64_t handle) {
    return reinterpret_cast<Future<T>*>(static_cast<std::uintptr_t>(handle));
}
template <class T>
std::uint64_t new_future() {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(new Future<T>()));
}
template <class T>
void future_add_ref(std::uint64_t handle) {
    if (future_from<T>(handle)->strong.fetch_add(1, std::memory_order_relaxed) >= (std::uint64_t{1} << 63))
        std::abort();
}
template <class T>
void future_release(std::uint64_t handle) {
    auto* f = future_from<T>(handle);
    if (f->strong.fetch_sub(1, std::memory_order_release) == 1) {
        acquire_after_last_release(f->strong);
        delete f;
    }
}

}  // namespace lumenfold::ffi
