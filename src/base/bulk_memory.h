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

// Whether pages are made present when memory is taken, or come as they are
// first touched (for a buffer of which only a part may be used).
enum class Presence { now, on_touch };

// `count` doubles, all 0.0, present in memory unless asked otherwise;
// empty on failure.
BulkDoubles allocate_bulk_zeroed(std::size_t count, Presence presence = Presence::now);

// Makes the whole 4 KiB pages inside [p, p + bytes) present at once where
// the system can (Linux), for heap memory about to be written throughout:
// one call instead of a fault per page. Nothing below 64 KiB, elsewhere, or
// where the pages are present already.
void make_present(void* p, std::size_t bytes);

// The working memory of one note (its input and output samples, sinc
// weights, Hann windows and grains), handed out in pieces, in order, from
// one stretch of address space; all of it is freed with the arena, which
// must outlive its pieces. On Linux the stretch is reserved at the first
// piece and its pages are made present as pieces are handed out; it is
// unmapped in one call at the end (on virtualised machines each unmapping
// of a small buffer costs a flush per page). The first `huge_bytes` (whole
// 2 MiB pages) are asked for in transparent huge pages: one fault and one
// zeroing for 2 MiB where 4 KiB pages cost a fault each, worth it when the
// note touches most of them. Elsewhere, and when mapping fails, every piece
// is a bulk allocation of its own.
class BulkArena {
public:
    // Room for `bytes` (rounded up to whole 4 KiB pages), the first
    // `huge_bytes` of it (rounded down to whole 2 MiB pages, at most all of
    // it) in huge pages; nothing is mapped yet, and only the pages handed
    // out take memory.
    explicit BulkArena(std::size_t bytes, std::size_t huge_bytes = 0);
    ~BulkArena();
    BulkArena(const BulkArena&) = delete;
    BulkArena& operator=(const BulkArena&) = delete;

    // `count` doubles, all 0.0: from the arena while it has room (64-byte
    // aligned), else allocate_bulk_zeroed(count, presence). Empty on failure.
    BulkDoubles take_zeroed(std::size_t count, Presence presence = Presence::now);

    // Bytes handed out from the arena so far.
    std::size_t used() const { return used_; }
    // Bytes of the arena in huge pages.
    std::size_t huge_bytes() const { return huge_; }

private:
    bool map();

    std::size_t capacity_ = 0;
    std::size_t huge_ = 0;
    std::size_t used_ = 0;
    std::size_t present_ = 0;   // the pages below it were made present
    char* base_ = nullptr;      // the stretch; nullptr until mapped
    void* mapping_ = nullptr;   // what was mapped (base_ with its alignment slack)
    std::size_t mapped_ = 0;
    bool failed_ = false;       // mapping was tried and failed
};

// take_zeroed from `arena` when there is one, else allocate_bulk_zeroed.
BulkDoubles allocate_bulk_zeroed(std::size_t count, BulkArena* arena, Presence presence = Presence::now);

// The size of a huge page.
inline constexpr std::size_t HUGE_PAGE_BYTES = std::size_t{2} << 20;

// The address space a note's BulkArena reserves beside its samples: more
// than the largest sinc table, a full set of Hann windows and the grains of
// a note need together.
inline constexpr std::size_t NOTE_SCRATCH_BYTES = std::size_t{16} << 20;

}  // namespace qern
