#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "base/text_encoding.h"
#include "synthesis/grain_engine.h"
#include "synthesis/synthesize.h"
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

TEST(Synthesize, RequiredLengthZeroGivesTheTailOfSilence) {
    const std::vector<PitchMarkEntry> marks = regular_marks(100, 3000, 100);
    NoteCase setup = make_note_case(3000, [](int i) { return std::sin(0.1 * i) * 1000.0; }, marks, 100.0);
    setup.note.left_blank = 100;
    setup.note.flag_P = 86;
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(synthesize(setup.input, setup.analysis, setup.note, setup.output), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(setup.output.count(), 1024);
    ASSERT_EQ(setup.output.count(), 1024);
    EXPECT_TRUE(nonzero_indices(setup.output, -SAMPLE_MARGIN, 1024 + SAMPLE_MARGIN).empty());
}

// The vowel part starts at the time the fixed part reached, so with a fixed
// output period the grains run on across the join at that period; P 0 with
// volume 100 leaves them at their own amplitude.
TEST(Synthesize, SectionsJoinWithoutAGapAndP0KeepsTheGainAtOne) {
    const std::vector<PitchMarkEntry> marks = regular_marks(100, 4300, 100);
    for (int consonant_out : {1000, 950, 1234}) {
        NoteCase setup = make_note_case(4300, impulses_at(marks), marks, 100.0);
        setup.note.right_blank = 200;
        setup.note.consonant_length = 1000;
        setup.note.consonant_out_length = consonant_out;
        setup.note.required_length = 3000;
        ::testing::internal::CaptureStderr();
        ASSERT_EQ(synthesize(setup.input, setup.analysis, setup.note, setup.output), 0);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        ASSERT_EQ(setup.output.count(), 3000 + OUTPUT_TAIL);

        const std::vector<int> laid = nonzero_indices(setup.output, 0, setup.output.count());
        ASSERT_GE(laid.size(), 29u);
        EXPECT_EQ(laid.front(), 101);
        EXPECT_GE(laid.back(), 3000);
        for (std::size_t k = 1; k < laid.size(); ++k) {
            EXPECT_EQ(laid[k] - laid[k - 1], 100) << "consonant_out " << consonant_out << " at " << laid[k];
        }
        for (int i : laid) EXPECT_NEAR(setup.output[i], 1.0, 1e-12);
    }
}

// A note whose output and working memory come from an arena in huge pages
// (the input's too, as the driver places it) is the note from buffers of its
// own, bit for bit, at a grain scale other than 1 and at 1.
TEST(Synthesize, NoteFromAnArenaInHugePagesEqualsTheNoteFromItsOwnBuffers) {
    std::vector<PitchMarkEntry> marks;
    for (int m = 300, k = 0; m < 19000; m += marks.back().period, ++k) marks.push_back({m, 90 + (k * 29) % 200});
    for (const int g : {0, 60}) {
        NoteCase setup = make_note_case(20000, [](int i) { return 3000.0 * std::sin(0.031 * i) + 800.0 * std::sin(0.17 * i); },
                                        marks, 150.0);
        setup.note.flag_g = g;
        setup.note.consonant_length = 2000;
        setup.note.consonant_out_length = 3000;
        setup.note.required_length = 90000;
        setup.note.flag_P = 86;
        ASSERT_EQ(synthesize(setup.input, setup.analysis, setup.note, setup.output), 0);
        BulkArena arena(64 << 20, 4 << 20);
        DecodedInput input;
        input.sample_rate = setup.input.sample_rate;
        input.samples = SampleBuffer::allocate_in(&arena, setup.input.samples.count(), Presence::on_touch);
        ASSERT_FALSE(input.samples.empty());
        std::copy(setup.input.samples.data(), setup.input.samples.data() + input.samples.count(), input.samples.data());
        SampleBuffer output;
        ASSERT_EQ(synthesize(input, setup.analysis, setup.note, output, &arena), 0);
        ASSERT_EQ(output.count(), setup.output.count());
#if defined(__linux__)
        // Elsewhere every piece is a buffer of its own.
        EXPECT_GE(arena.used(), static_cast<std::size_t>(input.samples.count() + output.count()) * sizeof(double));
#endif
        EXPECT_TRUE(test::same_bits(std::vector<double>(output.data(), output.data() + output.count()),
                                    std::vector<double>(setup.output.data(), setup.output.data() + output.count())))
            << "g " << g;
        EXPECT_GT(nonzero_indices(output, 0, output.count()).size(), 80000u) << "g " << g;
    }
}

TEST(Synthesize, P0WithVolume100OnlyClips) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> noise(-30000.0, 30000.0);
    std::vector<double> source(6000);
    for (double& v : source) v = noise(rng);
    std::vector<PitchMarkEntry> marks = regular_marks(300, 6000, 150);
    NoteCase setup = make_note_case(6000, [&](int i) { return source[static_cast<std::size_t>(i)]; }, marks, 150.0);
    setup.note.target_period = 90.0;
    setup.note.left_blank = 200;
    setup.note.consonant_length = 1500;
    setup.note.consonant_out_length = 1800;
    setup.note.required_length = 5000;
    setup.note.right_blank = 300;

    // The same two sections laid by hand, unscaled.
    SampleBuffer raw = SampleBuffer::allocate(5000 + OUTPUT_TAIL);
    const double p1 = synthesize_section(setup.input.samples, setup.analysis, setup.note, 200, 1500, raw.span(), 1800, 0.0);
    synthesize_section(setup.input.samples, setup.analysis, setup.note, 1700, 6000 - 300 - 1700, raw.span(), 5000 - 1800, p1);

    ASSERT_EQ(synthesize(setup.input, setup.analysis, setup.note, setup.output), 0);
    int clipped = 0;
    for (int i = 0; i < raw.count(); ++i) {
        const double expected = std::clamp(raw[i], -32768.0, 32767.0);
        if (expected != raw[i]) ++clipped;
        ASSERT_EQ(setup.output[i], expected) << i;
    }
    EXPECT_GT(clipped, 0);
}

