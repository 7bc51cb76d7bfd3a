// Repair of the frame T0 track: short voiced islands become unvoiced, and the
// frames around every long run re-choose their T0 from their candidate peaks.
#pragma once

#include <cstdint>
#include <span>

#include "analysis/frame_t0.h"

namespace qern {

// End (exclusive) of the run of continuous T0 that starts at frame `start` of
// the track `t0` (its size is the frame count n): a frame holding
// UNVOICED_T0 is a run of its own; otherwise the run goes on while each next
// frame lies within [0.9, 1.1] times the frame before it. The last frame never
// continues a run. Returns 0 when start >= n.
int find_run_end(int start, std::span<const std::int32_t> t0);

// Corrects the track `t0` (one entry per frame, UNVOICED_T0 or 50..511) in
// place: runs shorter than 5 frames become UNVOICED_T0; from every run at
// least as long as its neighbours the frames before it (backwards) and after
// it (forwards) take the first candidate of `candidates` that continues the
// period within 10 per cent. `candidates` holds at least t0.size() frames.
void correct_t0_track(std::span<std::int32_t> t0, const T0CandidateTable& candidates);

}  // namespace qern
