// Large buffers whose pages are made present in one step. A fresh page
// otherwise costs a fault when it is first touched, one per 4 KiB; on
// virtualised machines such a fault costs as much as computing hundreds of
// samples, and a note touches hundreds of pages. Where the system can map
// and populate memory at once (Linux), buffers from 64 KiB up are taken that
// way; elsewhere, and when mapping fails, they come from the heap.
#pragma once

#include <cstddef>
#include <memory>

namespace qern {

// Returns a bulk allocation: unmaps what was mapped, deletes what came from
// the heap, leaves a piece of a BulkArena to the arena.
struct BulkDelete {
    std::size_t mapped_bytes = 0;  // 0: from the heap
    bool in_arena = false;
    void operator()(double* p) const;
};

using BulkDoubles = std::unique_ptr<double[], BulkDelete>;

// `count` doubles, all 0.0, present in memory; empty on failure.
BulkDoubles allocate_bulk_zeroed(std::size_t count);

// Makes the whole 4 KiB pages inside [p, p + bytes) present at once where
// the system can (Linux), for heap memory about to be written throughout:
// one call instead of a fault per page. Nothing below 64 KiB, elsewhere, or
// where the pages are present already.
void make_present(void* p, std::size_t bytes);

// The working memory of one note's synthesis (its sinc weights and Hann
// windows), mapped as one stretch the first time a piece is wanted and
// handed out in pieces, in order; all of it is freed with the arena, which
// must outlive its pieces. On Linux the stretch is asked for in 2 MiB pages
// (transparent huge pages): one fault and one zeroing for all of it, where
// a virtualised machine pays a fault for every 4 KiB page it touches.
// Elsewhere, and when mapping fails, every piece is a bulk allocation of
// its own.
class BulkArena {
public:
    // Room for `bytes` (rounded up to whole 2 MiB pages); nothing is
    // mapped yet.
    explicit BulkArena(std::size_t bytes);
    ~BulkArena();
    BulkArena(const BulkArena&) = delete;
    BulkArena& operator=(const BulkArena&) = delete;

    // `count` doubles, all 0.0: from the arena while it has room (64-byte
    // aligned), else allocate_bulk_zeroed(count). Empty on failure.
    BulkDoubles take_zeroed(std::size_t count);

    // Bytes handed out from the arena so far.
    std::size_t used() const { return used_; }

private:
    bool map();

    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
    char* base_ = nullptr;      // the aligned stretch; nullptr until mapped
    void* mapping_ = nullptr;   // what was mapped (base_ with its alignment slack)
    std::size_t mapped_ = 0;
    bool failed_ = false;       // mapping was tried and failed
};

// take_zeroed from `arena` when there is one, else allocate_bulk_zeroed.
BulkDoubles allocate_bulk_zeroed(std::size_t count, BulkArena* arena);

// The page size BulkArena asks for.
inline constexpr std::size_t ARENA_PAGE_BYTES = std::size_t{2} << 20;

}  // namespace qern
