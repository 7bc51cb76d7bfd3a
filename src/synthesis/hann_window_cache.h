// Hann windows of the grain lengths one note uses, each computed once: the
// grains of a note come in a few lengths, and a window's cosines cost more
// than the rest of a grain.
#pragma once

#include <cstddef>
#include <vector>

#include "base/bulk_memory.h"

namespace qern {

// Weights already computed, by window length. Owned by one synthesis call;
// its memory is bounded (HANN_CACHE_MAX_VALUES): when full it starts
// afresh. Windows are written once, one after the other, into chunks taken
// in bulk (base/bulk_memory.h): the cache never copies, and its pages come
// present.
struct HannWindowCache {
    struct Entry {
        int length = 0;
        const double* weights = nullptr;
    };
    std::vector<Entry> entries;
    std::vector<BulkDoubles> chunks;
    double* chunk_next = nullptr;  // the free end of the last chunk
    std::size_t chunk_free = 0;    // doubles there
    std::size_t values = 0;      // weights held, over all entries
};

// Doubles per chunk of the cache (64 KiB); a longer window gets a chunk of
// its own length.
inline constexpr std::size_t HANN_CACHE_CHUNK_VALUES = 8192;

// Doubles the cache keeps at most (2 MiB).
inline constexpr std::size_t HANN_CACHE_MAX_VALUES = 262144;

// The weights of the periodic Hann window of n samples (n >= 1), exactly as
// hann_weights (dsp/kernels.h) computes them, from the cache or computed
// and added to it, its chunks taken from `memory` when given. Valid until
// the next call on the same cache. nullptr when n < 1 or the memory cannot
// be had (the caller then applies the window itself).
const double* hann_window(HannWindowCache& cache, int n, BulkArena* memory = nullptr);

}  // namespace qern
