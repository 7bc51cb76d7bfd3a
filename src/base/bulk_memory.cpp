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

BulkDoubles allocate_bulk_zeroed(std::size_t count, Presence presence) {
    if (count > static_cast<std::size_t>(-1) / sizeof(double)) return BulkDoubles{};
#if defined(__linux__) && defined(MAP_POPULATE)
    const std::size_t bytes = count * sizeof(double);
    if (bytes >= BULK_THRESHOLD_BYTES) {
        // Anonymous pages are zero.
        const int populate = presence == Presence::now ? MAP_POPULATE : 0;
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | populate, -1, 0);
        if (p != MAP_FAILED) return BulkDoubles(static_cast<double*>(p), BulkDelete{bytes});
    }
#else
    (void)presence;
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

namespace {

constexpr std::size_t PAGE_BYTES = 4096;

std::size_t whole_pages(std::size_t bytes) { return (bytes + PAGE_BYTES - 1) / PAGE_BYTES * PAGE_BYTES; }

}  // namespace

BulkArena::BulkArena(std::size_t bytes, std::size_t huge_bytes) : capacity_(whole_pages(bytes)) {
    huge_ = std::min(huge_bytes / HUGE_PAGE_BYTES * HUGE_PAGE_BYTES, capacity_ / HUGE_PAGE_BYTES * HUGE_PAGE_BYTES);
}

BulkArena::~BulkArena() {
#if defined(__linux__) && defined(MAP_POPULATE)
    if (mapping_ != nullptr) munmap(mapping_, mapped_);
#endif
}

bool BulkArena::map() {
#if defined(__linux__) && defined(MAP_POPULATE)
    // Address space only: pages become present as pieces are handed out.
    // Huge pages must start on a boundary of their size: with them, map one
    // more and use the aligned part.
    const std::size_t slack = huge_ > 0 ? HUGE_PAGE_BYTES : 0;
    void* p = mmap(nullptr, capacity_ + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                   -1, 0);
    if (p == MAP_FAILED) return false;
    mapping_ = p;
    mapped_ = capacity_ + slack;
    std::size_t offset = 0;
    if (slack > 0) offset = (HUGE_PAGE_BYTES - reinterpret_cast<std::uintptr_t>(p) % HUGE_PAGE_BYTES) % HUGE_PAGE_BYTES;
    base_ = static_cast<char*>(p) + offset;
#if defined(MADV_HUGEPAGE)
    if (huge_ > 0) madvise(base_, huge_, MADV_HUGEPAGE);
#endif
#if defined(MADV_POPULATE_WRITE)
    // The huge pages at once: the note touches most of them.
    if (huge_ > 0 && madvise(base_, huge_, MADV_POPULATE_WRITE) == 0) present_ = huge_;
#endif
#if defined(MADV_NOHUGEPAGE)
    // Where the system hands out huge pages unasked, a small piece of the
    // rest would bring 2 MiB into memory.
    if (capacity_ > huge_) madvise(base_ + huge_, capacity_ - huge_, MADV_NOHUGEPAGE);
#endif
    return true;
#else
    return false;
#endif
}

BulkDoubles BulkArena::take_zeroed(std::size_t count, Presence presence) {
    constexpr std::size_t ALIGNMENT = 64;
    if (count <= (capacity_ - used_) / sizeof(double) && !failed_) {
        if (base_ == nullptr && !map()) failed_ = true;
        if (base_ != nullptr) {
            // Fresh pages, never handed out before: zero.
            char* piece = base_ + used_;
            const std::size_t bytes = (count * sizeof(double) + ALIGNMENT - 1) / ALIGNMENT * ALIGNMENT;
            used_ = std::min(capacity_, used_ + bytes);
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
            const std::size_t end = whole_pages(used_);
            if (presence == Presence::now && end > present_) {
                // The pages the piece lies on that are not present yet; a
                // kernel without MADV_POPULATE_WRITE brings them one fault
                // at a time.
                const std::size_t first = std::max(present_, (used_ - bytes) / PAGE_BYTES * PAGE_BYTES);
                madvise(base_ + first, end - first, MADV_POPULATE_WRITE);
                present_ = end;
            }
#else
            (void)presence;
#endif
            return BulkDoubles(reinterpret_cast<double*>(piece), BulkDelete{0, true});
        }
    }
    return allocate_bulk_zeroed(count, presence);
}

BulkDoubles allocate_bulk_zeroed(std::size_t count, BulkArena* arena, Presence presence) {
    return arena != nullptr ? arena->take_zeroed(count, presence) : allocate_bulk_zeroed(count, presence);
}

}  // namespace qern
