// Synthesis of the whole note from the job's samples and pitch marks.
#pragma once

#include "driver/resample_job.h"

namespace qern {

// Lays the fixed and the vowel section, smooths (H), low-passes (g > 0),
// normalises (P, volume) and hands the output buffer to the job.
// Returns 0, or -1 after logging (the job's samples are then unchanged).
int synthesize(ResampleJob& job);

}  // namespace qern