TEST(Synthesize, NormalisesThePeakAfterSmoothing) {
    const std::vector<PitchMarkEntry> marks = regular_marks(100, 4100, 100);
    NoteCase setup = make_note_case(4100, [](int i) { return 3000.0 * std::sin(0.0628 * i); }, marks, 100.0);
    setup.note.required_length = 3000;
    setup.note.flag_P = 100;
    setup.note.volume = 50;
    ASSERT_EQ(synthesize(setup.input, setup.analysis, setup.note, setup.output), 0);
    double peak = 0.0;
    for (int i = 0; i < setup.output.count(); ++i) peak = std::max(peak, std::fabs(setup.output[i]));
    EXPECT_NEAR(peak, 8192.0, 1e-9);

    // H 100 (and anything above) holds the first sample, silent here, so
    // there is no peak left to normalise.
    setup = make_note_case(4100, [](int i) { return 3000.0 * std::sin(0.0628 * i); }, marks, 100.0);
    setup.note.required_length = 3000;
    setup.note.flag_P = 100;
    setup.note.flag_H = 250;
    ASSERT_EQ(synthesize(setup.input, setup.analysis, setup.note, setup.output), 0);
    EXPECT_TRUE(nonzero_indices(setup.output, 0, setup.output.count()).empty());
}

TEST(Synthesize, SectionThatLaysNothingFailsAndLeavesTheOutput) {
    NoteCase setup = make_note_case(3000, [](int) { return 1.0; }, {}, 0.0);  // no marks at all
    setup.note.consonant_length = 500;
    setup.note.consonant_out_length = 500;
    setup.note.required_length = 2000;
    setup.output = SampleBuffer::allocate(3000);  // a buffer from before
    const double* input = setup.output.data();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(synthesize(setup.input, setup.analysis, setup.note, setup.output), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              to_console_encoding("エラー:ピッチの読み込みに失敗\nエラー:固定範囲の合成処理に失敗\n"));
    EXPECT_EQ(setup.output.data(), input);
    EXPECT_EQ(setup.output.count(), 3000);

    setup.note.consonant_length = 0;
    setup.note.consonant_out_length = 0;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(synthesize(setup.input, setup.analysis, setup.note, setup.output), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              to_console_encoding("エラー:ピッチの読み込みに失敗\nエラー:母音部の合成処理に失敗\n"));
    EXPECT_EQ(setup.output.data(), input);
}

