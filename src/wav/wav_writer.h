// Writing samples as a 16-bit mono linear PCM WAV file.
#pragma once

#include <cstdio>
#include <string>

#include "base/sample_buffer.h"

namespace qern {

// Writes the samples.count() samples of `samples` at `sample_rate` Hz to
// `path` (UTF-8): a 44-byte header, then each sample truncated toward zero
// as a 16-bit integer (its low 16 bits). The file is written beside `path`
// under a temporary name and renamed over `path` only when complete; on
// failure the temporary file is removed and `path` is untouched. Returns 0,
// or -1 after logging.
int write_wav_file(const std::string& path, const SampleBuffer& samples, int sample_rate);

// Writes the 24 bytes from "fmt " to the bits per sample (16-bit mono at
// `sample_rate` Hz) to `file`. Returns 0, or -1 after logging.
int write_fmt_chunk(int sample_rate, std::FILE* file);

}  // namespace qern
