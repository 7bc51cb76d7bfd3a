// The one analysis entry point: what it gives the tools is what the cache
// writer writes, and the input stays as it was read.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "analysis/pitch_mark_file.h"
#include "analysis/sample_analysis.h"
#include "base/file_io.h"
#include "support/console.h"
#include "support/files.h"
#include "support/signals.h"

namespace qern {
namespace {

TEST(AnalyseSample, ResultTraceAndCacheAgreeAndTheInputStaysAsRead) {
    test::TempDir dir;
    const DecodedInput input = test::make_input(test::voice_signal(30000, 44100, 180.0, 240.0, 3), 44100);
    const std::vector<double> before(input.samples.data() - SAMPLE_MARGIN,
                                     input.samples.data() + input.samples.count() + SAMPLE_MARGIN);
    AnalysisResult result;
    AnalysisTrace trace;
    test::LogCapture log;
    ASSERT_EQ(analyse_sample(input, result, &trace), 0);
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(std::memcmp(before.data(), input.samples.data() - SAMPLE_MARGIN, before.size() * sizeof(double)), 0);

    // The trace: a frame per 256 samples, and marks 1..n are the result's
    // marks.
    EXPECT_EQ(static_cast<int>(trace.frame_periods.size()), frame_count_for(30000));
    EXPECT_EQ(trace.raw_frame_periods.size(), trace.frame_periods.size());
    EXPECT_EQ(trace.candidates.frames.size(), trace.frame_periods.size());
    ASSERT_EQ(trace.mark_positions.size(), result.marks.size() + 1);
    ASSERT_GT(result.marks.size(), 100u);
    for (std::size_t i = 0; i < result.marks.size(); ++i) {
        ASSERT_EQ(result.marks[i].position, trace.mark_positions[i + 1]) << i;
        ASSERT_EQ(result.marks[i].period, trace.mark_periods[i + 1]) << i;
    }

    // The cache of the same input holds the same marks and mean.
    ASSERT_EQ(create_pitch_mark_file(input, dir.file("a.pmk")), 0);
    FileHandle f = open_file(dir.file("a.pmk"), "rb");
    AnalysisResult cached;
    ASSERT_EQ(read_pitch_mark_file(f.get(), input.samples.count(), cached), 0);
    EXPECT_EQ(cached.mean_period, result.mean_period);
    ASSERT_EQ(cached.marks.size(), result.marks.size());
    for (std::size_t i = 0; i < cached.marks.size(); ++i) {
        ASSERT_EQ(cached.marks[i].position, result.marks[i].position) << i;
        ASSERT_EQ(cached.marks[i].period, result.marks[i].period) << i;
    }
    // Without a trace: the same result.
    AnalysisResult again;
    ASSERT_EQ(analyse_sample(input, again), 0);
    EXPECT_EQ(again.mean_period, result.mean_period);
    EXPECT_EQ(again.marks.size(), result.marks.size());
}

TEST(AnalyseSample, FailureKeepsTheStepsDoneAndLogsTheStep) {
    // 40 samples: frames, but no room for a single mark.
    const DecodedInput input = test::make_input(std::vector<double>(40, 1000.0), 44100);
    AnalysisResult result;
    AnalysisTrace trace;
    test::LogCapture log;
    EXPECT_EQ(analyse_sample(input, result, &trace), -1);
    EXPECT_EQ(log.text(), "エラー:音声パラメータの抽出に失敗\n");
    EXPECT_EQ(static_cast<int>(trace.frame_periods.size()), frame_count_for(40));
    EXPECT_TRUE(result.marks.empty());
}

TEST(MeanVoicedPeriod, CountsPeriodsFrom50AndSkipsTheStartEntry) {
    const std::vector<std::int32_t> periods = {300, 49, 50, 100, 49, 511};
    EXPECT_EQ(mean_voiced_period(periods, 5), (50.0 + 100.0 + 511.0) / 3.0);
    EXPECT_EQ(mean_voiced_period(periods, 1), 0.0);  // one unvoiced mark
    EXPECT_EQ(mean_voiced_period(periods, 0), 0.0);
}

}  // namespace
}  // namespace qern
