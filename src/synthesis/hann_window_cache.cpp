#include "synthesis/hann_window_cache.h"

#include <new>
#include <utility>

#include "dsp/kernels.h"

namespace qern {

const double* hann_window(HannWindowCache& cache, int n) {
    if (n < 1) return nullptr;
    // Newest first: consecutive grains mostly share their length.
    for (auto it = cache.entries.rbegin(); it != cache.entries.rend(); ++it) {
        if (it->length == n) return it->weights.get();
    }
    const std::size_t length = static_cast<std::size_t>(n);
    if (length > HANN_CACHE_MAX_VALUES) return nullptr;
    if (cache.values + length > HANN_CACHE_MAX_VALUES) {
        cache.entries.clear();
        cache.values = 0;
    }
    std::unique_ptr<double[]> weights(new (std::nothrow) double[length]);
    if (!weights) return nullptr;
    try {
        cache.entries.push_back(HannWindowCache::Entry{n, std::move(weights)});
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    cache.values += length;
    double* added = cache.entries.back().weights.get();
    hann_weights(added, n);
    return added;
}

}  // namespace qern
