// Test helpers that spell WAV files byte by byte: little-endian fields, fmt
// chunks, whole files of given samples.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace qern::test {

// Little-endian integers as bytes.
inline std::string le16(int value) {
    const auto v = static_cast<std::uint16_t>(value);
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}
inline std::string le32(std::int64_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    std::string s;
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return s;
}

// The 16 bytes of a plain fmt chunk body.
inline std::string fmt_body(int channels, int bits, int rate, int format_tag = 1) {
    const int block = channels * bits / 8;
    return le16(format_tag) + le16(channels) + le32(rate) + le32(static_cast<std::int64_t>(rate) * block) +
           le16(block) + le16(bits);
}

// A WAV file: RIFF header, the fmt chunk (`fmt` as its body), any chunks in
// `between`, then "data" with `declared_size` (default: the size of `data`)
// and the data bytes.
inline std::string wav_file(const std::string& fmt, const std::string& data,
                            std::int64_t declared_size = -1, const std::string& between = "") {
    const std::int64_t size = declared_size < 0 ? static_cast<std::int64_t>(data.size()) : declared_size;
    const std::string body = "WAVE" + std::string("fmt ") + le32(static_cast<std::int64_t>(fmt.size())) + fmt +
                             between + "data" + le32(size) + data;
    return "RIFF" + le32(static_cast<std::int64_t>(body.size())) + body;
}

// 16-bit sample values as data bytes.
inline std::string pcm16(const std::vector<int>& values) {
    std::string s;
    for (int v : values) s += le16(v);
    return s;
}

// Samples rounded to 16-bit integers (clipped).
inline std::vector<int> to_int16(const std::vector<double>& x) {
    std::vector<int> v;
    v.reserve(x.size());
    for (const double s : x) v.push_back(static_cast<int>(std::lround(std::clamp(s, -32768.0, 32767.0))));
    return v;
}

// A plain 16-bit mono WAV file of `x`.
inline std::string wav16(const std::vector<double>& x, int sample_rate) {
    return wav_file(fmt_body(1, 16, sample_rate), pcm16(to_int16(x)));
}

inline std::string le64(std::uint64_t v) {
    std::string s;
    for (int i = 0; i < 8; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return s;
}

inline std::string float32_bytes(float value) {
    std::uint32_t u = 0;
    std::memcpy(&u, &value, sizeof u);
    return le32(static_cast<std::int64_t>(u));
}

inline std::string float64_bytes(double value) {
    std::uint64_t u = 0;
    std::memcpy(&u, &value, sizeof u);
    return le64(u);
}

}  // namespace qern::test
