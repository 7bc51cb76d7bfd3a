#include <gtest/gtest.h>

#include <utility>

#include "base/sample_buffer.h"

namespace qern {
namespace {

TEST(SampleBuffer, AllocatesZeroedMargins) {
    SampleBuffer b = SampleBuffer::allocate(10);
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(b.count(), 10);
    for (int i = -SAMPLE_MARGIN; i < 10 + SAMPLE_MARGIN; ++i) EXPECT_EQ(b[i], 0.0);
    EXPECT_TRUE(SampleBuffer::allocate(-1).empty());
}

// Bulk buffers, below and above the size taken from the system in one step:
// zero throughout, writable to their last sample, freed as they were taken
// (the sanitizer build checks the last).
TEST(SampleBuffer, BulkBuffersOfEverySizeAreZeroAndWhollyUsable) {
    for (const int count : {0, 10, 4000, 200000}) {
        SampleBuffer b = SampleBuffer::allocate_in_bulk(count);
        ASSERT_FALSE(b.empty()) << count;
        ASSERT_EQ(b.count(), count);
        double sum = 0.0;
        for (int i = -SAMPLE_MARGIN; i < count + SAMPLE_MARGIN; ++i) sum += b[i] * b[i];
        EXPECT_EQ(sum, 0.0) << count;
        b[-SAMPLE_MARGIN] = 1.0;
        b[count + SAMPLE_MARGIN - 1] = 2.0;
        SampleBuffer moved = std::move(b);
        EXPECT_EQ(moved[count + SAMPLE_MARGIN - 1], 2.0);
    }
    EXPECT_TRUE(SampleBuffer::allocate_in_bulk(-1).empty());
    EXPECT_FALSE(allocate_bulk_zeroed(1 << 20) == nullptr);
}

}  // namespace
}  // namespace qern
