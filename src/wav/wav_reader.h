// Loading a WAV file as mono samples (stereo mixed down): linear
// PCM of 8, 16, 24 or 32 bits on the integer scale of the file, and IEEE
// float of 32 or 64 bits brought to the 16-bit scale (1.0 becomes 32768.0);
// either plain (format tag 1 or 3) or in the extensible layout (format tag
// 0xFFFE with a PCM or float sub-format, read as the plain format of that
// sub-format and bit depth).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/sample_buffer.h"

namespace qern {

// A data chunk may declare this many bytes more than the file holds: the
// samples past the end read as 0.0 (a truncated recording keeps its length).
// A larger shortfall is taken for a broken or hostile header, and the data
// size is clamped to the bytes present, so that no declared size makes a
// run allocate or read far beyond the file.
inline constexpr std::int64_t MAX_DATA_SHORTFALL = 1 << 20;

struct WavSource;

// A voice sample as the analysis and the synthesis take it: mono samples
// (samples.count() of them, with zero margins) at sample_rate Hz.
// Opened with open_wav_file, the samples are read from the file as they are
// wanted (decode_samples): `source` is then the open file, and the buffer
// holds zeros where nothing was decoded yet.
// A note may instead decode only the stretches its grains read
// (decode_sample_stretches): they are then in `stretches`, and `samples`
// stays zeros, its count the input's.
struct DecodedInput {
    int sample_rate = 0;
    SampleBuffer samples;
    SampleStretches stretches;
    std::shared_ptr<WavSource> source;
};

// How the sample values of a file are stored.
enum class SampleEncoding { PCM, IEEE_FLOAT };

// What the fmt chunk says about the samples.
struct WavFormat {
    int sample_rate = 0;
    int channel_count = 0;
    int bits_per_sample = 0;
    SampleEncoding encoding = SampleEncoding::PCM;

    int bytes_per_sample() const { return bits_per_sample / 8; }
};

// Loads the WAV file at `path` (UTF-8; the name must end in ".wav" or
// ".WAV") into `input`. Returns 0, or -1 after logging, with no samples in
// `input`. The file is closed either way.
int read_wav_file(const std::string& path, DecodedInput& input);

// As read_wav_file, but only the headers are read: `input` gets its sample
// rate and a buffer of zeros of the sample count (its pages taken as they
// are written), and keeps the file open for decode_samples. Returns 0, or
// -1 after logging.
int open_wav_file(const std::string& path, DecodedInput& input);

// Decodes the samples [first, last) (clamped to the buffer) of an input
// opened with open_wav_file, exactly as read_wav_file would have them;
// nothing when the input has no open file. Returns 0.
int decode_samples(DecodedInput& input, int first, int last);

// The same for the samples of `ranges`, in any order (ranges that overlap
// or touch are taken as one; each is clamped to the buffer); the
// samples between them are neither decoded nor, where the file allows,
// read. Returns 0.
int decode_sample_ranges(DecodedInput& input, std::span<const SampleRange> ranges);

// Decodes the samples of `ranges` (taken as decode_sample_ranges takes
// them) into `input.stretches`, one stretch per joined range, taken from
// `memory` when given (it must outlive the input); the samples between
// them are neither decoded nor, where the file allows, read. Without the
// memory for the stretches, decodes the ranges into `input.samples`
// instead. Nothing when the input has no open file. Returns 0.
int decode_sample_stretches(DecodedInput& input, std::vector<SampleRange> ranges, BulkArena* memory);

// Decodes every sample not decoded yet and closes the file: after it the
// input is what read_wav_file gives. Returns 0.
int decode_all_samples(DecodedInput& input);

// Reads the RIFF, WAVE and fmt headers and finds the data chunk: fills
// `format`, sets `sample_count` (frames the data chunk holds, at least 1)
// and leaves `file` at the first sample byte. Returns 0, or -1 after logging.
int read_wav_headers(std::FILE* file, WavFormat& format, int& sample_count);

// Reads the fmt chunk from its size field on into `format` and leaves
// `file` after the chunk. A size other than 16 gives a warning on standard
// error, except the sizes of the float (18) and extensible (40) layouts.
// Returns 0, or -1 after logging.
int read_fmt_chunk(std::FILE* file, WavFormat& format);

// Reads `sample_count` frames of `format` from `file` into a new buffer in
// `samples`, each frame the mean of its channels. Values the file does not
// hold stay 0.0. Returns 0, or -1 after logging when the memory cannot be had.
int read_sample_data(std::FILE* file, const WavFormat& format, int sample_count,
                     SampleBuffer& samples);

}  // namespace qern
