// The vectorised kernels against the plain loops, on every vector unit this
// processor runs: bit for bit, at lengths and lag ranges that do not fill
// whole vectors or groups, and at the limits of their ranges. Inputs live in
// vectors of exactly the reach each kernel states, so that a sanitizer build
// catches any read beyond it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <algorithm>
#include <vector>

#include "dsp/kernels.h"
#include "dsp/reference_kernels.h"
#include "dsp/vector_kernels.h"
#include "dsp/vector_unit.h"
#include "support/values.h"
#include "support/vector_units.h"

namespace qern {
namespace {

using test::available_units;
using test::random_values;
using test::same_bits;

TEST(VectorUnit, BaselineAlwaysAndTheChoiceIsAvailable) {
    EXPECT_TRUE(vector_unit_available(VectorUnit::baseline));
    EXPECT_TRUE(vector_unit_available(best_vector_unit()));
    EXPECT_EQ(best_vector_unit(), best_vector_unit());
    std::printf("vector units run here:");
    for (const VectorUnit unit : available_units()) std::printf(" %s", vector_unit_name(unit));
    std::printf(" (chosen: %s)\n", vector_unit_name(best_vector_unit()));
}

TEST(LaggedProducts, EveryUnitEqualsThePlainLoopOverAllLagRanges) {
    // Loud and quiet frames: the sums span many binades.
    for (const double scale : {30000.0, 1e-3}) {
        const std::vector<double> x = random_values(1024, 11, scale);
        // Full range, single lags at both ends, ranges of every length up
        // to past two groups of the widest unit at odd starts, the narrow
        // range period_at uses, and a range that ends at the limit.
        std::vector<std::pair<int, int>> ranges = {{0, 512}, {0, 0}, {512, 512}, {49, 512}, {505, 510}};
        for (int length = 1; length <= 140; length += 3) ranges.push_back({37, 36 + length});
        for (int first = 440; first <= 512; first += 7) ranges.push_back({first, 512});
        for (const VectorUnit unit : available_units()) {
            for (const auto& [first, last] : ranges) {
                std::vector<double> plain(1024, -1.0);
                std::vector<double> fast(1024, -1.0);
                lagged_products_plain(x.data(), first, last, plain.data());
                lagged_products(unit, x.data(), first, last, fast.data());
                ASSERT_TRUE(same_bits(plain, fast))
                    << vector_unit_name(unit) << " lags " << first << ".." << last << " scale " << scale;
            }
            // An empty range writes nothing.
            std::vector<double> untouched(1024, -1.0);
            lagged_products(unit, x.data(), 300, 299, untouched.data());
            EXPECT_EQ(untouched, std::vector<double>(1024, -1.0)) << vector_unit_name(unit);
        }
    }
}

TEST(LaggedProducts, LagZeroAlongsideEqualsThePlainLoop) {
    for (const double scale : {30000.0, 1e-3}) {
        const std::vector<double> x = random_values(1024, 13, scale);
        // The frame T0 range, ranges that start the first group on each
        // group size, a range at the limit, and none at all (lag 0 alone).
        std::vector<std::pair<int, int>> ranges = {{49, 512}, {1, 512}, {1, 1}, {512, 512}, {300, 299}};
        for (int length = 1; length <= 100; length += 9) ranges.push_back({60, 59 + length});
        for (const VectorUnit unit : available_units()) {
            for (const auto& [first, last] : ranges) {
                std::vector<double> plain(1024, -1.0);
                std::vector<double> fast(1024, -1.0);
                lagged_products_plain(x.data(), 0, 0, plain.data());
                lagged_products_plain(x.data(), first, last, plain.data());
                lagged_products_and_zero(unit, x.data(), first, last, fast.data());
                ASSERT_TRUE(same_bits(plain, fast))
                    << vector_unit_name(unit) << " lags 0 and " << first << ".." << last << " scale " << scale;
            }
        }
    }
}

TEST(LaggedProducts, AutocorrelateOnTheChosenUnitEqualsThePlainLoop) {
    const std::vector<double> x = random_values(1024, 12, 20000.0);
    std::vector<double> frame = x;
    ASSERT_EQ(autocorrelate(0, SampleSpan{frame.data(), 0, 1024}, SampleSpan{}, 0), 0);
    std::vector<double> plain(1024, 0.0);
    lagged_products_plain(x.data(), 0, 512, plain.data());
    EXPECT_TRUE(same_bits(frame, plain));
}

TEST(TappedSums, EveryUnitEqualsThePlainLoop) {
    // Kernel lengths of the shortest and longest periods (4T for T = 50 and
    // 511), one and no tap, and output counts that leave every kind of rest.
    for (const VectorUnit unit : available_units()) {
        for (const int kernel_end : {1, 2, 3, 200, 801, 2044}) {
            const std::vector<double> h = random_values(static_cast<std::size_t>(kernel_end), 21, 1.0);
            for (const int count : {1, 2, 3, 7, 8, 9, 31, 63, 64, 65, 127, 130, 512}) {
                // x[1 - kernel_end .. count - 2], nothing more.
                const int before = kernel_end - 1;
                const std::vector<double> x =
                    random_values(static_cast<std::size_t>(before + std::max(count - 1, 0)), 22, 25000.0);
                std::vector<double> plain(static_cast<std::size_t>(count), -1.0);
                std::vector<double> fast(static_cast<std::size_t>(count), -1.0);
                tapped_sums_plain(h.data(), kernel_end, x.data() + before, plain.data(), count);
                tapped_sums(unit, h.data(), kernel_end, x.data() + before, fast.data(), count);
                ASSERT_TRUE(same_bits(plain, fast))
                    << vector_unit_name(unit) << " kernel " << kernel_end << " count " << count;
                if (kernel_end == 1) {
                    EXPECT_EQ(fast, std::vector<double>(fast.size(), 0.0));
                }
            }
        }
    }
}

TEST(SymmetricTaps, EveryUnitEqualsThePlainLoopAndFirLowpassFollows) {
    const std::vector<double> h = random_values(23, 31, 0.1);
    for (const VectorUnit unit : available_units()) {
        for (const int count : {1, 2, 5, 8, 15, 16, 17, 33, 100, 511, 512}) {
            // x[-22 .. count + 21], nothing more.
            const std::vector<double> x = random_values(static_cast<std::size_t>(count + 44), 32, 30000.0);
            std::vector<double> plain(static_cast<std::size_t>(count), -1.0);
            std::vector<double> fast(static_cast<std::size_t>(count), -1.0);
            symmetric_taps_plain(h.data(), x.data() + 22, plain.data(), count);
            symmetric_taps(unit, h.data(), x.data() + 22, fast.data(), count);
            ASSERT_TRUE(same_bits(plain, fast)) << vector_unit_name(unit) << " count " << count;
        }
    }
    // The low-pass over more than one chunk, with a short last chunk, is
    // the formula of its 45 taps at every output.
    const int count = 1500;
    std::vector<double> in = random_values(count + 44, 33, 30000.0);
    std::vector<double> out(count + 44, 0.0);
    const double cutoff = 900.0 / 44100.0;
    ASSERT_EQ(fir_lowpass(SampleSpan{in.data() + 22, -22, count + 22}, count,
                          SampleSpan{out.data() + 22, -22, count + 22}, cutoff),
              0);
    double taps[23];
    for (int k = 0; k <= 22; ++k) {
        const double window = 0.5 + 0.5 * std::cos(6.283185307179586 * k / 45.0);
        const double d = 6.283185307179586 * cutoff * k;
        taps[k] = window * 2.0 * cutoff * (d == 0.0 ? 1.0 : std::sin(d) / d);
    }
    std::vector<double> expected(count);
    symmetric_taps_plain(taps, in.data() + 22, expected.data(), count);
    EXPECT_TRUE(same_bits(std::vector<double>(out.begin() + 22, out.begin() + 22 + count), expected));
}

TEST(SincResample, OneSinePerSampleStaysWithinRoundingOfOnePerTap) {
    // Every g a host sends, over a grain of the longest and of a short period.
    for (const int period : {511, 57}) {
        const int half = 1700;
        const std::vector<double> values = random_values(2 * half, 41, 32000.0);
        std::vector<double> src = values;
        const SampleSpan source{src.data() + half, -half, half};
        for (int g = -100; g <= 100; g += 7) {
            const double ratio = std::pow(10.0, g / 200.0);
            std::vector<double> plain(2 * half, 0.0);
            std::vector<double> fast(2 * half, 0.0);
            sinc_resample_plain(-period, period, SampleSpan{plain.data() + half, -half, half}, ratio, 0, source);
            sinc_resample(-period, period, SampleSpan{fast.data() + half, -half, half}, ratio, 0, source);
            double worst = 0.0;
            for (std::size_t i = 0; i < plain.size(); ++i) worst = std::max(worst, std::fabs(plain[i] - fast[i]));
            // 31 taps of at most 32000, each sinc off by a few 1e-16.
            EXPECT_LT(worst, 1e-9) << "period " << period << " g " << g;
        }
    }
    // With ratio 1 every tap but the centre one is an exact zero now: the
    // grain is the span itself.
    std::vector<double> src = random_values(400, 42, 1000.0);
    std::vector<double> dst(400, 0.0);
    sinc_resample(-100, 100, SampleSpan{dst.data() + 200, -200, 200}, 1.0, 0, SampleSpan{src.data() + 200, -200, 200});
    for (int i = 100; i < 300; ++i) ASSERT_EQ(dst[static_cast<std::size_t>(i)], src[static_cast<std::size_t>(i)]) << i;
}

}  // namespace
}  // namespace qern

