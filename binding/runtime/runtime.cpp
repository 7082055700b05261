// Byte-buffer entry points, the contract version and the status helpers.
#include <malloc.h>
#include <pthread.h>
#include <sys/mman.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <utility>

#include "exports.h"
#include "serialize.hpp"

namespace lumenfold::ffi {

namespace {
constexpr std::uint64_t kMaxAlloc = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

// Fresh blocks of 4 MiB and more are huge-page aligned: filling one otherwise
// costs a page fault per 4 KiB.
constexpr std::uint64_t kHugeBlock = std::uint64_t{4} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Freed large blocks kept for reuse, so that repeated calls of the same sizes
// touch no fresh pages. A request takes the smallest kept block that holds it
// and is at most twice its size; a block that does not fit the bounds goes
// back to the heap, and so do the oldest kept blocks when a new one needs
// their room, before it goes in. Which block serves which request shows in the
// speed of the calls that read and write it: calls that alternate between
// sizes ran measurably slower with a first fit and a rotating victim. Block
// sizes are the heap's own usable sizes, never a caller's capacity field.
//
// One lock guards the slots, so that a free checks that the cache does not
// hold its block already and puts it in as one step: of two frees of one
// block, even at the same instant, the second is refused. The lock is held
// for no heap call (victims go back to the heap after it is released), and no
// fork copies it held: handlers registered on the cache's first use take it
// before a fork and release it after, in parent and child. The blocks stay
// reachable from this static object until the process ends.
class StorageCache {
public:
    static constexpr std::uint64_t kMinBlock = std::uint64_t{64} << 10;
    // Requests of up to 256 MiB are kept. Their blocks are huge-page aligned,
    // and the heap's usable size of one runs up to a huge page (and a page of
    // its own) over the request, so a block and all of them together may hold
    // that much more.
    static constexpr std::uint64_t kMaxBytes = (std::uint64_t{256} << 20) + 2 * kHugePage;
    static constexpr std::size_t kSlots = 8;

    std::uint8_t* take(std::uint64_t size) noexcept {
        if (size < kMinBlock) return nullptr;
        const std::lock_guard lock(mutex());
        Slot* best = nullptr;
        for (Slot& s : slots_)
            if (s.block != nullptr && fits(s.size, size) && (best == nullptr || s.size < best->size)) best = &s;
        if (best == nullptr) return nullptr;
        held_ -= best->size;
        return std::exchange(best->block, nullptr);
    }

    // Keeps `block` (of `size` usable bytes) for reuse or sends it back to
    // the heap; false, and nothing done, when the cache holds it already: a
    // second free of one block, which kept twice would later be handed to two
    // callers.
    bool keep(std::uint8_t* block, std::uint64_t size) noexcept {
        if (size < kMinBlock || size > kMaxBytes) {
            std::free(block);
            return true;
        }
        std::uint8_t* victims[kSlots];
        std::size_t n_victims = 0;
        {
            const std::lock_guard lock(mutex());
            for (const Slot& s : slots_)
                if (s.block == block) return false;
            held_ += size;
            for (;;) {
                Slot* empty = nullptr;
                Slot* oldest = nullptr;
                for (Slot& s : slots_) {
                    if (s.block == nullptr) empty = &s;
                    else if (oldest == nullptr || s.stamp < oldest->stamp) oldest = &s;
                }
                if (empty != nullptr && held_ <= kMaxBytes) {
                    *empty = Slot{block, size, ++clock_};
                    break;
                }
                held_ -= oldest->size;
                victims[n_victims++] = std::exchange(oldest->block, nullptr);
            }
        }
        for (std::size_t i = 0; i < n_victims; ++i) std::free(victims[i]);
        return true;
    }

private:
    struct Slot {
        std::uint8_t* block = nullptr;
        std::uint64_t size = 0;
        std::uint64_t stamp = 0;
    };

    static bool fits(std::uint64_t have, std::uint64_t size) noexcept { return have >= size && have - size <= size; }

    // The lock, its fork handlers registered on first use: nothing runs at
    // load. A child forked during the registration runs it again, unless the
    // handlers were in place at the fork (its own handler says so): twice
    // registered, they would lock twice at its next fork.
    static std::mutex& mutex() noexcept {
        static constinit std::mutex m;
        static constinit pthread_once_t once = PTHREAD_ONCE_INIT;
        static constinit bool registered = false;
        pthread_once(&once, [] {
            if (!registered)
                pthread_atfork([] { m.lock(); }, [] { m.unlock(); }, [] { registered = true; m.unlock(); });
        });
        return m;
    }

