// The analysis of one voice sample, from its samples to its pitch marks:
// frame T0 estimation, the track correction, mark placement and the mean
// period. The cache writer and the voicebank tools all run it from here.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/frame_t0.h"
#include "analysis/pitch_marks.h"
#include "wav/wav_reader.h"

namespace qern {

// What the analysis gives the synthesis, and what a cache file holds.
struct AnalysisResult {
    double mean_period = 0.0;            // mean period of the voiced marks (samples)
    std::vector<PitchMarkEntry> marks;   // in increasing position
};

// The steps behind an AnalysisResult, for the tools that show them.
struct AnalysisTrace {
    std::vector<std::int32_t> raw_frame_periods;  // frame T0 before the track correction
    std::vector<std::int32_t> frame_periods;      // the corrected track
    T0CandidateTable candidates;                  // the candidate periods of every frame
    // The marks as the placement leaves them: 1-based, element 0 the start
    // entry that the first mark's distance is measured from.
    std::vector<std::int32_t> mark_periods;
    std::vector<std::int32_t> mark_positions;
};

// The mean of the voiced periods (MIN_VOICED_PERIOD and up) of marks
// 1..n of `mark_periods`; 0.0 when there are none.
double mean_voiced_period(std::span<const std::int32_t> mark_periods, int n);

// Analyses `input` (only read) into `result`; with a `trace`, also fills it,
// step by step, so that the steps done before a failure are kept. Prints
// the progress lines of the analysis. Returns 0, or -1 after logging.
int analyse_sample(const DecodedInput& input, AnalysisResult& result, AnalysisTrace* trace = nullptr);

}  // namespace qern