namespace qern {
namespace {

using test::available_units;
using test::random_values;
using test::same_bits;

// The plain loops the output's normalisation took: find_extreme's peak, and
// the gain with its clipping sample by sample.
double plain_peak(const std::vector<double>& x, int count) {
    std::vector<double> copy = x;
    const SampleSpan view{copy.data(), 0, static_cast<int>(copy.size())};
    return std::fabs(copy[static_cast<std::size_t>(find_extreme(0, 0, view, count))]);
}

// Peak and clipping on every unit against the plain loops, at every length
// up to past two of the widest vectors, with a NaN, infinities, -0 and ties
// placed at the front, in the vector part and in the tail.
TEST(Normalisation, PeakAndClippingOnEveryUnitEqualThePlainLoops) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const VectorUnit unit : available_units()) {
        for (int count = 0; count <= 37; ++count) {
            for (int variant = 0; variant < 6; ++variant) {
                std::vector<double> x = random_values(static_cast<std::size_t>(std::max(count, 1)),
                                                      static_cast<unsigned>(count * 7 + variant), 40000.0);
                const std::size_t last = x.size() - 1;
                if (variant == 1) x[0] = nan;
                if (variant == 2) x[last / 2] = nan, x[last] = -inf;
                if (variant == 3) x[0] = -0.0, x[last] = inf;
                if (variant == 4) std::fill(x.begin(), x.end(), -0.0);
                if (variant == 5) x[last / 3] = -x[last / 3] * 10, x[last] = x[last / 3];
                const double peak = peak_magnitude(unit, x.data(), count);
                const double expected = plain_peak(x, count);
                ASSERT_TRUE(same_bits(std::vector<double>{peak}, std::vector<double>{expected}))
                    << vector_unit_name(unit) << " count " << count << " variant " << variant;

                std::vector<double> clipped = x;
                std::vector<double> plain = x;
                scale_and_clip(unit, 0.731, clipped.data(), count);
                for (int i = 0; i < count; ++i) {
                    double s = 0.731 * plain[static_cast<std::size_t>(i)];
                    if (s > 32767.0) {
                        s = 32767.0;
                    } else if (s < -32768.0) {
                        s = -32768.0;
                    }
                    plain[static_cast<std::size_t>(i)] = s;
                }
                ASSERT_TRUE(same_bits(clipped, plain)) << vector_unit_name(unit) << " count " << count << " variant " << variant;
            }
        }
    }
}

// The elementwise kernels at every length that leaves a tail, leaving the
// element past the count alone.
TEST(Elementwise, ProductsAndSumsOnEveryUnitEqualThePlainLoops) {
    for (const VectorUnit unit : available_units()) {
        for (int count = 0; count <= 37; ++count) {
            const std::size_t size = static_cast<std::size_t>(count) + 1;
            const std::vector<double> a = random_values(size, static_cast<unsigned>(count), 3.0);
            const std::vector<double> b = random_values(size, static_cast<unsigned>(count + 100), 20000.0);
            std::vector<double> product = a, sum = a;
            multiply_by(unit, product.data(), b.data(), count);
            add_into(unit, sum.data(), b.data(), count);
            for (std::size_t i = 0; i < size; ++i) {
                const bool inside = i < static_cast<std::size_t>(count);
                ASSERT_TRUE(same_bits(std::vector<double>{product[i], sum[i]},
                                      std::vector<double>{inside ? a[i] * b[i] : a[i], inside ? a[i] + b[i] : a[i]}))
                    << vector_unit_name(unit) << " count " << count << " i " << i;
            }
        }
    }
}

}  // namespace
}  // namespace qern
