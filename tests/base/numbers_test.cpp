#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "base/numbers.h"

namespace qern {
namespace {

TEST(Numbers, LeadingIntegersAndReals) {
    EXPECT_EQ(read_leading_int("  -42abc"), -42);
    EXPECT_EQ(read_leading_int("+7"), 7);
    EXPECT_EQ(read_leading_int("x1"), 0);
    EXPECT_EQ(read_leading_int(""), 0);
    EXPECT_EQ(read_leading_int("2147483647"), INT_MAX);
    EXPECT_EQ(read_leading_int("2147483648"), INT_MAX);
    EXPECT_EQ(read_leading_int("-2147483648"), INT_MIN);
    EXPECT_EQ(read_leading_int("-99999999999999999999999"), INT_MIN);
    EXPECT_EQ(read_leading_real(" 100.5ms"), 100.5);
    EXPECT_EQ(read_leading_real("-.5"), -0.5);
    EXPECT_EQ(read_leading_real("5."), 5.0);
    EXPECT_EQ(read_leading_real("1e3x"), 1000.0);
    EXPECT_EQ(read_leading_real("2e"), 2.0);
    EXPECT_EQ(read_leading_real("2e+"), 2.0);
    EXPECT_EQ(read_leading_real("."), 0.0);
    EXPECT_EQ(read_leading_real("inf"), 0.0);
    EXPECT_EQ(read_leading_real("0x1p3"), 0.0);
    EXPECT_TRUE(std::isinf(read_leading_real("1e999")));
    EXPECT_EQ(truncate_to_int(-1.9), -1);
    EXPECT_EQ(truncate_to_int(2147483647.9), INT_MAX);
    EXPECT_EQ(truncate_to_int(2147483648.0), INT_MAX);
    EXPECT_EQ(truncate_to_int(-2147483648.9), INT_MIN);
    EXPECT_EQ(truncate_to_int(-1e300), INT_MIN);
    EXPECT_EQ(truncate_to_int(std::nan("")), 0);
}

}  // namespace
}  // namespace qern
