// Pitch-mark placement: one mark per period over every voiced run of the
// input, following the rising zero crossings of the pitch fundamental wave,
// and a mark every UNVOICED_T0 samples over the unvoiced stretches between.
#pragma once

#include <cstdint>
#include <span>

#include "analysis/frame_t0.h"
#include "base/sample_buffer.h"
#include "wav/wav_reader.h"

namespace qern {

// Marks of a voiced run lie one period apart: MIN_VOICED_PERIOD up to the
// longest lag the autocorrelation covers.
inline constexpr int MAX_MARK_STEP = AUTOCORRELATION_MAX_LAG;

// One pitch mark: position in the input (samples) and period there.
struct PitchMarkEntry {
    std::int32_t position = 0;
    std::int32_t period = 0;
};

// Entries each mark array needs for `sample_count` samples: final positions
// start at 0, lie at least 49 apart and stay below N + 254.
int mark_capacity_for(int sample_count);

// The analysis-side marks, 1-based with the start entry at element 0.
// Both spans have the same size (at least mark_capacity_for(N)).
struct PitchMarkArrays {
    std::span<std::int32_t> periods;
    std::span<std::int32_t> positions;
};

// What the placement works on: the (filtered) samples with their margins,
// the fundamental wave in the same numbering, and the corrected T0 track
// (one entry per frame; a frame past its end counts as UNVOICED_T0).
struct MarkSources {
    SampleSpan samples;
    int sample_count = 0;
    SampleSpan wave;
    std::span<const std::int32_t> frame_periods;
};

// Index i of `wave` is a rising zero crossing when wave[i-1] < 0 <= wave[i].
// The smallest one in [from, to); `to` when there is none (`from` when
// from >= to); 0 when from < 1. Reads wave[from-1 .. to-1].
int find_rising_zero_forward(SampleSpan wave, int from, int to);
// The largest one in (low, from]; `low` when there is none (`from` when
// from <= low). Reads wave[low .. from].
int find_rising_zero_backward(SampleSpan wave, int from, int low);

// The period at sample `position`: the T0 of the frames around it,
// interpolated, refined by the autocorrelation of the 1024 samples around it
// over 10 lags. Reads samples[position-512 .. position+511]. Returns 0 for a
// negative position, UNVOICED_T0 between two unvoiced frames, else 50..510.
int period_at(const MarkSources& sources, int position);

// Fills `wave` (indices -1024 .. N+1023 are rewritten; the frames need
// N + 1024 values after sample 0 and 1024 before it) with the pitch
// fundamental wave of the samples: each voiced frame filtered by a cosine of
// its period under a 4-period Hann window, cross-faded between frames.
// Reads samples[-1277 .. N+1531]. Returns 0, or -1 (before touching `wave`)
// when a voiced period lies outside 50..511 or the scratch cannot be
// allocated.
int compute_fundamental_wave(SampleSpan wave, SampleSpan samples, int sample_count,
                             std::span<const std::int32_t> frame_periods);

// Offset that moves the rising crossing about one period before `crossing`
// (searched back to `run_start`) onto the centre of the strongest
// Hann-windowed one-period window near it.
int find_mark_shift(const MarkSources& sources, int crossing, int run_start);

// Places the marks of the voiced run of frames first_frame .. end_frame-1
// after mark `last_mark`, joining the run to the marks before it. Returns the
// index of the new last mark, or 0 on failure (after logging).
int place_run_marks(const MarkSources& sources, int first_frame, int end_frame,
                    const PitchMarkArrays& marks, int last_mark);

// Places all marks of `input`: high-passes a copy of its samples (which
// are only read), then marks every voiced run of `frame_periods` (M
// entries) and the gaps between them. marks.positions[0] is set to 0; marks.periods[0] is the
// caller's start entry. Returns the index of the last mark, or 0 on failure.
// The high-passed copy is made in `work` when given (a span of the input's
// sample count and margins, whose contents do not matter), else in memory
// of its own.
int place_pitch_marks(const DecodedInput& input, std::span<const std::int32_t> frame_periods,
                      const PitchMarkArrays& marks, SampleSpan work = SampleSpan{});

}  // namespace qern
