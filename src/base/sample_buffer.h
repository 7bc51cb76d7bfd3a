// Signal buffers with zero margins on both sides, and views onto them.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <memory>
#include <new>

#include "base/bulk_memory.h"

namespace qern {

// Every signal buffer carries this many zero samples before sample 0 and
// after its last sample, so windows near the ends read zeros instead of
// testing bounds.
constexpr int SAMPLE_MARGIN = 2048;

// A view onto part of a buffer of doubles. Index 0 is `origin`; the valid
// indices are [begin, end), which may include negative indices reaching into
// a margin. Views do not own memory. Bounds are asserted in debug builds.
struct SampleSpan {
    double* origin = nullptr;
    int begin = 0;
    int end = 0;

    double& operator[](int i) const {
        assert(origin != nullptr && i >= begin && i < end);
        return origin[i];
    }
    // The same memory with index 0 moved to `offset`.
    SampleSpan shifted(int offset) const {
        return SampleSpan{origin + offset, begin - offset, end - offset};
    }
    bool empty() const { return origin == nullptr; }
};

// Samples [first, last) of a signal.
struct SampleRange {
    int first = 0;
    int last = 0;
};

// The form of every signal a run holds: `count` samples with
// SAMPLE_MARGIN zero values before sample 0 and after the last sample,
// all zero when allocated. Owns its memory.
class SampleBuffer {
public:
    SampleBuffer() = default;

    // The bytes a buffer of `count` samples takes, margins included.
    static std::size_t bytes_for(std::size_t count) { return (count + 2 * SAMPLE_MARGIN) * sizeof(double); }

    // A zeroed buffer of `count` samples plus margins; empty() on failure
    // (negative count or no memory).
    static SampleBuffer allocate(int count) {
        SampleBuffer b;
        if (count < 0) return b;
        const std::size_t total = static_cast<std::size_t>(count) + 2 * SAMPLE_MARGIN;
        b.storage_ = BulkDoubles(new (std::nothrow) double[total], BulkDelete{});
        if (!b.storage_) return b;
        make_present(b.storage_.get(), total * sizeof(double));
        std::fill(b.storage_.get(), b.storage_.get() + total, 0.0);
        b.count_ = count;
        return b;
    }
    // The same, its pages taken in bulk (base/bulk_memory.h): for the large
    // buffers of a single note, not for a process that reuses its heap.
    static SampleBuffer allocate_in_bulk(int count, Presence presence = Presence::now) {
        return allocate_in(nullptr, count, presence);
    }
    // The same from a note's arena when given (it must outlive the buffer).
    static SampleBuffer allocate_in(BulkArena* arena, int count, Presence presence = Presence::now) {
        SampleBuffer b;
        if (count < 0) return b;
        const std::size_t total = static_cast<std::size_t>(count) + 2 * SAMPLE_MARGIN;
        b.storage_ = allocate_bulk_zeroed(total, arena, presence);
        if (b.storage_) b.count_ = count;
        return b;
    }

    bool empty() const { return storage_ == nullptr; }
    int count() const { return count_; }
    // Sample 0; the margins lie at negative indices and at count() and beyond.
    double* data() { return storage_ ? storage_.get() + SAMPLE_MARGIN : nullptr; }
    const double* data() const { return storage_ ? storage_.get() + SAMPLE_MARGIN : nullptr; }
    // The whole allocation, margins included: [-SAMPLE_MARGIN, count + SAMPLE_MARGIN).
    SampleSpan span() {
        return SampleSpan{data(), -SAMPLE_MARGIN, count_ + SAMPLE_MARGIN};
    }
    double& operator[](int i) { return span()[i]; }
    void reset() {
        storage_.reset();
        count_ = 0;
    }

private:
    friend SampleSpan read_only_span(const SampleBuffer& buffer);
    BulkDoubles storage_;
    int count_ = 0;
};

// The whole allocation of `buffer` as a view, for kernels that only read
// through it (SampleSpan has no read-only form); an empty view without
// samples.
inline SampleSpan read_only_span(const SampleBuffer& buffer) {
    if (buffer.empty()) return SampleSpan{};
    return SampleSpan{buffer.storage_.get() + SAMPLE_MARGIN, -SAMPLE_MARGIN,
                      buffer.count_ + SAMPLE_MARGIN};
}

}  // namespace qern