TEST(Synthesize, EmptyOrInvertedVowelRangeStaysSilent) {
    const std::vector<PitchMarkEntry> marks = regular_marks(100, 3000, 100);
    for (int right_blank : {2000, 2500}) {  // vowel source length 0, then -500
        NoteCase setup = make_note_case(3000, [](int) { return 1.0; }, marks, 100.0);
        setup.note.consonant_length = 1000;
        setup.note.consonant_out_length = 1000;
        setup.note.required_length = 4000;
        setup.note.right_blank = right_blank;
        ASSERT_EQ(synthesize(setup.input, setup.analysis, setup.note, setup.output), 0);
        const std::vector<int> laid = nonzero_indices(setup.output, 0, setup.output.count());
        ASSERT_FALSE(laid.empty());
        EXPECT_LT(laid.back(), 1000 + OUTPUT_TAIL);
    }
}

// A fixed part of one source sample stretched over many output samples
// overshoots by far; the vowel part then starts beyond the output buffer.
TEST(Synthesize, FarOvershootOfTheFixedPartStaysInsideTheBuffer) {
    const std::vector<PitchMarkEntry> marks = regular_marks(100, 3000, 100);
    NoteCase setup = make_note_case(3000, [](int) { return 1.0; }, marks, 100.0);
    setup.note.consonant_length = 1;
    setup.note.consonant_out_length = 200;
    setup.note.required_length = 600;
    ASSERT_EQ(synthesize(setup.input, setup.analysis, setup.note, setup.output), 0);
    EXPECT_EQ(setup.output.count(), 600 + OUTPUT_TAIL);
    const std::vector<int> laid = nonzero_indices(setup.output, 0, setup.output.count());
    ASSERT_FALSE(laid.empty());
}

}  // namespace
}  // namespace qern

