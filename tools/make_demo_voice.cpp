// Writes the built-in demo voice: 1.5 seconds of a sung "a" at 44100 Hz,
// 16-bit mono. A glottal pulse train at 196 Hz (G3) with a gentle vibrato
// passes through three formant resonators; the level fades in and out.
//
//   qern_demo_voice OUTPUT.wav
#include <cmath>
#include <cstdio>

#include "driver/error_log.h"
#include "driver/resample_job.h"
#include "wav/wav_writer.h"

namespace {

constexpr double PI = 3.141592653589793;
constexpr double TWO_PI = 6.283185307179586;
constexpr int RATE = 44100;
constexpr int LENGTH = RATE * 3 / 2;

// A two-pole resonator at `frequency` Hz with `bandwidth` Hz.
struct Resonator {
    Resonator(double frequency, double bandwidth) {
        const double r = std::exp(-PI * bandwidth / RATE);
        a1 = 2.0 * r * std::cos(TWO_PI * frequency / RATE);
        a2 = -r * r;
        gain = 1.0 - r;
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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.wav\n", argv[0]);
        return 2;
    }
    qern::ResampleJob job;
    job.sample_rate = RATE;
    job.samples = qern::SampleBuffer::allocate(LENGTH);
    job.sample_count = LENGTH;

    Resonator formants[] = {{800.0, 80.0}, {1200.0, 90.0}, {2500.0, 120.0}};
    double phase = 0.0;
    double peak = 0.0;
    for (int i = 0; i < LENGTH; ++i) {
        const double t = static_cast<double>(i) / RATE;
        const double f0 = 196.0 * (1.0 + 0.01 * std::sin(TWO_PI * 5.5 * t));
        phase += f0 / RATE;
        if (phase >= 1.0) phase -= 1.0;
        // A smooth glottal pulse: open for 60 % of the period, then closed.
        const double pulse = phase < 0.6 ? std::sin(PI * phase / 0.6) * std::sin(PI * phase / 0.6) : 0.0;
        double y = 0.0;
        for (auto& f : formants) y += f.step(pulse - 0.3);
        job.samples[i] = y;
        peak = std::fmax(peak, std::fabs(y));
    }
    const int fade = RATE / 20;
    for (int i = 0; i < LENGTH; ++i) {
        const double edge = std::fmin(1.0, std::fmin(i, LENGTH - 1 - i) / static_cast<double>(fade));
        job.samples[i] = job.samples[i] / peak * 12000.0 * edge;
    }
    return qern::write_wav_file(argv[1], job) == 0 ? 0 : 1;
}
