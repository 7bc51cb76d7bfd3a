// Helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/file_io.h"

namespace qern::fuzz {

// A read-only stream over `bytes` (which must outlive it); an empty input
// gives an empty stream.
FileHandle memory_file(std::span<const std::uint8_t> bytes);

// Sends the messages of the code under test to the null device instead of
// standard error, and forgets the ones kept in memory. Call once per input.
void quiet_log();

// A private folder for the files a target writes, made on first use and
// removed when the process ends. No trailing slash.
const std::string& scratch_folder();

// A canonical WAV file: 44-byte header (fmt size 16; format 1, PCM, or 3,
// IEEE float) and `data` as the data chunk.
std::vector<std::uint8_t> wav_file(int channels, int bits, int sample_rate,
                                   std::span<const std::uint8_t> data, int format_tag = 1);

// Writes `bytes` to `path`; aborts when that fails (the harness is broken).
void write_whole_file(const std::string& path, std::span<const std::uint8_t> bytes);

// Stops the process with a message when `condition` is false: a property
// of the code under test does not hold for this input.
void check(bool condition, const char* what);

// Reads the fuzzer's bytes front to back; past the end everything reads 0.
struct ByteReader {
    std::span<const std::uint8_t> bytes;
    std::size_t at = 0;

    std::uint8_t byte() { return at < bytes.size() ? bytes[at++] : 0; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | (byte() << 8)); }
    std::span<const std::uint8_t> rest() { return bytes.subspan(std::min(at, bytes.size())); }
};

}  // namespace qern::fuzz
