// The grain resampling from a prepared table against sinc_resample, which
// computes every weight itself: bit for bit, on every vector unit, at the
// ratios of g from -100 to 100 (where the vector paths give up, too), for
// spans from one sample to the longest grain and off-centre ones. The
// source holds NaN outside the span, so any read beyond it shows.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "dsp/kernels.h"
#include "dsp/sinc_table.h"
#include "support/values.h"
#include "support/vector_units.h"

namespace qern {
namespace {

using test::available_units;
using test::random_values;
using test::same_bits;

constexpr int CAPACITY = 1700;
constexpr int MARGIN = 2000;  // room on both sides of the source and the output

struct Resampled {
    std::vector<double> plain;
    std::vector<double> table;
};

// src[first, last) random around `centre`, NaN elsewhere; both results over
// the whole output range, -1 where nothing was written.
Resampled resample_both(VectorUnit unit, SincTable& table, int first, int last, int centre, unsigned seed) {
    const int size = 2 * MARGIN + 1100;
    std::vector<double> src(size, std::numeric_limits<double>::quiet_NaN());
    const std::vector<double> values = random_values(static_cast<std::size_t>(last - first), seed, 20000.0);
    for (int k = first; k < last; ++k) src[static_cast<std::size_t>(MARGIN + k)] = values[static_cast<std::size_t>(k - first)];
    const SampleSpan source{src.data() + MARGIN, -MARGIN, size - MARGIN};

    Resampled out{std::vector<double>(2 * CAPACITY, -1.0), std::vector<double>(2 * CAPACITY, -1.0)};
    const SampleSpan plain{out.plain.data() + CAPACITY, -CAPACITY, CAPACITY};
    const SampleSpan fast{out.table.data() + CAPACITY, -CAPACITY, CAPACITY};
    sinc_resample(first, last, plain, table.ratio, centre, source);
    const int half = std::max(std::abs(static_cast<int>(table.ratio * (first - centre))),
                              std::abs(static_cast<int>(table.ratio * (last - centre))));
    EXPECT_TRUE(prepare_sinc_rows(table, half)) << "span too long for the table";
    sinc_resample(unit, table, first, last, fast, centre, source);
    return out;
}

TEST(SincTable, EqualsSincResampleOnEveryUnitAtEveryGrainScale) {
    for (const int g : {-100, -73, -60, -20, -1, 1, 7, 20, 55, 100}) {
        const double ratio = std::pow(10.0, g / 200.0);
        for (const VectorUnit unit : available_units()) {
            SincTable table = make_sinc_table(ratio, CAPACITY);
            ASSERT_GT(table.capacity, 0);
            // Periods from one sample to the longest, grains growing and
            // shrinking (rows are prepared as they are first needed).
            for (const int P : {1, 2, 15, 16, 17, 40, 123, 200, 511, 64, 3}) {
                const Resampled r = resample_both(unit, table, 500 - P, 500 + P, 500, static_cast<unsigned>(P + g));
                ASSERT_TRUE(same_bits(r.plain, r.table)) << vector_unit_name(unit) << " g " << g << " P " << P;
            }
            // Spans off their centre, and a centre outside the span.
            for (const auto& [first, last, centre] : {std::tuple{100, 800, 400}, std::tuple{450, 470, 465},
                                                      std::tuple{200, 260, 300}, std::tuple{400, 900, 899}}) {
                const Resampled r = resample_both(unit, table, first, last, centre, 7);
                ASSERT_TRUE(same_bits(r.plain, r.table))
                    << vector_unit_name(unit) << " g " << g << " span " << first << ".." << last << " centre " << centre;
            }
        }
    }
}

// Short spans at every offset from the centre: outputs that fill no block,
// one block in part, the two partial blocks at both ends of a span and the
// whole ones between, starting and ending on every lane.
TEST(SincTable, EqualsSincResampleForEveryShortSpanAroundTheCentre) {
    for (const int g : {-100, -20, 20, 100}) {
        const double ratio = std::pow(10.0, g / 200.0);
        for (const VectorUnit unit : available_units()) {
            SincTable table = make_sinc_table(ratio, CAPACITY);
            for (int before = 0; before <= 12; ++before) {
                for (int after = 0; after <= 12; ++after) {
                    if (before + after == 0) continue;
                    const Resampled r = resample_both(unit, table, 500 - before, 500 + after, 500,
                                                      static_cast<unsigned>(before * 13 + after));
                    ASSERT_TRUE(same_bits(r.plain, r.table))
                        << vector_unit_name(unit) << " g " << g << " span -" << before << ".." << after;
                }
            }
        }
    }
}

TEST(SincTable, RowsBeyondTheCapacityAreRefused) {
    SincTable table = make_sinc_table(2.0, 100);
    EXPECT_GE(table.capacity, 100);
    EXPECT_TRUE(prepare_sinc_rows(table, 50));
    EXPECT_FALSE(prepare_sinc_rows(table, table.capacity + 1));
    EXPECT_EQ(table.rows_ready, 50);
    EXPECT_EQ(make_sinc_table(2.0, 0).capacity, 0);
}

}  // namespace
}  // namespace qern
