// The Hann window cache of the synthesis: the same weights as the kernel
// that applies a window, within its memory bound.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "dsp/kernels.h"
#include "support/values.h"
#include "synthesis/hann_window_cache.h"

namespace qern {
namespace {

using test::random_values;
using test::same_bits;

TEST(HannWindowCache, WeightsGiveApplyHannWindowBitForBit) {
    HannWindowCache cache;
    // Grain lengths from one sample to the longest window, some of them
    // asked for again after others.
    for (const int n : {1, 2, 3, 4, 599, 600, 3231, 600, 1, 4}) {
        const std::vector<double> values = random_values(static_cast<std::size_t>(n), 51, 20000.0);
        std::vector<double> direct = values;
        std::vector<double> cached = values;
        apply_hann_window(SampleSpan{direct.data(), 0, n}, n);
        const double* weights = hann_window(cache, n);
        ASSERT_NE(weights, nullptr) << n;
        apply_window_weights(SampleSpan{cached.data(), 0, n}, weights, n);
        ASSERT_TRUE(same_bits(direct, cached)) << n;
    }
    EXPECT_EQ(cache.entries.size(), 7u);
    EXPECT_EQ(hann_window(cache, 0), nullptr);
    EXPECT_EQ(hann_window(cache, -3), nullptr);
}

// Windows are handed out as pointers into the cache's chunks: one handed
// out earlier stays valid and unchanged while later ones fill new chunks
// (until the cache starts afresh), and a window longer than a chunk fits.
TEST(HannWindowCache, EarlierWindowsStayInPlaceAsChunksAreAdded) {
    HannWindowCache cache;
    std::vector<std::pair<int, const double*>> handed;
    for (const int n : {5000, 3100, 100, 9000, 2, 4097, 7000}) {
        const double* weights = hann_window(cache, n);
        ASSERT_NE(weights, nullptr) << n;
        handed.emplace_back(n, weights);
    }
    EXPECT_GE(cache.chunks.size(), 4u);
    for (const auto& [n, weights] : handed) {
        std::vector<double> expected(static_cast<std::size_t>(n));
        hann_weights(expected.data(), n);
        EXPECT_EQ(hann_window(cache, n), weights) << n;
        EXPECT_EQ(std::memcmp(weights, expected.data(), expected.size() * sizeof(double)), 0) << n;
    }
}

TEST(HannWindowCache, StaysWithinItsBoundAndStartsAfreshWhenFull) {
    HannWindowCache cache;
    const int n = 3000;
    for (int length = n; length < n + 200; ++length) {
        const double* weights = hann_window(cache, length);
        ASSERT_NE(weights, nullptr);
        ASSERT_LE(cache.values, HANN_CACHE_MAX_VALUES);
        // Still the right weights after any restart: the middle one is 1
        // for even lengths, the first 0.
        EXPECT_EQ(weights[0], 0.0);
        if (length % 2 == 0) {
            EXPECT_EQ(weights[length / 2], 1.0) << length;
        }
    }
    EXPECT_LT(cache.entries.size(), 200u);
    EXPECT_EQ(hann_window(cache, static_cast<int>(HANN_CACHE_MAX_VALUES) + 1), nullptr);
}

}  // namespace
}  // namespace qern
