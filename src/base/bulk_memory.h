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
// the heap.
struct BulkDelete {
    std::size_t mapped_bytes = 0;  // 0: from the heap
    void operator()(double* p) const;
};

using BulkDoubles = std::unique_ptr<double[], BulkDelete>;

// `count` doubles, all 0.0, present in memory; empty on failure.
BulkDoubles allocate_bulk_zeroed(std::size_t count);

}  // namespace qern
