// The analysis's own intermediate signals (the low-passed and high-passed
// copies, the fundamental wave): SampleBuffer's layout, from the heap (so
// that qern-prep's next analysis reuses the memory), with only the margins
// zeroed. Each step writes every sample of its signal before reading it, so
// zero-filling the samples as well would be a pass over memory for nothing.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>

#include "base/bulk_memory.h"
#include "base/sample_buffer.h"

namespace qern {

struct ScratchSignal {
    std::unique_ptr<double[]> storage;
    int count = 0;

    bool empty() const { return storage == nullptr; }
    // [-SAMPLE_MARGIN, count + SAMPLE_MARGIN), as SampleBuffer::span(); an
    // empty view when there is no storage.
    SampleSpan span() const {
        if (!storage) return SampleSpan{};
        return SampleSpan{storage.get() + SAMPLE_MARGIN, -SAMPLE_MARGIN, count + SAMPLE_MARGIN};
    }
};

// `count` samples (left as allocated) with SAMPLE_MARGIN zeros on both
// sides; empty() for a negative count or without memory.
inline ScratchSignal allocate_scratch_signal(int count) {
    ScratchSignal s;
    if (count < 0) return s;
    const std::size_t total = static_cast<std::size_t>(count) + 2 * SAMPLE_MARGIN;
    s.storage.reset(new (std::nothrow) double[total]);
    if (!s.storage) return s;
    make_present(s.storage.get(), total * sizeof(double));
    s.count = count;
    std::fill(s.storage.get(), s.storage.get() + SAMPLE_MARGIN, 0.0);
    std::fill(s.storage.get() + SAMPLE_MARGIN + count, s.storage.get() + total, 0.0);
    return s;
}

}  // namespace qern
