// Loading a WAV file into the job's samples, stereo mixed to mono: linear
// PCM of 8, 16, 24 or 32 bits on the integer scale of the file, and IEEE
// float of 32 or 64 bits brought to the 16-bit scale (1.0 becomes 32768.0);
// either plain (format tag 1 or 3) or in the extensible layout (format tag
// 0xFFFE with a PCM or float sub-format, read as the plain format of that
// sub-format and bit depth).
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

// How the sample values of a file are stored.
enum class SampleEncoding { PCM, IEEE_FLOAT };

// Loads the WAV file at `path` (UTF-8; the name must end in ".wav" or
// ".WAV"): sets sample_rate, sample_count and samples. Returns 0, or -1
// after logging, with no samples in the job. The file is closed either way.
int read_wav_file(const std::string& path, ResampleJob& job);

// Reads the RIFF, WAVE and fmt headers and finds the data chunk: sets
// sample_rate and sample_count, yields the channel count, the bytes per
// sample and their encoding, and leaves `file` at the first sample byte.
// Returns 0 or -1.
int read_wav_headers(std::FILE* file, ResampleJob& job, int& channel_count,
                     int& bytes_per_sample, SampleEncoding& encoding);

// Reads the fmt chunk from its size field on: sets sample_rate, yields the
// channel count, bits per sample and encoding, leaves `file` after the chunk.
// A size other than 16 gives a warning on standard error, except the sizes
// of the float (18) and extensible (40) layouts. Returns 0 or -1.
int read_fmt_chunk(std::FILE* file, ResampleJob& job, int& channel_count,
                   int& bits_per_sample, SampleEncoding& encoding);

// Allocates the job's SampleBuffer of sample_count samples and fills it from
// `file`, each frame the mean of its channels. Values the file does not hold
// stay 0.0. Returns 0, or -1 after logging when the memory cannot be had.
int read_sample_data(ResampleJob& job, int bytes_per_sample, std::FILE* file,
                     int channel_count, SampleEncoding encoding = SampleEncoding::PCM);

}  // namespace qern
