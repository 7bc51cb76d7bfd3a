// Frame T0 estimation: one fundamental period (or UNVOICED_T0) for every
// FRAME_HOP-sample frame of the input, from the autocorrelation of a 900 Hz
// low-passed copy, with up to ten candidate periods per frame.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "base/sample_buffer.h"
#include "dsp/kernels.h"

namespace qern {

// Period that marks a silent or unvoiced frame and an unvoiced pitch mark.
inline constexpr int UNVOICED_T0 = 49;
// Distance between the centres of analysis frames; a frame's window is the
// AUTOCORRELATION_FRAME samples centred on its centre.
inline constexpr int FRAME_HOP = 256;
// Lags searched for a period: from MIN_VOICED_PERIOD up to, not including,
// T0_MAX_LAG (the autocorrelation covers 0..T0_MAX_LAG), so that a voiced
// period lies in MIN_VOICED_PERIOD..MAX_VOICED_PERIOD.
inline constexpr int MIN_VOICED_PERIOD = 50;
inline constexpr int T0_MAX_LAG = AUTOCORRELATION_MAX_LAG;
inline constexpr int MAX_VOICED_PERIOD = T0_MAX_LAG - 1;

// Candidate periods kept per frame.
inline constexpr int T0_CANDIDATE_COUNT = 10;
// A frame whose largest magnitude lies strictly inside (-163, 163) is silent.
inline constexpr double SILENCE_LEVEL = 163.0;

// The lags of each frame's strongest autocorrelation peaks, strongest first;
// 0 marks an empty slot.
struct T0CandidateTable {
    std::vector<std::array<std::int32_t, T0_CANDIDATE_COUNT>> frames;
};

// Number of frames for `sample_count` samples: ceil(N / 256) + 1.
int frame_count_for(int sample_count);

// Picks the T0 of one frame from its autocorrelation r(0)..r(512)
// (`r` holds at least 513 values). Fills `slots` with the candidate lags,
// strongest first (0 for empty slots). The neighbour rule writes 0 into `r`
// for peaks that lie close after a stronger candidate. Returns UNVOICED_T0 or a
// lag from 50 to 511.
int pick_t0_peak(std::span<double> r, std::span<std::int32_t, T0_CANDIDATE_COUNT> slots);

// Frame T0 before the track correction: fills frame_periods[0 .. M-1] and the
// candidate table (resized to M frames) from `sample_count` samples of
// `samples` (only read; reads up to 22 samples into each margin) at
// `sample_rate` Hz. `frame_periods` must hold at least M entries.
// Returns M, or 0 on failure. The low-passed copy is made in `work` when
// given (the span of `sample_count` samples whose SAMPLE_MARGIN margins are
// zero, as SampleBuffer::allocate and allocate_scratch_signal leave them),
// else in memory of its own.
int estimate_raw_frame_t0(SampleSpan samples, int sample_count, int sample_rate,
                          std::span<std::int32_t> frame_periods, T0CandidateTable& candidates,
                          SampleSpan work = SampleSpan{});

// The T0 track of the input: estimate_raw_frame_t0 followed by
// correct_t0_track. For the tools that show the steps, `candidates` (when
// given) keeps the candidate table and `raw_frame_periods` (when given) the
// M frames before the correction; `work` as for estimate_raw_frame_t0.
// Returns the frame count M, or 0 on failure.
int estimate_frame_t0(SampleSpan samples, int sample_count, int sample_rate,
                      std::span<std::int32_t> frame_periods,
                      T0CandidateTable* candidates = nullptr,
                      std::vector<std::int32_t>* raw_frame_periods = nullptr,
                      SampleSpan work = SampleSpan{});

}  // namespace qern
