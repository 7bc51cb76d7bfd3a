#include "synthesis/hann_window_cache.h"

#include <algorithm>
#include <new>
#include <utility>

#include "dsp/kernels.h"

namespace qern {

const double* hann_window(HannWindowCache& cache, int n, BulkArena* memory) {
    if (n < 1) return nullptr;
    // Newest first: consecutive grains mostly share their length.
    for (auto it = cache.entries.rbegin(); it != cache.entries.rend(); ++it) {
        if (it->length == n) return it->weights;
    }
    const std::size_t length = static_cast<std::size_t>(n);
    if (length > HANN_CACHE_MAX_VALUES) return nullptr;
    if (cache.values + length > HANN_CACHE_MAX_VALUES) cache = HannWindowCache{};
    try {
        cache.entries.reserve(cache.entries.size() + 1);
        if (length > cache.chunk_free) {
            const std::size_t size = std::max(length, HANN_CACHE_CHUNK_VALUES);
            BulkDoubles chunk = allocate_bulk_zeroed(size, memory);
            if (!chunk) return nullptr;
            cache.chunks.push_back(std::move(chunk));
            cache.chunk_next = cache.chunks.back().get();
            cache.chunk_free = size;
        }
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    double* weights = cache.chunk_next;
    cache.chunk_next += length;
    cache.chunk_free -= length;
    cache.values += length;
    cache.entries.push_back(HannWindowCache::Entry{n, weights});
    hann_weights(weights, n);
    return weights;
}

}  // namespace qern
