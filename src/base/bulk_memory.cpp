#include "base/bulk_memory.h"

#include <algorithm>
#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace qern {

#if defined(__linux__) && defined(MAP_POPULATE)
namespace {

// Below this, the heap's own pages serve better.
constexpr std::size_t BULK_THRESHOLD_BYTES = 64 * 1024;

}  // namespace
#endif

void BulkDelete::operator()(double* p) const {
    if (p == nullptr || in_arena) return;
#if defined(__linux__) && defined(MAP_POPULATE)
    if (mapped_bytes != 0) {
        munmap(p, mapped_bytes);
        return;
    }
#endif
    delete[] p;
}

BulkDoubles allocate_bulk_zeroed(std::size_t count) {
    if (count > static_cast<std::size_t>(-1) / sizeof(double)) return BulkDoubles{};
#if defined(__linux__) && defined(MAP_POPULATE)
    const std::size_t bytes = count * sizeof(double);
    if (bytes >= BULK_THRESHOLD_BYTES) {
        // Anonymous pages are zero.
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (p != MAP_FAILED) return BulkDoubles(static_cast<double*>(p), BulkDelete{bytes});
    }
#endif
    return BulkDoubles(new (std::nothrow) double[count](), BulkDelete{});
}

void make_present(void* p, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    constexpr std::uintptr_t PAGE = 4096;
    if (p == nullptr || bytes < BULK_THRESHOLD_BYTES) return;
    const auto first = (reinterpret_cast<std::uintptr_t>(p) + PAGE - 1) & ~(PAGE - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(PAGE - 1);
    // A kernel without it refuses; the pages then come one fault at a time.
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#else
    (void)p, (void)bytes;
#endif
}

BulkArena::BulkArena(std::size_t bytes)
    : capacity_((bytes + ARENA_PAGE_BYTES - 1) / ARENA_PAGE_BYTES * ARENA_PAGE_BYTES) {}

BulkArena::~BulkArena() {
#if defined(__linux__) && defined(MAP_POPULATE)
    if (mapping_ != nullptr) munmap(mapping_, mapped_);
#endif
}

bool BulkArena::map() {
#if defined(__linux__) && defined(MAP_POPULATE) && defined(MADV_HUGEPAGE)
    // Huge pages must start on a boundary of their size: map one page more
    // and use the aligned part.
    const std::size_t bytes = capacity_ + ARENA_PAGE_BYTES;
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
    mapping_ = p;
    mapped_ = bytes;
    const auto address = reinterpret_cast<std::uintptr_t>(p);
    base_ = static_cast<char*>(p) + ((ARENA_PAGE_BYTES - address % ARENA_PAGE_BYTES) % ARENA_PAGE_BYTES);
    // Without huge pages (the system has them off, or none is free) the
    // stretch comes in 4 KiB pages, made present here as bulk buffers are.
    madvise(base_, capacity_, MADV_HUGEPAGE);
#if defined(MADV_POPULATE_WRITE)
    if (madvise(base_, capacity_, MADV_POPULATE_WRITE) == 0) return true;
#endif
    // A kernel without MADV_POPULATE_WRITE: touching each page does the same.
    for (std::size_t offset = 0; offset < capacity_; offset += 4096) {
        static_cast<volatile char*>(static_cast<void*>(base_))[offset] = 0;
    }
    return true;
#else
    (void)mapping_, (void)mapped_;
    return false;
#endif
}

BulkDoubles BulkArena::take_zeroed(std::size_t count) {
    constexpr std::size_t ALIGNMENT = 64;
    if (count <= (capacity_ - used_) / sizeof(double) && !failed_) {
        if (base_ == nullptr && !map()) failed_ = true;
        if (base_ != nullptr) {
            double* piece = reinterpret_cast<double*>(base_ + used_);
            const std::size_t bytes = (count * sizeof(double) + ALIGNMENT - 1) / ALIGNMENT * ALIGNMENT;
            used_ = std::min(capacity_, used_ + bytes);
            return BulkDoubles(piece, BulkDelete{0, true});
        }
    }
    return allocate_bulk_zeroed(count);
}

BulkDoubles allocate_bulk_zeroed(std::size_t count, BulkArena* arena) {
    return arena != nullptr ? arena->take_zeroed(count) : allocate_bulk_zeroed(count);
}

}  // namespace qern
