// Loading a linear PCM WAV file (8, 16, 24 or 32 bits, mono or stereo) into
// the job's samples, stereo mixed to mono, on the integer scale of the file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "driver/resample_job.h"

namespace qern {

// A data chunk may declare this many bytes more than the file holds: the
// samples past the end read as 0.0 (a truncated recording keeps its length).
// A larger shortfall is taken for a broken or hostile header, and the data
// size is clamped to the bytes present, so that no declared size makes a
// run allocate or read far beyond the file.
inline constexpr std::int64_t MAX_DATA_SHORTFALL = 1 << 20;

// Loads the WAV file at `path` (UTF-8; the name must end in ".wav" or
// ".WAV"): sets sample_rate, sample_count and samples. Returns 0, or -1
// after logging, with no samples in the job. The file is closed either way.
int read_wav_file(const std::string& path, ResampleJob& job);

// Reads the RIFF, WAVE and fmt headers and finds the data chunk: sets
// sample_rate and sample_count, yields the channel count and the bytes per
// sample, and leaves `file` at the first sample byte. Returns 0 or -1.
int read_wav_headers(std::FILE* file, ResampleJob& job, int& channel_count,
                     int& bytes_per_sample);

// Reads the fmt chunk from its size field on: sets sample_rate, yields the
// channel count and bits per sample, leaves `file` after the chunk (a size
// other than 16 gives a warning on standard error). Returns 0 or -1.
int read_fmt_chunk(std::FILE* file, ResampleJob& job, int& channel_count,
                   int& bits_per_sample);

// Allocates the job's SampleBuffer of sample_count samples and fills it from
// `file`, each frame the mean of its channels. Values the file does not hold
// stay 0.0. Returns 0, or -1 after logging when the memory cannot be had.
int read_sample_data(ResampleJob& job, int bytes_per_sample, std::FILE* file,
                     int channel_count);

}  // namespace qern
