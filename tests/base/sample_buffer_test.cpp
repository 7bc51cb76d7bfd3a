#include <gtest/gtest.h>

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

}  // namespace
}  // namespace qern
