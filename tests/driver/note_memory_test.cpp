// Where a note's memory comes from: one arena in huge pages when the note
// touches half a huge page or more, its own buffers otherwise; the
// input's samples move into the arena only when the note reads most of the
// file, and decode there as they would in their own buffer.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "driver/note_memory.h"
#include "support/files.h"
#include "support/wav_bytes.h"

namespace qern {
namespace {

constexpr std::size_t MIB = std::size_t{1} << 20;

// A mono 16-bit file of `count` samples counting up from 1.
std::string write_input(test::TempDir& dir, int count) {
    std::vector<int> values(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) values[static_cast<std::size_t>(i)] = i % 30000 + 1;
    const std::string path = dir.file("in.wav");
    test::write_file(path, test::wav_file(test::fmt_body(1, 16, 44100), test::pcm16(values)));
    return path;
}

TEST(NoteMemory, HugePagesOnlyForNotesThatTouchHalfOfOneOrMore) {
    test::TempDir dir;
    const int count = 100000;  // 0.8 MB of samples
    const std::string path = write_input(dir, count);
    DecodedInput whole;
    ASSERT_EQ(read_wav_file(path, whole), 0);
    [[maybe_unused]] const std::size_t input_bytes = (count + 2 * SAMPLE_MARGIN) * sizeof(double);
    struct Case {
        SampleRange wanted;
        std::size_t other;
        std::size_t huge;  // 0: no arena
        bool input_moves;
    };
    const Case cases[] = {
        {{0, count}, MIB / 8, 0, false},             // 0.96 MB in all: below half of 2 MiB
        {{0, count}, MIB / 2, 2 * MIB, true},        // 1.3 MB: one huge page, a third of it unused
        {{0, count}, MIB, 2 * MIB, true},            // 1.8 MB: one huge page
        {{count / 2, count}, 2 * MIB, 2 * MIB, false},  // half the file: the input keeps its buffer
        {{1000, count}, 4 * MIB, 4 * MIB, true},     // 4.8 MB: two, the rest in small pages
    };
    for (const Case& c : cases) {
        DecodedInput input;
        ASSERT_EQ(open_wav_file(path, input), 0);
        const double* before = input.samples.data();
        std::optional<BulkArena> arena;
        BulkArena* memory = take_note_arena(arena, input, c.wanted, c.other);
        ASSERT_EQ(memory != nullptr, c.huge > 0) << c.other;
        ASSERT_EQ(input.samples.count(), count);
        EXPECT_EQ(input.samples.data() != before, c.input_moves) << c.other;
        if (memory != nullptr) {
            EXPECT_EQ(memory->huge_bytes(), c.huge) << c.other;
#if defined(__linux__)
            // Elsewhere every piece is a buffer of its own.
            EXPECT_EQ(memory->used() >= input_bytes, c.input_moves) << c.other;
#endif
        }
        // Wherever the samples are, they decode alike.
        decode_samples(input, c.wanted.first, c.wanted.last);
        for (int i = -SAMPLE_MARGIN; i < count + SAMPLE_MARGIN; ++i) {
            const bool decoded = i >= c.wanted.first && i < c.wanted.last;
            ASSERT_EQ(input.samples[i], decoded ? whole.samples[i] : 0.0) << c.other << " sample " << i;
        }
    }
}

// A note that decodes only stretches of its input takes its arena by their
// size, and they decode there, the input's own buffer left untouched.
TEST(NoteMemory, StretchesAreCountedByTheirSamplesAndDecodeInTheArena) {
    test::TempDir dir;
    const int count = 100000;
    const std::string path = write_input(dir, count);
    DecodedInput whole;
    ASSERT_EQ(read_wav_file(path, whole), 0);
    const std::vector<SampleRange> ranges = {{0, 300}, {5000, 5400}, {60000, 90000}, {99990, count}};
    struct Case {
        std::size_t other;
        std::size_t huge;  // 0: no arena
    };
    // 30,710 samples: 0.25 MB.
    for (const Case c : {Case{MIB / 8, 0}, Case{7 * MIB / 8, 2 * MIB}, Case{3 * MIB, 4 * MIB}}) {
        DecodedInput input;
        ASSERT_EQ(open_wav_file(path, input), 0);
        std::optional<BulkArena> arena;
        BulkArena* memory = take_note_arena(arena, 30710, c.other);
        ASSERT_EQ(memory != nullptr, c.huge > 0) << c.other;
        if (memory != nullptr) {
            EXPECT_EQ(memory->huge_bytes(), c.huge) << c.other;
        }
        decode_sample_stretches(input, ranges, memory);
        ASSERT_FALSE(input.stretches.empty());
        ASSERT_EQ(input.stretches.ranges().size(), ranges.size());
        for (std::size_t k = 0; k < ranges.size(); ++k) {
            const SampleSpan view = input.stretches.view_holding(ranges[k].first, ranges[k].last);
            ASSERT_EQ(view.begin, ranges[k].first);
            ASSERT_EQ(view.end, ranges[k].last);
            for (int i = view.begin; i < view.end; ++i) {
                ASSERT_EQ(view[i], whole.samples[i]) << i;
            }
        }
        for (int i = 0; i < count; i += 97) ASSERT_EQ(input.samples[i], 0.0) << i;
        // Reads beyond the input are left out: a view for the samples
        // inside, or one valid nowhere when there are none.
        EXPECT_EQ(input.stretches.view_holding(-80, 20).begin, 0);
        EXPECT_EQ(input.stretches.view_holding(99995, count + 80).begin, 99990);
        const SampleSpan beyond = input.stretches.view_holding(count + 10, count + 20);
        EXPECT_EQ(beyond.begin, beyond.end);
    }
}

}  // namespace
}  // namespace qern
