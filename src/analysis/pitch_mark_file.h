// The pitch-mark cache (.pmk) beside the input, and the analysis that makes it.
#pragma once

#include <cstdio>
#include <string>

#include "driver/file_io.h"
#include "driver/resample_job.h"

namespace qern {

constexpr int PMK_VERSION = 19;
constexpr int PMK_MIN_REUSE_VERSION = 17;

// Returns the job's cache file open for reading, analysing the input first
// when no usable cache exists or `flag_R` is set; null after logging on failure.
FileHandle open_pitch_mark_cache(ResampleJob& job, const std::string& input_path, int flag_R);

// Loads mean_period and marks (ending with (0, 0)) from an open cache file.
// Returns 0, or -1 after logging. Does not close the stream.
int read_pitch_mark_file(std::FILE* stream, ResampleJob& job);

}  // namespace qern
