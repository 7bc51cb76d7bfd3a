#include "demo_voice.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "wav/wav_writer.h"

namespace qern::demo {

namespace {

constexpr double S_START = 0.060, S_END = 0.165;        // seconds
constexpr double VOWEL_START = 0.150, VOWEL_END = 1.78;  // seconds
constexpr double VOICE_LENGTH = 1.85;                    // seconds
constexpr double VOICE_F0 = 196.0;                       // G3

// A two-pole resonator with unit gain at 0 Hz.
struct Resonator {
    Resonator(double frequency, double bandwidth) {
        const double r = std::exp(-PI * bandwidth / RATE);
        a1 = 2.0 * r * std::cos(TWO_PI * frequency / RATE);
        a2 = -r * r;
        gain = 1.0 - a1 - a2;
    }
    double step(double x) {
        const double y = gain * x + a1 * y1 + a2 * y2;
        y2 = y1;
        y1 = y;
        return y;
    }
    double a1, a2, gain;
    double y1 = 0.0, y2 = 0.0;
};

// Derivative of a Rosenberg glottal flow pulse at phase `x` (0..1) of a
// period: a slow opening over 40 % of the period, a faster closing over 16 %,
// then closed. The sharp closure gives the voice its harmonics.
double glottal_flow_derivative(double x) {
    constexpr double OPEN = 0.40, CLOSE = 0.16;
    if (x < OPEN) return 0.5 * PI / OPEN * std::sin(PI * x / OPEN);
    if (x < OPEN + CLOSE) return -PI / (2.0 * CLOSE) * std::sin(PI * (x - OPEN) / (2.0 * CLOSE));
    return 0.0;
}

}  // namespace

double ramp(double t, double from, double to) {
    if (t <= from) return 0.0;
    if (t >= to) return 1.0;
    return 0.5 - 0.5 * std::cos(PI * (t - from) / (to - from));
}

std::vector<double> make_voice() {
    const int length = static_cast<int>(VOICE_LENGTH * RATE);
    std::vector<double> voice(static_cast<std::size_t>(length), 0.0);
    std::mt19937 rng(20240607);
    std::normal_distribution<double> gauss(0.0, 1.0);

    // Vowel /a/: glottal source through a cascade of formants.
    Resonator formants[] = {{780.0, 90.0}, {1180.0, 100.0}, {2800.0, 150.0}, {3500.0, 200.0}, {4300.0, 250.0}};
    Resonator presence(6500.0, 3000.0);
    double phase = 0.0;  // position within the current period, 0..1
    double period_jitter = 1.0;
    double amplitude = 1.0;
    double previous = 0.0;
    for (int i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / RATE;
        const double drift = 1.0 + 0.004 * std::sin(TWO_PI * 0.7 * t) + 0.003 * std::sin(TWO_PI * 1.9 * t + 1.0);
        const double f0 = VOICE_F0 * drift / period_jitter;
        phase += f0 / RATE;
        if (phase >= 1.0) {
            phase -= 1.0;
            period_jitter = 1.0 + 0.004 * std::clamp(gauss(rng), -2.5, 2.5);  // jitter
            amplitude = 1.0 + 0.05 * std::clamp(gauss(rng), -2.5, 2.5);      // shimmer
        }
        const double envelope = ramp(t, VOWEL_START, VOWEL_START + 0.035) * (1.0 - ramp(t, VOWEL_END - 0.09, VOWEL_END));
        double source = amplitude * glottal_flow_derivative(phase);
        source += 0.05 * gauss(rng) * (phase < 0.56 ? 1.0 : 0.3);  // aspiration
        double y = envelope * source;
        // The higher formants and the breath above them, in parallel.
        const double air = presence.step(y) * 0.015;
        for (Resonator& f : formants) y = f.step(y);
        y += air;
        // Lip radiation: a first difference (+6 dB per octave).
        voice[static_cast<std::size_t>(i)] = y - 0.97 * previous;
        previous = y;
    }
    double vowel_peak = 0.0;
    for (double v : voice) vowel_peak = std::max(vowel_peak, std::fabs(v));

    // The "s": noise in two high bands, differenced, rising and falling.
    Resonator hiss[] = {{5500.0, 1500.0}, {8000.0, 2500.0}};
    double last = 0.0;
    std::vector<double> noise(voice.size(), 0.0);
    double noise_peak = 0.0;
    for (int i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / RATE;
        const double envelope = ramp(t, S_START, S_START + 0.030) * (1.0 - ramp(t, S_END - 0.035, S_END));
        const double white = gauss(rng);
        const double y = hiss[0].step(white) + 0.8 * hiss[1].step(white);
        const double v = envelope * (y - 0.95 * last);
        last = y;
        noise[static_cast<std::size_t>(i)] = v;
        noise_peak = std::max(noise_peak, std::fabs(v));
    }
    for (std::size_t i = 0; i < voice.size(); ++i) {
        voice[i] = voice[i] / vowel_peak * 15000.0 + noise[i] / noise_peak * 4500.0;
    }
    return voice;
}

bool write_wav(const std::string& path, const std::vector<double>& samples) {
    SampleBuffer buffer = SampleBuffer::allocate(static_cast<int>(samples.size()));
    if (buffer.empty()) return false;
    for (int i = 0; i < buffer.count(); ++i) {
        buffer[i] = std::clamp(samples[static_cast<std::size_t>(i)], -32768.0, 32767.0);
    }
    return write_wav_file(path, buffer, RATE) == 0;
}

}  // namespace qern::demo