    Slot slots_[kSlots];
    std::uint64_t held_ = 0;
    std::uint64_t clock_ = 0;
};

constinit StorageCache storage_cache;

std::uint8_t* fresh_block(std::uint64_t size) {
    if (size < kHugeBlock) {
        auto* p = static_cast<std::uint8_t*>(std::malloc(size));
        if (p == nullptr) throw std::bad_alloc();
        return p;
    }
    const std::uint64_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
    void* p = nullptr;
    if (posix_memalign(&p, kHugePage, rounded) != 0) throw std::bad_alloc();
    madvise(p, rounded, MADV_HUGEPAGE);
    return static_cast<std::uint8_t*>(p);
}
}  // namespace

std::uint8_t* acquire_storage(std::uint64_t size) {
    if (size > kMaxAlloc) throw Panic("capacity overflow");
    if (std::uint8_t* p = storage_cache.take(size)) return p;
    return fresh_block(size);
}

bool recycle_storage(std::uint8_t* block) noexcept {
    return block == nullptr || storage_cache.keep(block, malloc_usable_size(block));
}

bool check_buffer(const RustBuffer& buf) {
    if (buf.data != nullptr) {
        if (buf.len > buf.capacity) throw Panic("RustBuffer length exceeds capacity");
        return true;
    }
    if (buf.capacity != 0) throw Panic("null RustBuffer had non-zero capacity");
    if (buf.len != 0) throw Panic("null RustBuffer had non-zero length");
    return false;
}

RustBuffer buffer_from(std::string_view bytes) {
    if (bytes.empty()) return empty_buffer();
    std::uint8_t* p = acquire_storage(bytes.size());
    std::memcpy(p, bytes.data(), bytes.size());
    return RustBuffer{bytes.size(), bytes.size(), p};
}

void set_error(RustCallStatus* status, std::string_view message) noexcept {
    if (status == nullptr) return;
    status->code = kCallUnexpectedError;
    try {
        status->error_buf = buffer_from(message);
    } catch (...) {
        status->error_buf = empty_buffer();
    }
}

void report_panic(std::string_view message) noexcept {
    std::fprintf(stderr, "thread panicked at lumenfold boundary:\n%.*s\n", static_cast<int>(message.size()),
                 message.data());
}

std::string shortage_reason(std::uint64_t remaining, std::uint64_t needed) {
    return "not enough bytes remaining in buffer (" + std::to_string(remaining) + " < " + std::to_string(needed) +
           ")";
}

std::string leftover_reason(std::uint64_t remaining) {
    return "junk data left in buffer after lifting (count: " + std::to_string(remaining) + ")";
}

}  // namespace lumenfold::ffi

using namespace lumenfold::ffi;

LF_EXPORT RustBuffer ffi_lumenfold_python_rustbuffer_alloc(std::uint64_t size, RustCallStatus* status) {
    return call_with_status<RustBuffer>(status, [&] {
        if (size == 0) return empty_buffer();
        std::uint8_t* p = acquire_storage(size);
        std::memset(p, 0, size);
        return RustBuffer{size, size, p};
    });
}

LF_EXPORT RustBuffer ffi_lumenfold_python_rustbuffer_from_bytes(ForeignBytes bytes, RustCallStatus* status) {
    return call_with_status<RustBuffer>(status, [&] {
        if (bytes.data == nullptr) {
            if (bytes.len != 0) throw lumenfold::Panic("null ForeignBytes had non-zero length");
            return empty_buffer();
        }
        if (bytes.len < 0)
            throw lumenfold::Panic("bytes length negative or overflowed: " + std::to_string(bytes.len));
        return buffer_from(std::string_view(reinterpret_cast<const char*>(bytes.data),
                                            static_cast<std::size_t>(bytes.len)));
    });
}

LF_EXPORT void ffi_lumenfold_python_rustbuffer_free(RustBuffer buf, RustCallStatus* status) {
    call_with_status<void>(status, [&] {
        if (check_buffer(buf) && !release_storage(buf)) throw lumenfold::Panic("RustBuffer freed twice");
    });
}

LF_EXPORT RustBuffer ffi_lumenfold_python_rustbuffer_reserve(RustBuffer buf, std::uint64_t additional,
                                                             RustCallStatus* status) {
    return call_with_status<RustBuffer>(status, [&] {
        check_buffer(buf);
        if (buf.capacity - buf.len >= additional) return buf;
        // The old storage is gone after this call whatever happens.
        struct Release {
            RustBuffer* b;
            ~Release() {
                if (b) release_storage(*b);
            }
        } release{&buf};
        const std::uint64_t need = buf.len + additional;
        if (need < buf.len || need > kMaxAlloc) throw lumenfold::Panic("capacity overflow");
        // Geometric growth: hosts append element by element.
        std::uint64_t cap = buf.capacity * 2;
        if (cap < need) cap = need;
        if (cap < 8) cap = 8;
        if (cap > kMaxAlloc) cap = need;
        std::uint8_t* p = acquire_storage(cap);
        if (buf.len != 0) std::memcpy(p, buf.data, buf.len);
        return RustBuffer{cap, buf.len, p};
    });
}

LF_EXPORT std::uint32_t ffi_lumenfold_python_uniffi_contract_version() { return 30; }
