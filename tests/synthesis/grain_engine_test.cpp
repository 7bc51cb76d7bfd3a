#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/text_encoding.h"
#include "synthesis/grain_engine.h"
#include "support/signals.h"
#include "support/notes.h"
#include "support/values.h"

namespace qern {
namespace {

using test::impulses_at;
using test::make_note_case;
using test::NoteCase;
using test::nonzero_indices;
using test::regular_marks;

constexpr double PI = 3.141592653589793;

double hann_weight(int k, int n) { return 0.5 - 0.5 * std::cos(2.0 * PI * k / n); }

double test_signal(int i) { return 1000.0 * std::sin(0.05 * i) + 300.0 * std::cos(0.31 * i + 1.0); }

SampleSpan input_of(NoteCase& setup) { return setup.input.samples.span(); }

// --- extract_grain -------------------------------------------------------

TEST(ExtractGrain, WithoutScaleIsTheSourceTimesAHannWindowOfTwoPeriods) {
    NoteCase setup = make_note_case(2000, test_signal, {}, 0.0);
    GrainBuffer grain;
    const int mark = 700, P = 137;
    ASSERT_EQ(extract_grain(input_of(setup), grain, mark, P, 1.0), 0);
    for (int i = -P; i < P; ++i) {
        const double expected = test_signal(mark + i) * hann_weight(i + P, 2 * P);
        EXPECT_NEAR(grain[i], expected, 1e-9) << "element " << i;
    }
}

// The grain at scale f is the truncated-sinc interpolation of the two source
// periods at j / f, windowed over trunc(2P f) samples from element -H.
TEST(ExtractGrain, ScaledGrainHasHalfLengthTruncPfAndWindowTrunc2Pf) {
    NoteCase setup = make_note_case(3000, test_signal, {}, 0.0);
    const int mark = 1500;
    for (int g : {-100, -37, 50, 100}) {
        for (int P : {49, 200, 511}) {
            const double f = std::pow(10.0, g / 200.0);
            const int H = static_cast<int>(P * f);
            const int W = static_cast<int>(2 * P * f);
            GrainBuffer grain;
            ASSERT_EQ(extract_grain(input_of(setup), grain, mark, P, f), 0);
            for (int i = -H; i < H; ++i) {
                const double u = i / f;
                double sum = 0.0;
                for (int j = static_cast<int>(u) - 15; j <= static_cast<int>(u) + 15; ++j) {
                    if (j < -P || j >= P) continue;
                    const double d = PI * (u - j);
                    sum += (d == 0.0 ? 1.0 : std::sin(d) / d) * test_signal(mark + j);
                }
                const double expected = sum * hann_weight(i + H, W);
                ASSERT_NEAR(grain[i], expected, 1e-7 * 1300.0)
                    << "g " << g << " P " << P << " element " << i;
            }
        }
    }
}

TEST(ExtractGrain, SourceOutsideTheInputBufferReadsAsSilence) {
    // A cache made for a longer recording can hold marks past the samples.
    NoteCase setup = make_note_case(1000, [](int) { return 5.0; }, {}, 0.0);
    GrainBuffer grain;
    ASSERT_EQ(extract_grain(input_of(setup), grain, 1000000, 300, 1.0), 0);
    for (int i = -300; i < 300; ++i) EXPECT_EQ(grain[i], 0.0);
    ASSERT_EQ(extract_grain(input_of(setup), grain, 1000000, 300, std::pow(10.0, 0.5)), 0);
    for (int i = -948; i < 948; ++i) EXPECT_EQ(grain[i], 0.0);
    // Straddling the end of the buffer (1000 samples + 2048 margin): the part
    // inside is taken as it stands.
    setup.input.samples[1000 + SAMPLE_MARGIN - 1] = 7.0;
    ASSERT_EQ(extract_grain(input_of(setup), grain, 3000, 100, 1.0), 0);
    EXPECT_NEAR(grain[47], 7.0 * hann_weight(147, 200), 1e-12);
    for (int i = 48; i < 100; ++i) EXPECT_EQ(grain[i], 0.0);
}

TEST(ExtractGrain, RefusesPeriodsAndScalesTheBufferCannotHold) {
    NoteCase setup = make_note_case(3000, test_signal, {}, 0.0);
    GrainBuffer grain;
    EXPECT_EQ(extract_grain(input_of(setup), grain, 1500, 511, std::pow(10.0, 0.5)), 0);
    EXPECT_EQ(extract_grain(input_of(setup), grain, 1500, 512, 1.0), -1);
    EXPECT_EQ(extract_grain(input_of(setup), grain, 1500, -60, 1.0), -1);
    EXPECT_EQ(extract_grain(input_of(setup), grain, 1500, 511, std::pow(10.0, 101 / 200.0)), -1);
}

// --- output_period ------------------------------------------------------------

TEST(OutputPeriod, ModulationMixesTargetAndTheMarksOwnPeriod) {
    NoteCase setup;
    setup.note.target_period = 90.0;
    setup.analysis.mean_period = 100.0;
    setup.note.modulation = 0;
    EXPECT_EQ(output_period(0.0, 120, setup.note, setup.analysis.mean_period), 90.0);
    EXPECT_EQ(output_period(12345.5, 73, setup.note, setup.analysis.mean_period), 90.0);
    setup.note.modulation = 100;
    EXPECT_NEAR(output_period(0.0, 120, setup.note, setup.analysis.mean_period), 108.0, 1e-12);
    setup.note.modulation = 50;
    EXPECT_NEAR(output_period(0.0, 120, setup.note, setup.analysis.mean_period), 99.0, 1e-12);
    setup.note.modulation = 300;  // P/mean 0.5: 150 + 100 - 300 < 0
    EXPECT_LT(output_period(0.0, 50, setup.note, setup.analysis.mean_period), 0.0);
}

TEST(OutputPeriod, BendCurveInterpolatesByOutputTimeAndEndsWithOne) {
    NoteCase setup;
    setup.note.target_period = 100.0;
    setup.analysis.mean_period = 100.0;
    setup.note.bend.bend_spacing = 100;
    setup.note.bend.bend_count = 2;
    setup.note.bend.bend_curve = {0.5, 2.0, 1.0};
    EXPECT_DOUBLE_EQ(output_period(0.0, 100, setup.note, setup.analysis.mean_period), 50.0);
    EXPECT_DOUBLE_EQ(output_period(50.0, 100, setup.note, setup.analysis.mean_period), 125.0);
    EXPECT_DOUBLE_EQ(output_period(100.0, 100, setup.note, setup.analysis.mean_period), 200.0);
    EXPECT_DOUBLE_EQ(output_period(137.5, 100, setup.note, setup.analysis.mean_period), 162.5);  // (62.5*2 + 37.5*1) / 100
    EXPECT_DOUBLE_EQ(output_period(200.0, 100, setup.note, setup.analysis.mean_period), 100.0);  // at the end: the last point, 1
    EXPECT_DOUBLE_EQ(output_period(200.25, 100, setup.note, setup.analysis.mean_period), 100.0);
    EXPECT_DOUBLE_EQ(output_period(1e9, 100, setup.note, setup.analysis.mean_period), 100.0);

    // Exactly at the end the curve's last point is read; only past it is
    // the factor 1.
    setup.note.bend.bend_curve = {0.5, 2.0, 3.0};
    EXPECT_DOUBLE_EQ(output_period(200.0, 100, setup.note, setup.analysis.mean_period), 300.0);
    EXPECT_DOUBLE_EQ(output_period(200.0001, 100, setup.note, setup.analysis.mean_period), 100.0);
}

TEST(OutputPeriod, CurveWithoutPositiveSpacingIsNotApplied) {
    NoteCase setup;
    setup.note.target_period = 100.0;
    setup.analysis.mean_period = 100.0;
    setup.note.bend.bend_count = 2;
    setup.note.bend.bend_curve = {0.5, 2.0, 1.0};
    for (int spacing : {0, -256}) {
        setup.note.bend.bend_spacing = spacing;
        EXPECT_EQ(output_period(0.0, 100, setup.note, setup.analysis.mean_period), 100.0);
        EXPECT_EQ(output_period(-300.0, 100, setup.note, setup.analysis.mean_period), 100.0);
        EXPECT_EQ(output_period(150.0, 100, setup.note, setup.analysis.mean_period), 100.0);
    }
}

// --- overlap_add_grain --------------------------------------------------------

TEST(OverlapAddGrain, CentreAtTruncP0PlusFloorTPlusOneAndClippedAtBothEnds) {
    GrainBuffer grain;
    for (int i = -10; i < 10; ++i) grain.centre()[i] = 100.0 + i;
    SampleBuffer out = SampleBuffer::allocate(200);

    overlap_add_grain(out.span(), grain, 10, 37.9, 1000.0, 50.7);  // centre 37 + 51
    EXPECT_EQ(nonzero_indices(out, -100, 300).front(), 78);
    EXPECT_EQ(out[88], 100.0);
    EXPECT_EQ(out[97], 109.0);
    EXPECT_EQ(out[98], 0.0);

    // At output time 0: c = 1, the elements before -p0 - c are left out.
    out = SampleBuffer::allocate(200);
    overlap_add_grain(out.span(), grain, 10, 0.0, 1000.0, 0.0);
    EXPECT_EQ(nonzero_indices(out, -100, 300), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(out[0], 99.0);

    // Section time 7.5 has c = 8.5: with the limit at 12, i stays below
    // floor(12 - 8.5) = 3, so the last index is 8 + 2 = 10.
    out = SampleBuffer::allocate(200);
    overlap_add_grain(out.span(), grain, 10, 0.0, 12.0, 7.5);
    EXPECT_EQ(nonzero_indices(out, -100, 300).back(), 10);
    EXPECT_EQ(out[10], 102.0);
    EXPECT_EQ(nonzero_indices(out, -100, 300).front(), 0);  // -p0 - c = -8.5: i from -8
    EXPECT_EQ(out[0], 92.0);
}

TEST(OverlapAddGrain, NeverWritesOutsideTheBuffer) {
    GrainBuffer grain;
    for (int i = -GRAIN_MAX_HALF; i < GRAIN_MAX_HALF; ++i) grain.centre()[i] = 1.0;
    SampleBuffer out = SampleBuffer::allocate(100);
    const SampleSpan view = out.span();
    // A section starting well past the end (after a long overshoot).
    overlap_add_grain(view, grain, GRAIN_MAX_HALF, 3000.0, 1e6, 20.0);
    EXPECT_EQ(out[100 + SAMPLE_MARGIN - 1], 1.0);
    overlap_add_grain(view, grain, GRAIN_MAX_HALF, 1e12, 1e13, 1e11);
    overlap_add_grain(view, grain, GRAIN_MAX_HALF, 0.0, 1e300, 1e200);
    EXPECT_EQ(nonzero_indices(out, -SAMPLE_MARGIN, 100).size(), 0u);
}

// --- synthesize_section ---------------------------------------------------------

// Voiced grains with no bend and modulation 0 follow each other at exactly
// the target period of output time; the centre of each is floor(t) + 1.
TEST(SynthesizeSection, VoicedGrainsAdvanceByExactlyTheTargetPeriod) {
    const std::vector<PitchMarkEntry> marks = regular_marks(100, 4100, 100);
    for (double target : {100.0, 100.25, 37.5, 230.0}) {
        NoteCase setup = make_note_case(4100, impulses_at(marks), marks, 100.0);
        setup.note.target_period = target;
        SampleBuffer out = SampleBuffer::allocate(3000 + OUTPUT_TAIL);
        const double end = synthesize_section(setup.input.samples, setup.analysis, setup.note, 0, 4000, out.span(), 3000, 0.0);

        const std::vector<int> laid = nonzero_indices(out, -SAMPLE_MARGIN, out.count());
        ASSERT_GE(laid.size(), 10u);
        for (std::size_t k = 0; k < laid.size(); ++k) {
            EXPECT_EQ(laid[k], static_cast<int>(std::floor(static_cast<double>(k + 1) * target)) + 1) << "target " << target;
            EXPECT_NEAR(out[laid[k]], 1.0, 1e-12);
        }
        // The walk stops at the first mark once the output length is reached.
        EXPECT_GE(end, 3000.0);
        EXPECT_LT(end, 3000.0 + target + 100.0 * 3000 / 4000);
    }
}

TEST(SynthesizeSection, FirstGrainLiesOneOutputPeriodAfterTheSectionStart) {
    const std::vector<PitchMarkEntry> marks = regular_marks(100, 2000, 100);
    NoteCase setup = make_note_case(2100, impulses_at(marks), marks, 100.0);
    setup.note.target_period = 100.4;
    SampleBuffer out = SampleBuffer::allocate(4000);
    synthesize_section(setup.input.samples, setup.analysis, setup.note, 0, 2000, out.span(), 1000, 37.9);
    EXPECT_EQ(nonzero_indices(out, -SAMPLE_MARGIN, 4000).front(), 37 + 101);
}

TEST(SynthesizeSection, MarkAtStartPlusPeriodIsUsedOneSampleEarlierIsSkipped) {
    const int S = 1000, P = 100;
    for (int offset : {P - 1, P}) {
        const int first = S + offset;
        std::vector<PitchMarkEntry> marks{{first, P}, {S + 400, P}, {S + 500, P}, {S + 600, P}};
        NoteCase setup = make_note_case(3000, [first](int i) { return i == first ? 1.0 : 0.0; }, marks, 100.0);
        SampleBuffer out = SampleBuffer::allocate(1000);
        const double end = synthesize_section(setup.input.samples, setup.analysis, setup.note, S, 600, out.span(), 600, 0.0);
        EXPECT_GT(end, 0.0);
        const std::vector<int> laid = nonzero_indices(out, -SAMPLE_MARGIN, 1000);
        if (offset == P) {
            // Its grain fills the section up to its mapped time, 100.
            EXPECT_EQ(laid, std::vector<int>{101});
        } else {
            EXPECT_TRUE(laid.empty());
        }
    }
}

// Marks with periods changing from one to the next (60 to 400 samples) and
// an unvoiced one now and then, from `first` while below `end`.
std::vector<PitchMarkEntry> varied_marks(int first, int end) {
    std::vector<PitchMarkEntry> marks;
    for (int m = first, k = 0; m < end; ++k) {
        const int P = k % 7 == 3 ? UNVOICED_T0 : 60 + (k * 37) % 341;
        marks.push_back(PitchMarkEntry{m, P});
        m += P == UNVOICED_T0 ? 49 : P;
    }
    return marks;
}

// Grains cut side by side (eight at a time) and one at a time lay the same
// section, bit for bit, at every grain scale: with periods that change from
// grain to grain, a section that outruns its marks or lays a grain more than
// once, and grains reaching past the end of the input.
TEST(SynthesizeSection, GrainsCutSideBySideEqualGrainsCutOneAtATime) {
    const std::vector<PitchMarkEntry> marks = varied_marks(450, 8200);
    for (const int g : {-100, -20, 35, 100}) {
        for (const double target : {150.0, 37.0, 420.0}) {
            NoteCase setup = make_note_case(8000, test_signal, marks, 200.0);
            setup.note.flag_g = g;
            setup.note.target_period = target;
            setup.note.modulation = 30;
            std::vector<double> laid[2];
            double ends[2] = {};
            for (const bool side_by_side : {false, true}) {
                SampleBuffer out = SampleBuffer::allocate(6000 + OUTPUT_TAIL);
                SectionScratch scratch;
                scratch.side_by_side = side_by_side;
                ends[side_by_side] = synthesize_section(setup.input.samples, setup.analysis, setup.note, 100, 7900,
                                                        out.span(), 6000, 3.25, scratch);
                laid[side_by_side].assign(out.data() - SAMPLE_MARGIN, out.data() + out.count() + SAMPLE_MARGIN);
            }
            EXPECT_EQ(ends[0], ends[1]) << "g " << g << " target " << target;
            EXPECT_GT(std::count_if(laid[1].begin(), laid[1].end(), [](double v) { return v != 0.0; }), 1000)
                << "g " << g << " target " << target;
            ASSERT_TRUE(test::same_bits(laid[0], laid[1])) << "g " << g << " target " << target;
        }
    }
}

struct GrainExtent {
    int g;
    int half;  // non-zero samples reach this far on both sides of the centre
};

void PrintTo(const GrainExtent& e, std::ostream* os) { *os << "g " << e.g << ", half " << e.half; }

class UnvoicedGrains : public ::testing::TestWithParam<GrainExtent> {};

// An unvoiced grain spans trunc(2 * 49 f) windowed samples from -H, and the
// unvoiced entries are laid every 49 samples whatever g, note, bend or
// modulation.
TEST_P(UnvoicedGrains, SpanFollowsGButSpacingStaysAt49) {
    const int g = GetParam().g;
    const int half = GetParam().half;
    {
        // One grain of a constant source: its extent.
        NoteCase setup = make_note_case(1000, [](int) { return 1.0; }, {{400, UNVOICED_T0}}, 0.0);
        setup.note.flag_g = g;
        SampleBuffer out = SampleBuffer::allocate(4000);
        synthesize_section(setup.input.samples, setup.analysis, setup.note, 0, 400, out.span(), 49, 1000.0);
        const std::vector<int> laid = nonzero_indices(out, -SAMPLE_MARGIN, 4000);
        ASSERT_FALSE(laid.empty());
        EXPECT_EQ(laid.front(), 1050 - half);
        EXPECT_EQ(laid.back(), 1050 + half);
        EXPECT_EQ(static_cast<int>(laid.size()), 2 * half + 1);
    }
    {
        // A run of unvoiced marks with an impulse at each: one peak every 49.
        const std::vector<PitchMarkEntry> marks = regular_marks(49, 3000, UNVOICED_T0);
        NoteCase setup = make_note_case(3100, impulses_at(marks), marks, 0.0);
        setup.note.flag_g = g;
        setup.note.target_period = 77.7;
        setup.note.modulation = 50;
        setup.note.bend.bend_spacing = 10;
        setup.note.bend.bend_count = 1;
        setup.note.bend.bend_curve = {0.5, 1.0};
        SampleBuffer out = SampleBuffer::allocate(3000 + OUTPUT_TAIL);
        synthesize_section(setup.input.samples, setup.analysis, setup.note, 0, 3000, out.span(), 2000, 0.0);
        for (int k = 0; k < 40; ++k) {
            const int centre = 50 + 49 * k;
            int best = centre - 24;
            for (int i = centre - 24; i <= centre + 24; ++i) {
                if (out[i] > out[best]) best = i;
            }
            EXPECT_EQ(best, centre) << "g " << g << " grain " << k;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AcrossG, UnvoicedGrains,
                         ::testing::Values(GrainExtent{-100, 14}, GrainExtent{-50, 26}, GrainExtent{0, 48},
                                           GrainExtent{50, 86}, GrainExtent{100, 153}),
                         [](const ::testing::TestParamInfo<GrainExtent>& param_info) {
                             // "g_minus100", "g0", "g50": names may hold no '-'.
                             const int g = param_info.param.g;
                             return std::string(g < 0 ? "g_minus" : "g") + std::to_string(g < 0 ? -g : g);
                         });

TEST(SynthesizeSection, OnlyUnvoicedEntriesNeedNoMeanPeriod) {
    const std::vector<PitchMarkEntry> marks = regular_marks(49, 2000, UNVOICED_T0);
    NoteCase setup = make_note_case(2100, impulses_at(marks), marks, 0.0);
    SampleBuffer out = SampleBuffer::allocate(1500 + OUTPUT_TAIL);
    const double end = synthesize_section(setup.input.samples, setup.analysis, setup.note, 0, 1960, out.span(), 1500, 0.0);
    const std::vector<int> laid = nonzero_indices(out, -SAMPLE_MARGIN, out.count());
    ASSERT_GE(laid.size(), 30u);
    for (std::size_t k = 0; k < laid.size(); ++k) EXPECT_EQ(laid[k], 50 + 49 * static_cast<int>(k));
    EXPECT_EQ(std::fmod(end, 49.0), 0.0);
}

TEST(SynthesizeSection, EmptyOrInvertedRangesLayNothingAndReturnTheStart) {
    const std::vector<PitchMarkEntry> marks = regular_marks(100, 3000, 100);
    NoteCase setup = make_note_case(3100, [](int) { return 1.0; }, marks, 100.0);
    SampleBuffer out = SampleBuffer::allocate(5000);
    EXPECT_EQ(synthesize_section(setup.input.samples, setup.analysis, setup.note, 500, 1000, out.span(), 0, 12.5), 12.5);      // Lo = 0
    EXPECT_EQ(synthesize_section(setup.input.samples, setup.analysis, setup.note, 500, -300, out.span(), 2000, 12.5), 12.5);   // Ls < 0
    EXPECT_EQ(synthesize_section(setup.input.samples, setup.analysis, setup.note, -800, 500, out.span(), 2000, 0.0), 0.0);     // S + Ls <= 0
    // Ls = 0 with output to fill: the time ratio is infinite; nothing is laid
    // (rather than stepping towards an infinite mapped time for ever).
    EXPECT_EQ(synthesize_section(setup.input.samples, setup.analysis, setup.note, 500, 0, out.span(), 2000, 12.5), 12.5);
    EXPECT_TRUE(nonzero_indices(out, -SAMPLE_MARGIN, 5000).empty());
}

TEST(SynthesizeSection, MarksRunningOutAreLoggedAndTheTimeReachedReturned) {
    const std::vector<PitchMarkEntry> marks = regular_marks(100, 1000, 100);
    NoteCase setup = make_note_case(3000, impulses_at(marks), marks, 100.0);
    SampleBuffer out = SampleBuffer::allocate(3000 + OUTPUT_TAIL);
    ::testing::internal::CaptureStderr();
    const double end = synthesize_section(setup.input.samples, setup.analysis, setup.note, 0, 3000, out.span(), 3000, 0.0);
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(end, 900.0);
    EXPECT_EQ(log, to_console_encoding("エラー:ピッチの読み込みに失敗\n"));
}

// Periods that cannot move the grains on (modulation far above 100 with a
// short mark, a note far above any pitch, a damaged mean period): the walk
// still ends, after work bounded by the output length.
TEST(SynthesizeSection, NonPositiveOrTinyOutputPeriodsEndTheWalk) {
    std::vector<PitchMarkEntry> marks;
    for (int m = 200, k = 0; m < 20300; m += 150, ++k) marks.push_back({m, k % 2 == 0 ? 60 : 140});
    const auto make = [&] { return make_note_case(20400, impulses_at(marks), marks, 100.0); };
    SampleBuffer out = SampleBuffer::allocate(40000 + OUTPUT_TAIL);

    {
        // P 60: (1000 * 0.6 + 100 - 1000) / 100 < 0; P 140: 5 * target.
        NoteCase setup = make();
        setup.note.modulation = 1000;
        const double end = synthesize_section(setup.input.samples, setup.analysis, setup.note, 0, 20000, out.span(), 40000, 0.0);
        EXPECT_GE(end, 40000.0);
        EXPECT_LT(end, 41000.0);
        const std::vector<int> laid = nonzero_indices(out, -SAMPLE_MARGIN, out.count());
        ASSERT_FALSE(laid.empty());
        for (std::size_t k = 1; k < laid.size(); ++k) EXPECT_EQ(laid[k] - laid[k - 1], 500);
    }
    ::testing::internal::CaptureStderr();  // the marks run out: logged
    for (double target : {1e-300, 1e-9, 0.3, 0.49}) {
        NoteCase setup = make();
        setup.note.target_period = target;
        EXPECT_EQ(synthesize_section(setup.input.samples, setup.analysis, setup.note, 0, 20000, out.span(), 40000, 0.0), 0.0) << target;
    }
    {
        // Just above the floor a whole section is still laid.
        NoteCase setup = make();
        setup.note.target_period = 0.5;
        EXPECT_GE(synthesize_section(setup.input.samples, setup.analysis, setup.note, 0, 20000, out.span(), 4000, 0.0), 4000.0);
    }
    for (double mean : {0.0, -1.0, std::nan("")}) {
        NoteCase setup = make();
        setup.analysis.mean_period = mean;
        setup.note.modulation = 100;
        EXPECT_EQ(synthesize_section(setup.input.samples, setup.analysis, setup.note, 0, 20000, out.span(), 40000, 0.0), 0.0) << mean;
    }
    ::testing::internal::GetCapturedStderr();
}

// A fixed part of one source sample stretched to many output samples maps
// its first mark far past the output: the walk overshoots, and the next
// section starts beyond the buffer and its margin.
TEST(SynthesizeSection, SectionStartingBeyondTheBufferWritesNothing) {
    const std::vector<PitchMarkEntry> marks = regular_marks(100, 3000, 100);
    NoteCase setup = make_note_case(3100, [](int) { return 1.0; }, marks, 100.0);
    SampleBuffer out = SampleBuffer::allocate(1300);
    const double p1 = synthesize_section(setup.input.samples, setup.analysis, setup.note, 0, 1, out.span(), 300, 0.0);
    EXPECT_GT(p1, 1300.0 + SAMPLE_MARGIN);
    // Its own grains stop below section time 300 + 1024.
    EXPECT_NE(out[1323], 0.0);
    for (int i = 1324; i < 1300 + SAMPLE_MARGIN; ++i) ASSERT_EQ(out[i], 0.0) << i;
    const double p2 = synthesize_section(setup.input.samples, setup.analysis, setup.note, 1, 2900, out.span(), 1000, p1);
    EXPECT_GT(p2, p1);
    for (int i = 1324; i < 1300 + SAMPLE_MARGIN; ++i) ASSERT_EQ(out[i], 0.0) << i;
    // A start inside the margin writes up to the buffer's end and no further.
    synthesize_section(setup.input.samples, setup.analysis, setup.note, 1, 2900, out.span(), 1000, 1300.0 + SAMPLE_MARGIN - 150.0);
    EXPECT_NE(out[1300 + SAMPLE_MARGIN - 1], 0.0);
}

TEST(SynthesizeSection, MarksPastTheEndOfTheSamplesLaySilence) {
    // A cache kept from a longer recording.
    const std::vector<PitchMarkEntry> marks = regular_marks(100, 100000, 100);
    NoteCase setup = make_note_case(1000, [](int) { return 1.0; }, marks, 100.0);
    SampleBuffer out = SampleBuffer::allocate(20000 + OUTPUT_TAIL);
    const double end = synthesize_section(setup.input.samples, setup.analysis, setup.note, 500, 50000, out.span(), 20000, 0.0);
    EXPECT_GE(end, 20000.0);
    EXPECT_NE(out[100], 0.0);
    EXPECT_EQ(out[5000], 0.0);
}

}  // namespace
}  // namespace qern
