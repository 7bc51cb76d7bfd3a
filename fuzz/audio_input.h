// Fuzzed audio: a format byte, a rate byte and PCM bytes, made into a WAV
// file and loaded by the WAV reader, so that every bit depth and channel
// count reaches the analysis and the synthesis as it would from disk.
#pragma once

#include <array>
#include <cstdint>

#include "fuzz_support.h"
#include "wav/wav_reader.h"

namespace qern::fuzz {

inline constexpr std::array<int, 4> AUDIO_BITS = {8, 16, 24, 32};
inline constexpr std::array<int, 2> AUDIO_FLOAT_BITS = {32, 64};
inline constexpr std::array<int, 8> AUDIO_RATES = {44100, 48000, 22050, 8000,
                                                   96000, 11025, 1000, 192000};

// Format byte: bits 0-1 the bit depth (AUDIO_BITS), bit 2 stereo, bit 3
// IEEE float (bit 0 then chooses 32 or 64 bits). Rate byte: an entry of
// AUDIO_RATES. Returns 0 with the samples in `input`, or -1 when the reader
// refuses the data (less than one frame).
inline int load_audio(ByteReader& in, DecodedInput& input) {
    const std::uint8_t format = in.byte();
    const bool is_float = (format & 8) != 0;
    const int bits = is_float ? AUDIO_FLOAT_BITS[format & 1] : AUDIO_BITS[format & 3];
    const int channels = (format & 4) ? 2 : 1;
    const int rate = AUDIO_RATES[in.byte() & 7];
    const auto wav = wav_file(channels, bits, rate, in.rest(), is_float ? 3 : 1);
    in.at = in.bytes.size();
    const FileHandle file = memory_file(wav);
    check(file != nullptr, "memory stream opens");
    WavFormat read_format;
    int sample_count = 0;
    if (read_wav_headers(file.get(), read_format, sample_count) != 0) return -1;
    check(read_format.channel_count == channels && read_format.bits_per_sample == bits &&
              (read_format.encoding == SampleEncoding::IEEE_FLOAT) == is_float,
          "header read back");
    input.sample_rate = read_format.sample_rate;
    return read_sample_data(file.get(), read_format, sample_count, input.samples);
}

}  // namespace qern::fuzz
