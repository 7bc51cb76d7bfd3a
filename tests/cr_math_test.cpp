// The platform-independent sin, cos and pow: correctly rounded values where
// the C libraries of Linux and of the Windows build disagree, exact cases,
// and the special values.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "dsp/cr_math.h"

namespace {

using qern::cr_cos;
using qern::cr_pow;
using qern::cr_sin;

// Bit-exact comparison (distinguishes -0.0 from 0.0).
::testing::AssertionResult same_bits(double got, double expected) {
    if (std::signbit(got) == std::signbit(expected) && got == expected) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << std::hexfloat << got << " instead of " << expected;
}

// Correctly rounded results (computed to 300 bits), for arguments on which
// one of glibc and the mingw-w64 runtime is a unit in the last place off.
TEST(CorrectlyRoundedMath, SineWhereTheLibrariesDisagree) {
    EXPECT_TRUE(same_bits(cr_sin(-0x1.534ac0f19860cp-3), -0x1.51bdf8597c5f1p-3));
    EXPECT_TRUE(same_bits(cr_sin(-0x1.f0c3abad938b5p+1), 0x1.59001d5f723dfp-1));
    EXPECT_TRUE(same_bits(cr_sin(-0x1.081712eb7461dp+2), 0x1.aa9547a2cb98bp-1));
    EXPECT_TRUE(same_bits(cr_sin(-0x1.63bc7ce33afc4p+2), 0x1.5373725843921p-1));
    // Near the zeros: sin of the doubles nearest to -pi and 2 pi.
    EXPECT_TRUE(same_bits(cr_sin(-0x1.921fb54442d18p+1), -0x1.1a62633145c07p-53));
    EXPECT_TRUE(same_bits(cr_sin(0x1.921fb54442d18p+2), -0x1.1a62633145c07p-52));
}

TEST(CorrectlyRoundedMath, CosineWhereTheLibrariesDisagree) {
    EXPECT_TRUE(same_bits(cr_cos(-0x1.537d04e840e92p+0), 0x1.f0197b7fb2593p-3));
    EXPECT_TRUE(same_bits(cr_cos(-0x1.aa465cc73c54dp+0), -0x1.81d7ccbbd1fe1p-4));
    EXPECT_TRUE(same_bits(cr_cos(-0x1.35f010662cc02p+2), 0x1.0a4784ab8bf25p-3));
    EXPECT_TRUE(same_bits(cr_cos(-0x1.921fb54442d18p+0), 0x1.1a62633145c07p-54));
    EXPECT_TRUE(same_bits(cr_cos(0x1.2d97c7f3321d2p+2), -0x1.a79394c9e8a0ap-53));
    EXPECT_TRUE(same_bits(cr_cos(-0x1.2d97c7f3321d2p+2), -0x1.a79394c9e8a0ap-53));
}

TEST(CorrectlyRoundedMath, PowerWhereTheLibrariesDisagree) {
    EXPECT_TRUE(same_bits(cr_pow(2.0, 0x1.94962fc962fc9p+1), 0x1.1e30d64b89940p+3));
    EXPECT_TRUE(same_bits(cr_pow(2.0, 0x1.6c5f92c5f92c6p+0), 0x1.574d3e6d8df43p+1));
    EXPECT_TRUE(same_bits(cr_pow(2.0, 0x1.4666666666666p-1), 0x1.8e3dd74ccbe7ap+0));
    EXPECT_TRUE(same_bits(cr_pow(2.0, 0x1.b17e4b17e4b18p-2), 0x1.574d3e6d8df43p+0));
    EXPECT_TRUE(same_bits(cr_pow(2.0, 0x1.f92c5f92c5f93p-3), 0x1.2fbc03e6dba1ep+0));
    EXPECT_TRUE(same_bits(cr_pow(2.0, -0x1.2740da740da74p-1), 0x1.574d3e6d8df43p-1));
}

TEST(CorrectlyRoundedMath, ExactAndSpecialSineCosine) {
    EXPECT_TRUE(same_bits(cr_sin(0.0), 0.0));
    EXPECT_TRUE(same_bits(cr_sin(-0.0), -0.0));
    EXPECT_TRUE(same_bits(cr_cos(0.0), 1.0));
    EXPECT_TRUE(same_bits(cr_cos(-0.0), 1.0));
    EXPECT_TRUE(same_bits(cr_sin(0x1p-30), 0x1p-30));
    EXPECT_TRUE(same_bits(cr_cos(0x1p-30), 1.0));
    // The doubles nearest to pi/2 and pi.
    EXPECT_TRUE(same_bits(cr_sin(1.5707963267948966), 1.0));
    EXPECT_TRUE(same_bits(cr_cos(3.141592653589793), -1.0));
    EXPECT_TRUE(same_bits(cr_sin(3.141592653589793), 0x1.1a62633145c07p-53));
    EXPECT_TRUE(std::isnan(cr_sin(std::numeric_limits<double>::infinity())));
    EXPECT_TRUE(std::isnan(cr_cos(std::numeric_limits<double>::quiet_NaN())));
}

TEST(CorrectlyRoundedMath, SineAndCosineAreOddEvenAndOnTheUnitCircle) {
    // Over the arguments of a twiddle table and of the analysis kernels,
    // in every quadrant. (The C library is no reference here: the x87
    // code of the Windows runtime is far off near the zeros.)
    for (int k = 0; k < 4096; ++k) {
        const double x = (k * 6.283185307179586) / 97.0 + k * 1e-3;
        const double s = cr_sin(x);
        const double c = cr_cos(x);
        ASSERT_TRUE(same_bits(cr_sin(-x), -s)) << x;
        ASSERT_TRUE(same_bits(cr_cos(-x), c)) << x;
        ASSERT_NEAR(s * s + c * c, 1.0, 4e-16) << x;
        // cos x = sin(x + pi/2) up to the rounding of the argument.
        ASSERT_NEAR(cr_sin(x + 1.5707963267948966), c, 1e-13) << x;
    }
}

TEST(CorrectlyRoundedMath, PowerExactCases) {
    for (int k = -60; k <= 60; ++k) {
        ASSERT_TRUE(same_bits(cr_pow(2.0, k), std::ldexp(1.0, k))) << k;
    }
    EXPECT_TRUE(same_bits(cr_pow(10.0, 2.0), 100.0));
    EXPECT_TRUE(same_bits(cr_pow(10.0, -1.0), 0.1));
    EXPECT_TRUE(same_bits(cr_pow(4.0, 0.5), 2.0));
    EXPECT_TRUE(same_bits(cr_pow(2.0, 0.5), 1.4142135623730951));
    EXPECT_TRUE(same_bits(cr_pow(1.0, 1e300), 1.0));
    EXPECT_TRUE(same_bits(cr_pow(0.37, 1.0), 0.37));
    EXPECT_TRUE(same_bits(cr_pow(-2.0, 3.0), -8.0));
    EXPECT_TRUE(same_bits(cr_pow(-2.0, -2.0), 0.25));
    EXPECT_TRUE(same_bits(cr_pow(-3.5, 0.0), 1.0));
    EXPECT_TRUE(std::isnan(cr_pow(-2.0, 0.5)));
    EXPECT_TRUE(same_bits(cr_pow(0.0, 2.0), 0.0));
    EXPECT_TRUE(std::isinf(cr_pow(0.0, -1.0)));
    EXPECT_TRUE(std::isinf(cr_pow(2.0, 2000.0)));
    EXPECT_TRUE(same_bits(cr_pow(2.0, -2000.0), 0.0));
}

}  // namespace
