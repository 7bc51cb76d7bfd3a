// Helpers of the tests of the voicebank tools and host formats: voice-like
// signals and their WAV files in several encodings.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

namespace qern::test {

// A sung-vowel-like test signal: a pulse-shaped tone whose pitch glides
// from `start_hz` to `end_hz`, a breathy (noise) stretch in its first fifth,
// a short silence in the middle and a fade-out; values on the 16-bit scale.
// `seed` varies the noise.
inline std::vector<double> voice_signal(int count, int sample_rate, double start_hz, double end_hz,
                                        unsigned seed = 1) {
    constexpr double two_pi = 6.283185307179586;
    std::vector<double> x(static_cast<std::size_t>(count), 0.0);
    double phase = 0.0;
    unsigned state = seed * 2654435761u + 12345u;
    for (int n = 0; n < count; ++n) {
        const double t = static_cast<double>(n) / count;
        state = state * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(state >> 8) / 16777216.0 - 0.5) * 3000.0;
        double v = 0.0;
        if (t < 0.2) {
            v = noise;  // a consonant-like stretch
        } else if (t < 0.48 || t > 0.52) {
            const double hz = start_hz + (end_hz - start_hz) * t;
            for (int h = 1; h <= 8; ++h) v += std::sin(h * phase) / (h * 0.7 + 0.3);
            v *= 5200.0 * std::min(1.0, (1.0 - t) * 8.0);
            phase = std::fmod(phase + two_pi * hz / sample_rate, two_pi);
        }
        x[static_cast<std::size_t>(n)] = v;
    }
    return x;
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
