// Hann windows of the grain lengths one note uses, each computed once: the
// grains of a note come in a few lengths, and a window's cosines cost more
// than the rest of a grain.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace qern {

// Weights already computed, by window length. Owned by one synthesis call;
// its memory is bounded (HANN_CACHE_MAX_VALUES): when full it starts
// afresh. Each window has its own array, written once: the cache never
// copies, and touches no memory beyond the windows themselves.
struct HannWindowCache {
    struct Entry {
        int length = 0;
        std::unique_ptr<double[]> weights;
    };
    std::vector<Entry> entries;
    std::size_t values = 0;  // weights held, over all entries
};

// Doubles the cache keeps at most (2 MiB).
inline constexpr std::size_t HANN_CACHE_MAX_VALUES = 262144;

// The weights of the periodic Hann window of n samples (n >= 1), exactly as
// hann_weights (dsp/kernels.h) computes them, from the cache or computed
// and added to it. Valid until the next call on the same cache. nullptr when
// n < 1 or the memory cannot be had (the caller then applies the window
// itself).
const double* hann_window(HannWindowCache& cache, int n);

}  // namespace qern
