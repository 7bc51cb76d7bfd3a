// The pitch-mark cache (.pmk) beside the input, and the analysis that makes it.
//
// File layout, little-endian, no padding: int16 version (PMK_VERSION),
// double mean period of the voiced entries, int32 entry count n, then n
// entries of int32 position and int32 period; 14 + 8n bytes in all.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "base/file_io.h"
#include "analysis/sample_analysis.h"

namespace qern {

inline constexpr int PMK_VERSION = 19;
inline constexpr int PMK_MIN_REUSE_VERSION = 17;
// Bytes before the first entry, and per entry.
inline constexpr int PMK_HEADER_SIZE = 14;
inline constexpr int PMK_ENTRY_SIZE = 8;

// Returns the cache file of the input at `input_path` open for reading,
// analysing `input` (its samples) first when no usable cache exists (none,
// an old version, or one last modified before the input file) or `flag_R`
// is set; null after logging on failure. An input still being read from its
// file (open_wav_file) is read through before it is analysed.
FileHandle open_pitch_mark_cache(DecodedInput& input, const std::string& input_path, int flag_R);

// Loads the mean period and the marks from an open cache file into
// `result`. Every entry is checked against an input of `sample_count`
// samples: periods UNVOICED_T0..MAX_VOICED_PERIOD, and a grain of two
// periods around each position inside the samples with their margins.
// Returns 0, or -1 after logging. Does not close the stream.
int read_pitch_mark_file(std::FILE* stream, int sample_count, AnalysisResult& result);

// The cache name for an input path: its last '.' or '\' becomes '_'
// ("voice.wav" gives "voice_wav.pmk"). Empty when there is neither.
std::string pitch_mark_cache_name(const std::string& input_path);

// Analyses `input` (only read) and puts a complete cache file at
// `cache_path`: written beside it under a temporary name and renamed into
// place. Returns 0, or -1 after logging.
int create_pitch_mark_file(const DecodedInput& input, const std::string& cache_path);

// Checks marks 1..n of `mark_periods` and `mark_positions` (element 0 is the
// start entry the first distance is measured from) against the rules of the
// cache: periods UNVOICED_T0..MAX_MARK_STEP, consecutive positions
// UNVOICED_T0..MAX_MARK_STEP apart. Returns 0, or -1 after logging the first
// entry that breaks them. With n below 1 nothing is checked.
int check_pitch_marks(std::span<const std::int32_t> mark_periods,
                      std::span<const std::int32_t> mark_positions, int n);

// Writes marks 1..n of `mark_periods` and `mark_positions` with their mean
// voiced period to `path`, after check_pitch_marks. Returns 0, or -1 after
// logging (the file then holds what was written so far).
int write_pitch_mark_file(const std::string& path, std::span<const std::int32_t> mark_periods,
                          std::span<const std::int32_t> mark_positions, int n);

// Moves the complete file `written` to `cache_path`. When the rename fails
// but `cache_path` already holds a complete cache (another process has just
// put one there), that one is kept. `written` is removed in every case.
// Returns 0 when `cache_path` now holds a complete cache, else -1.
int install_pitch_mark_file(const std::string& written, const std::string& cache_path);

// True when `path` holds a whole cache file: a reusable version and exactly
// the entries its count promises.
bool is_complete_pitch_mark_file(const std::string& path);

}  // namespace qern
