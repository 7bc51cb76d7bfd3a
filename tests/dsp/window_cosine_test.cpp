// The cosine of the Hann windows: accurate, the same on every vector unit,
// and as good as the C library's wherever a grain window can fall.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "dsp/sinc.h"
#include "dsp/vector_kernels.h"
#include "dsp/vector_unit.h"
#include "support/vector_units.h"

namespace qern {
namespace {

using test::available_units;

// Every window length a grain can have (2 P f up to trunc(2 * 511 *
// 10^0.5) = 3231) and a little beyond, every argument i 2 pi / n: within
// one unit in the last place of cos taken in long double (two where long
// double is no wider than double: then the reference has its own error), or
// within 1e-19 where the cosine is that near zero (the long double cos of
// mingw's library is off by about 1e-21 at pi/2; a weight cannot see it).
// How often the weight differs (by one unit) from the one the C library's
// cos gives is printed: about 1 in 120 with glibc, most of them where the
// remainder goes through the sine. Notes do not move by that: a weight one
// unit off changes a grain sample by about 1e-16 of itself.
TEST(WindowCosine, WithinAnUlpOfTheTrueCosineAtEveryWindowArgument) {
    const double allowed = LDBL_MANT_DIG > DBL_MANT_DIG ? 1.0 : 2.0;
    long long arguments = 0;
    long long weights_unlike_libc = 0;
    double worst = 0.0;
    for (int n = 1; n <= 3300; ++n) {
        const double step = TWO_PI / n;
        for (int i = 0; i < n; ++i) {
            const double x = i * step;
            const double c = window_cosine(x);
            const long double exact = std::cos(static_cast<long double>(x));
            const double ulp = std::nextafter(std::fabs(c), 2.0) - std::fabs(c);
            const double difference = static_cast<double>(std::fabs(static_cast<long double>(c) - exact));
            const double error = difference / ulp;
            if (difference > 1e-19 && error > worst) worst = error;
            ASSERT_TRUE(error <= allowed || difference <= 1e-19) << "n " << n << " i " << i << " error " << error;
            ++arguments;
            if (0.5 - 0.5 * c != 0.5 - 0.5 * std::cos(x)) ++weights_unlike_libc;
        }
    }
    std::printf("%lld arguments, worst %.3f ulp, %lld weights unlike the C library's\n", arguments, worst,
                weights_unlike_libc);
#if defined(__GLIBC__)
    EXPECT_LT(weights_unlike_libc * 50, arguments);
#endif
    EXPECT_EQ(window_cosine(0.0), 1.0);
}

// Every unit gives the weights of the scalar expression bit for bit, for
// lengths that leave every tail a vector can leave.
TEST(WindowCosine, HannWeightsOnEveryUnitEqualTheScalarExpression) {
    for (const VectorUnit unit : available_units()) {
        for (int n = 1; n <= 70; ++n) {
            for (const int length : {n, n + 1000}) {
                std::vector<double> weights(static_cast<std::size_t>(length) + 1, -1.0);
                hann_weights(unit, weights.data(), length);
                const double step = TWO_PI / length;
                for (int i = 0; i < length; ++i) {
                    ASSERT_EQ(weights[i], 0.5 - 0.5 * window_cosine(std::min(i, length - i) * step))
                        << vector_unit_name(unit) << " n " << length << " i " << i;
                }
                EXPECT_EQ(weights[length], -1.0) << "written past the end";
            }
        }
        std::vector<double> untouched(4, -1.0);
        hann_weights(unit, untouched.data(), 0);
        EXPECT_EQ(untouched, std::vector<double>(4, -1.0));
    }
}

}  // namespace
}  // namespace qern
