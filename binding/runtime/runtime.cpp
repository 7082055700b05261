// Byte-buffer entry points, the contract version and the status helpers.
#include <malloc.h>
#include <sys/mman.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <atomic>
#include <new>

#include "exports.h"
#include "serialize.hpp"

namespace lumenfold::ffi {

namespace {
constexpr std::uint64_t kMaxAlloc = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

// Freed large blocks kept for reuse, so that repeated calls of the same sizes
// touch no fresh pages. A request takes the smallest kept block that holds it
// and is at most twice its size; a block that does not fit the bounds goes
// back to the heap, and so do the oldest kept blocks when a new one needs
// their room, before it goes in. Which block serves which request shows in the
// speed of the calls that read and write it: calls that alternate between
// sizes ran measurably slower with a first fit and a rotating victim. Block
// sizes are the heap's own usable sizes, never a caller's capacity field.
//
// The slots are claimed and filled with atomic operations, never under a
// lock: a process that forks while another thread is inside the cache gets a
// child that can still allocate (at worst a block in flight, or one whose
// size was being read, is not in the child's cache). The blocks stay
// reachable from this static object until the process ends.
//
// A kept block never leaves its slot but to be handed out or go back to the
// heap, so that a second free of it, which looks for it in the slots, finds it
// at every moment and is refused. A slot's size and age are hints for choosing
// it, written before its block is published: a request marks the block it
// chose (the low bit of the address, which heap blocks leave clear) while it
// checks the heap's own size, in case the slot changed in between; a marked
// block is neither taken nor sent back by another thread.
class StorageCache {
public:
    static constexpr std::uint64_t kMinBlock = std::uint64_t{64} << 10;
    static constexpr std::uint64_t kMaxBytes = std::uint64_t{256} << 20;
    static constexpr std::size_t kSlots = 8;

    std::uint8_t* take(std::uint64_t size) noexcept {
        if (size < kMinBlock) return nullptr;
        for (std::size_t tries = 0; tries < kSlots; ++tries) {
            Slot* best = nullptr;
            std::uint8_t* block = nullptr;
            std::uint64_t best_size = 0;
            for (Slot& s : slots_) {
                std::uint8_t* b = s.block.load(std::memory_order_relaxed);
                if (b == nullptr || marked(b)) continue;
                const std::uint64_t have = s.size.load(std::memory_order_relaxed);
                if (fits(have, size) && (best == nullptr || have < best_size)) {
                    best = &s;
                    block = b;
                    best_size = have;
                }
            }
            if (best == nullptr) return nullptr;
            if (!best->block.compare_exchange_strong(block, block + 1, std::memory_order_acquire,
                                                     std::memory_order_relaxed))
                continue;
            // Marked: no other thread takes or discards it while its size is read.
            const std::uint64_t have = malloc_usable_size(block);
            if (fits(have, size)) {
                held_.fetch_sub(have, std::memory_order_relaxed);
                best->block.store(nullptr, std::memory_order_relaxed);
                return block;
            }
            // Another thread's block took the slot meanwhile: its size noted, it stays.
            best->size.store(have, std::memory_order_relaxed);
            best->block.store(block, std::memory_order_release);
        }
        return nullptr;
    }

    enum class Kept { kept, not_kept, already_kept };

    // Keeps `block` (of `size` usable bytes) for reuse; not_kept when it is
    // not worth keeping and must go back to the heap, already_kept when the
    // cache holds it already: a second free of one block, which must change
    // nothing, or two callers would later be handed the same memory.
    Kept keep(std::uint8_t* block, std::uint64_t size) noexcept {
        if (size < kMinBlock || size > kMaxBytes) return Kept::not_kept;
        for (const Slot& s : slots_) {
            const std::uint8_t* kept = s.block.load(std::memory_order_relaxed);
            if (kept == block || kept == block + 1) return Kept::already_kept;
        }
        held_.fetch_add(size, std::memory_order_relaxed);
        put(block, size);
        return Kept::kept;
    }

private:
    struct Slot {
        std::atomic<std::uint8_t*> block{nullptr};
        std::atomic<std::uint64_t> size{0};
        std::atomic<std::uint64_t> stamp{0};
    };

    static bool marked(const std::uint8_t* block) noexcept { return reinterpret_cast<std::uintptr_t>(block) & 1; }

    static bool fits(std::uint64_t have, std::uint64_t size) noexcept { return have >= size && have - size <= size; }

    // Stores a block this thread owns (of `size` bytes, counted in held_) in
    // an empty slot, the last one, after sending the oldest kept blocks back
    // to the heap while no slot is empty or the bytes kept exceed the bound;
    // when every block kept is marked and no slot is free, sends the block
    // itself back.
    void put(std::uint8_t* block, std::uint64_t size) noexcept {
        for (;;) {
            Slot* empty = nullptr;
            Slot* oldest = nullptr;
            std::uint8_t* old = nullptr;
            for (Slot& s : slots_) {
                std::uint8_t* b = s.block.load(std::memory_order_relaxed);
                if (b == nullptr) {
                    empty = &s;
                } else if (!marked(b) && (oldest == nullptr || s.stamp.load(std::memory_order_relaxed) <
                                                                   oldest->stamp.load(std::memory_order_relaxed))) {
                    oldest = &s;
                    old = b;
                }
            }
            if (empty != nullptr && (held_.load(std::memory_order_relaxed) <= kMaxBytes || oldest == nullptr)) {
                empty->size.store(size, std::memory_order_relaxed);
                empty->stamp.store(clock_.fetch_add(1, std::memory_order_relaxed) + 1, std::memory_order_relaxed);
                std::uint8_t* expected = nullptr;
                if (empty->block.compare_exchange_strong(expected, block, std::memory_order_release,
                                                         std::memory_order_relaxed))
                    return;
                continue;
            }
            if (oldest == nullptr) {
                discard(block);
                return;
            }
            if (oldest->block.compare_exchange_strong(old, nullptr, std::memory_order_acquire,
                                                      std::memory_order_relaxed))
                discard(old);
        }
    }

    void discard(std::uint8_t* block) noexcept {
        held_.fetch_sub(malloc_usable_size(block), std::memory_order_relaxed);
        std::free(block);
    }

    Slot slots_[kSlots];
    std::atomic<std::uint64_t> held_{0};
    std::atomic<std::uint64_t> clock_{0};
};

constinit StorageCache storage_cache;

// Fresh blocks of 4 MiB and more are huge-page aligned: filling one otherwise
// costs a page fault per 4 KiB.
constexpr std::uint64_t kHugeBlock = std::uint64_t{4} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

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
    if (block == nullptr) return true;
    switch (storage_cache.keep(block, malloc_usable_size(block))) {
        case StorageCache::Kept::kept: return true;
        case StorageCache::Kept::already_kept: return false;
        case StorageCache::Kept::not_kept: break;
    }
    std::free(block);
    return true;
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
