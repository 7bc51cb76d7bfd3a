// The grain resampling from a prepared table against sinc_resample, which
// computes every weight itself: bit for bit, on every vector unit, at the
// ratios of g from -100 to 100 (where the vector paths give up, too), for
// spans from one sample to the longest grain and off-centre ones. The
// source holds NaN outside the span, so any read beyond it shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cmath>
#include <limits>
#include <utility>
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

// The mirrored table's premise at every grain scale g can take: the
// weights of output -i, computed as they are, are those of output i in
// reverse order, bit for bit (the C library's sine must be odd for it),
// but for the sign of a zero: where i / ratio is a whole number, every tap
// but one weighs 0, +0 on one side and -0 on the other. A sum starts at +0
// and is never -0, so adding +-0 times a sample leaves it alike.
TEST(SincTable, NegativeRowsAreThePositiveOnesReversedAtEveryG) {
    constexpr int ROWS = SincTable::BLOCK_ROWS;
    for (int g = -100; g <= 100; ++g) {
        if (g == 0) continue;
        const double ratio = std::pow(10.0, g / 200.0);
        const int half = static_cast<int>(511 * ratio);
        SincTable full = make_sinc_table(ratio, half + ROWS);
        SincTable mirrored = make_sinc_table(ratio, half + ROWS, nullptr, true);
        ASSERT_TRUE(prepare_sinc_rows(full, half + ROWS) && prepare_sinc_rows(mirrored, half));
        auto weight = [](const SincTable& table, int n, int q) {
            return table.weights[static_cast<std::size_t>(((n / ROWS) * SINC_TAPS + q) * ROWS + n % ROWS)];
        };
        auto alike = [](double a, double b) { return a == 0.0 ? b == 0.0 : same_bits({a}, {b}); };
        int zero_rows = 0;
        for (int i = 0; i <= half; ++i) {
            zero_rows += weight(full, full.capacity + i, 0) == 0.0;
            for (int q = 0; q < SINC_TAPS; ++q) {
                const double negative = weight(full, full.capacity - i, q);
                ASSERT_TRUE(alike(negative, weight(full, full.capacity + i, SINC_TAPS - 1 - q)))
                    << "g " << g << " row -" << i << " tap " << q;
                ASSERT_TRUE(alike(negative, weight(mirrored, i, SINC_TAPS - 1 - q)))
                    << "g " << g << " mirrored row " << i << " tap " << q;
            }
        }
        // Zero weights only where i / ratio is whole (row 0 at least).
        ASSERT_GE(zero_rows, 1) << "g " << g;
        ASSERT_LE(zero_rows, 2 + half / std::max(1, static_cast<int>(ratio))) << "g " << g;
    }
}

// Every vector unit with a full table and with a mirrored one.
std::vector<std::pair<VectorUnit, bool>> units_and_tables() {
    std::vector<std::pair<VectorUnit, bool>> all;
    for (const VectorUnit unit : available_units()) {
        all.emplace_back(unit, false);
        all.emplace_back(unit, true);
    }
    return all;
}

// Eight spans resampled side by side against each resampled alone: spans
// of different lengths (the longest sets the rows computed), spans cut off
// where the source ends, and unused lanes; from a full table and from a
// mirrored one (its negative rows read backwards from the positive ones),
// whose rows were first filled for shorter grains. Lane outputs beyond a
// span's own range are not compared (they are never used).
TEST(SincLanes, EachLaneEqualsItsSpanResampledAloneOnEveryUnit) {
    const int size = 6000;
    const std::vector<double> source = random_values(size, 11, 20000.0);
    // Marks and periods of the lanes; the last two start before the source
    // and end after it, and P 0 leaves a lane unused.
    const int marks[SINC_LANES] = {3000, 3001, 2500, 1200, 4400, 2000, 100, size - 60};
    const int periods[SINC_LANES] = {511, 1, 120, 300, 49, 0, 250, 200};
    for (const int g : {-100, -37, 13, 100}) {
        const double ratio = std::pow(10.0, g / 200.0);
        const int H = static_cast<int>(511 * ratio);
        for (const auto& [unit, mirrored] : units_and_tables()) {
            SincTable table = make_sinc_table(ratio, H, nullptr, mirrored);
            // Rows for a short grain first, one row off a block's end, then
            // the rest.
            ASSERT_TRUE(prepare_sinc_rows(table, 17));
            ASSERT_TRUE(prepare_sinc_rows(table, H));
            const TapRange rows = sinc_lane_taps(table, -H, H);
            ASSERT_LE(rows.first, -511 - 15);
            ASSERT_GE(rows.last, 511 + 15);
            // Filled with NaN first: every row the kernel reads must be set.
            std::vector<double> lanes(static_cast<std::size_t>(rows.last - rows.first) * SINC_LANES,
                                      std::numeric_limits<double>::quiet_NaN());
            double* x = lanes.data() - static_cast<std::ptrdiff_t>(rows.first) * SINC_LANES;
            long long offset[SINC_LANES];
            int first[SINC_LANES], last[SINC_LANES];
            for (int g8 = 0; g8 < SINC_LANES; ++g8) {
                offset[g8] = marks[g8];
                first[g8] = std::clamp(-marks[g8], -periods[g8], periods[g8]);
                last[g8] = std::clamp(size - marks[g8], first[g8], periods[g8]);
            }
            fill_lanes(unit, source.data(), offset, first, last, rows, x);

            const int half = H + SincTable::BLOCK_ROWS;
            std::vector<double> out(static_cast<std::size_t>(SINC_LANES) * (2 * half + 1), -1.0);
            double* y[SINC_LANES];
            for (int g8 = 0; g8 < SINC_LANES; ++g8) y[g8] = out.data() + g8 * (2 * half + 1) + half;
            sinc_resample_lanes(unit, table, -H, H, x, y);

            for (int g8 = 0; g8 < SINC_LANES; ++g8) {
                const int P = periods[g8];
                if (P == 0) continue;
                // The span alone: its samples inside the source, zeros out.
                std::vector<double> span(static_cast<std::size_t>(2 * P), 0.0);
                for (int j = first[g8]; j < last[g8]; ++j) span[static_cast<std::size_t>(j + P)] = source[static_cast<std::size_t>(marks[g8] + j)];
                const int Hg = static_cast<int>(P * ratio);
                std::vector<double> alone(static_cast<std::size_t>(2 * Hg + 2), -1.0);
                sinc_resample(-P, P, SampleSpan{alone.data() + Hg, -Hg, Hg + 2}, ratio, 0,
                              SampleSpan{span.data() + P, -P, P});
                for (int i = -Hg; i < Hg; ++i) {
                    ASSERT_TRUE(same_bits({alone[static_cast<std::size_t>(i + Hg)]}, {y[g8][i]}))
                        << vector_unit_name(unit) << (mirrored ? " mirrored" : "") << " g " << g << " lane " << g8
                        << " output " << i << ": "
                        << alone[static_cast<std::size_t>(i + Hg)] << " against " << y[g8][i];
                }
            }
        }
    }
}

}  // namespace
}  // namespace qern
