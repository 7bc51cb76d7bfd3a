// Synthetic voice-like test signals, and a decoded input holding one.
#pragma once

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "wav/wav_reader.h"

namespace qern::test {

// A decoded input holding `signal` at `sample_rate` Hz.
inline DecodedInput make_input(const std::vector<double>& signal, int sample_rate) {
    DecodedInput input;
    input.sample_rate = sample_rate;
    input.samples = SampleBuffer::allocate(static_cast<int>(signal.size()));
    for (int i = 0; i < input.samples.count(); ++i) input.samples[i] = signal[static_cast<std::size_t>(i)];
    return input;
}

// A voice-like periodic signal: five harmonics with falling amplitudes whose
// fundamental period (in samples) at sample n is period(n); zero where the
// period is 0.
inline std::vector<double> harmonic_signal(int count, const std::function<double(int)>& period,
                                           double amplitude = 8000.0) {
    constexpr double two_pi = 6.283185307179586;
    std::vector<double> x(static_cast<std::size_t>(count), 0.0);
    double phase = 0.0;
    for (int n = 0; n < count; ++n) {
        const double p = period(n);
        if (p <= 0.0) continue;
        double v = 0.0;
        for (int h = 1; h <= 5; ++h) v += std::sin(h * phase) / h;
        x[static_cast<std::size_t>(n)] = amplitude * v;
        phase = std::fmod(phase + two_pi / p, two_pi);
    }
    return x;
}

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

}  // namespace qern::test
