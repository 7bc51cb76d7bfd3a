#include "synthesis/hann_window_cache.h"

#include <new>

#include "dsp/kernels.h"

namespace qern {

const double* hann_window(HannWindowCache& cache, int n) {
    if (n < 1) return nullptr;
    // Newest first: consecutive grains mostly share their length.
    for (auto it = cache.entries.rbegin(); it != cache.entries.rend(); ++it) {
        if (it->length == n) return cache.weights.data() + it->offset;
    }
    const std::size_t length = static_cast<std::size_t>(n);
    if (length > HANN_CACHE_MAX_VALUES) return nullptr;
    if (cache.weights.size() + length > HANN_CACHE_MAX_VALUES) {
        cache.entries.clear();
        cache.weights.clear();
    }
    try {
        const std::size_t offset = cache.weights.size();
        cache.weights.resize(offset + length);
        cache.entries.push_back(HannWindowCache::Entry{n, offset});
    } catch (const std::bad_alloc&) {
        cache.entries.clear();
        cache.weights.clear();
        return nullptr;
    }
    const HannWindowCache::Entry& added = cache.entries.back();
    double* weights = cache.weights.data() + added.offset;
    hann_weights(weights, n);
    return weights;
}

}  // namespace qern
