// Signal buffers with zero margins on both sides, and views onto them.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

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

// `ranges` clamped to [0, count), the empty ones dropped, in increasing
// order, those that overlap or touch joined into one (in place: nothing
// is allocated).
inline std::vector<SampleRange> merged_ranges(std::vector<SampleRange> ranges, int count) {
    std::sort(ranges.begin(), ranges.end(),
              [](const SampleRange& a, const SampleRange& b) { return a.first < b.first; });
    std::size_t kept = 0;
    for (SampleRange r : ranges) {
        r.first = std::clamp(r.first, 0, count);
        r.last = std::clamp(r.last, 0, count);
        if (r.first >= r.last) continue;
        if (kept > 0 && r.first <= ranges[kept - 1].last) {
            ranges[kept - 1].last = std::max(ranges[kept - 1].last, r.last);
        } else {
            ranges[kept++] = r;
        }
    }
    ranges.resize(kept);
    return ranges;
}

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

// Some stretches of a signal of `count()` samples, each in memory of its
// own piece, the samples between them not kept: what a note decodes of a
// recording it runs through faster than it was sung.
class SampleStretches {
public:
    SampleStretches() = default;

    // Zeroed room for the samples of `ranges` (in increasing order, disjoint,
    // inside [0, count)), from `arena` when given (it must outlive the
    // stretches); empty() on failure.
    static SampleStretches allocate_in(BulkArena* arena, std::vector<SampleRange> ranges, int count) {
        SampleStretches s;
        std::size_t total = 0;
        try {
            s.start_.reserve(ranges.size());
            for (const SampleRange r : ranges) {
                assert(r.first < r.last && r.first >= 0 && r.last <= count);
                s.start_.push_back(total);
                total += static_cast<std::size_t>(r.last - r.first);
            }
        } catch (const std::bad_alloc&) {
            return SampleStretches{};
        }
        s.storage_ = allocate_bulk_zeroed(std::max<std::size_t>(total, 1), arena, Presence::now);
        if (!s.storage_) return SampleStretches{};
        s.ranges_ = std::move(ranges);
        s.count_ = count;
        return s;
    }
    // The bytes stretches of `samples` samples in all take.
    static std::size_t bytes_for(std::size_t samples) { return std::max<std::size_t>(samples, 1) * sizeof(double); }

    bool empty() const { return storage_ == nullptr; }
    int count() const { return count_; }
    const std::vector<SampleRange>& ranges() const { return ranges_; }
    // Where the samples of stretch k lie, sample ranges()[k].first first.
    double* stretch_data(std::size_t k) { return storage_.get() + start_[k]; }
    // The first element of the memory every stretch lies in.
    const double* base() const { return storage_.get(); }

    // A view of the stretch that holds the samples of [first, last) that lie
    // inside [0, count()): indexed by sample number, valid over that stretch
    // alone. When none of them lies inside, a view valid nowhere.
    SampleSpan view_holding(int first, int last) const {
        first = std::max(first, 0);
        last = std::min(last, count_);
        const SampleSpan nowhere{storage_.get(), 0, 0};
        if (first >= last) return nowhere;
        // The last stretch that starts at or before `first`.
        const auto after = std::upper_bound(ranges_.begin(), ranges_.end(), first,
                                            [](int i, const SampleRange& r) { return i < r.first; });
        if (after == ranges_.begin()) return nowhere;
        const std::size_t k = static_cast<std::size_t>(after - ranges_.begin()) - 1;
        const SampleRange r = ranges_[k];
        assert(last <= r.last);
        if (last > r.last) return nowhere;
        return SampleSpan{storage_.get() + start_[k] - r.first, r.first, r.last};
    }

private:
    std::vector<SampleRange> ranges_;
    std::vector<std::size_t> start_;  // the offset of each stretch in storage_
    BulkDoubles storage_;
    int count_ = 0;
};

// Where grains read a signal: a whole buffer's view, or stretches of it.
struct SampleSource {
    SampleSpan whole;
    const SampleStretches* stretches = nullptr;

    // A view holding every sample of [first, last) the signal has (reads
    // outside it are left out, as outside any view).
    SampleSpan view_holding(int first, int last) const {
        return stretches != nullptr ? stretches->view_holding(first, last) : whole;
    }
    // The memory every such view lies in begins here.
    const double* base() const { return stretches != nullptr ? stretches->base() : whole.origin; }
};

}  // namespace qern