namespace qern {
namespace {

// Marks of irregular periods (unvoiced stretches among them) over `count`
// samples.
std::vector<PitchMarkEntry> irregular_marks(int count, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> period(60, 400);
    std::vector<PitchMarkEntry> marks;
    for (int m = 50; m < count;) {
        const int p = (m / 3000) % 4 == 3 ? UNVOICED_T0 : period(rng);
        marks.push_back(PitchMarkEntry{m, p});
        m += p;
    }
    return marks;
}

// A note whose input is NaN outside samples_the_note_reads, or outside the
// ranges of samples_the_grains_read, or that has only those ranges as
// stretches, comes out the same, bit for bit, as from the whole input: they hold every sample a grain reads, for any
// blanks, consonant, grain scale, modulation and bend.
TEST(SamplesTheNoteReads, CoverEverySampleTheGrainsRead) {
    const int count = 40000;
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> noise(-20000.0, 20000.0);
    std::vector<double> source(count);
    for (double& v : source) v = noise(rng);
    const std::vector<PitchMarkEntry> marks = irregular_marks(count, 5);
    struct Blanks {
        int left, consonant, right, required;
    };
    int narrower = 0;
    int sparser = 0;
    for (const Blanks b : {Blanks{8000, 3000, 15000, 20000}, Blanks{0, 0, 0, 30000}, Blanks{12000, -2000, 20000, 9000},
                           Blanks{30000, 20000, 0, 15000}, Blanks{20000, 1000, 19000, 5000}, Blanks{39990, 0, 0, 2000},
                           Blanks{0, 4000, 0, 6000}}) {
        for (const int g : {-100, 0, 35, 100}) {
            NoteCase whole = make_note_case(count, [&](int i) { return source[static_cast<std::size_t>(i)]; }, marks, 200.0);
            whole.note.left_blank = b.left;
            whole.note.consonant_length = b.consonant;
            whole.note.consonant_out_length = std::max(0, b.consonant);
            whole.note.right_blank = b.right;
            whole.note.required_length = b.required;
            whole.note.flag_g = g;
            whole.note.modulation = 40;
            if (g == 35) {
                // Half an octave up and back over the note.
                whole.note.bend.bend_curve = {1.0, 0.8, 0.7071, 0.8, 1.0, 1.0};
                whole.note.bend.bend_spacing = b.required / 4 + 1;
                whole.note.bend.bend_count = 5;
            }
            const SampleRange range = samples_the_note_reads(whole.analysis, whole.note, count);
            ASSERT_LE(0, range.first);
            ASSERT_LE(range.last, count);
            if (range.last - range.first < count / 2) ++narrower;
            const std::vector<SampleRange> ranges = samples_the_grains_read(whole.analysis, whole.note, count);
            long long in_ranges = 0;
            for (std::size_t k = 0; k < ranges.size(); ++k) {
                ASSERT_LT(ranges[k].first, ranges[k].last);
                ASSERT_LE(range.first, ranges[k].first);
                ASSERT_LE(ranges[k].last, range.last);
                if (k > 0) {
                    ASSERT_LT(ranges[k - 1].last, ranges[k].first);  // disjoint, not touching
                }
                in_ranges += ranges[k].last - ranges[k].first;
            }
            if (in_ranges < (range.last - range.first) * 3 / 4) ++sparser;

            ::testing::internal::CaptureStderr();
            const int whole_result = synthesize(whole.input, whole.analysis, whole.note, whole.output);
            ::testing::internal::GetCapturedStderr();
            std::vector<char> read_by_grains(count, 0);
            for (const SampleRange r : ranges) std::fill(read_by_grains.begin() + r.first, read_by_grains.begin() + r.last, 1);
            // way 0: the one range, 1: the grains' ranges, 2: the grains'
            // ranges as stretches of their own (the whole buffer NaN).
            for (int way = 0; way < 3; ++way) {
                NoteCase part = make_note_case(count, [&](int i) {
                    const bool kept = way == 0 ? i >= range.first && i < range.last
                                               : way == 1 && read_by_grains[static_cast<std::size_t>(i)] != 0;
                    return kept ? source[static_cast<std::size_t>(i)] : std::numeric_limits<double>::quiet_NaN();
                }, marks, 200.0);
                part.note = whole.note;
                if (way == 2 && !ranges.empty()) {
                    part.input.stretches = SampleStretches::allocate_in(nullptr, ranges, count);
                    ASSERT_FALSE(part.input.stretches.empty());
                    for (std::size_t k = 0; k < ranges.size(); ++k) {
                        std::copy(source.begin() + ranges[k].first, source.begin() + ranges[k].last,
                                  part.input.stretches.stretch_data(k));
                    }
                }
                ::testing::internal::CaptureStderr();
                const int part_result = synthesize(part.input, part.analysis, part.note, part.output);
                ::testing::internal::GetCapturedStderr();
                ASSERT_EQ(whole_result, part_result);
                ASSERT_EQ(whole.output.count(), part.output.count());
                if (whole.output.empty()) continue;  // a failed note leaves no output on either side
                EXPECT_EQ(std::memcmp(whole.output.data(), part.output.data(), sizeof(double) * whole.output.count()), 0)
                    << "left " << b.left << " consonant " << b.consonant << " right " << b.right << " g " << g
                    << (way == 0 ? " (one range)" : way == 1 ? " (the grains' ranges)" : " (stretches)");
            }
        }
    }
    EXPECT_GE(narrower, 8);  // the range is not simply the whole input
    EXPECT_GE(sparser, 4);   // nor are the grains' ranges simply that range
}

}  // namespace
}  // namespace qern
