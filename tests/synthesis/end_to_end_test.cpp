// The whole resampler on a synthetic voice: the executable analyses the
// sample, synthesises notes at several pitches, and the notes come out at
// those pitches (measured here by autocorrelation) and at the requested
// length.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"
#include "support/signals.h"
#include "wav/wav_reader.h"
#include "wav/wav_writer.h"

namespace qern {
namespace {

constexpr double PI = 3.141592653589793;
constexpr int RATE = 44100;

// A sung vowel at 180 Hz (a period of exactly 245 samples): a glottal pulse
// train (slow opening, fast closing) through three formant resonators, with
// a short fade at both ends.
std::vector<double> synthetic_voice(int length) {
    struct Resonator {
        double a1, a2, y1 = 0.0, y2 = 0.0;
        Resonator(double frequency, double bandwidth) {
            const double r = std::exp(-PI * bandwidth / RATE);
            a1 = 2.0 * r * std::cos(2.0 * PI * frequency / RATE);
            a2 = -r * r;
        }
        double step(double x) {
            const double y = (1.0 - a1 - a2) * x + a1 * y1 + a2 * y2;
            y2 = y1;
            y1 = y;
            return y;
        }
    };
    Resonator formants[] = {{700.0, 90.0}, {1200.0, 110.0}, {2600.0, 160.0}};
    std::vector<double> x(static_cast<std::size_t>(length));
    double peak = 0.0;
    for (int i = 0; i < length; ++i) {
        const double phase = (i % 245) / 245.0;
        double y = phase < 0.4 ? std::sin(PI * phase / 0.4) : phase < 0.55 ? -2.0 * std::sin(PI * (phase - 0.4) / 0.3) : 0.0;
        for (Resonator& f : formants) y = f.step(y);
        x[static_cast<std::size_t>(i)] = y;
        peak = std::max(peak, std::fabs(y));
    }
    for (int i = 0; i < length; ++i) {
        const double edge = std::min(1.0, std::min(i, length - 1 - i) / 2000.0);
        x[static_cast<std::size_t>(i)] *= 12000.0 / peak * edge;
    }
    return x;
}

// Normalised autocorrelation of x[begin, end - lag) against itself `lag` later.
double correlation(const std::vector<double>& x, int begin, int end, int lag) {
    double xy = 0.0, xx = 0.0, yy = 0.0;
    for (int n = begin; n + lag < end; ++n) {
        const double a = x[static_cast<std::size_t>(n)], b = x[static_cast<std::size_t>(n + lag)];
        xy += a * b;
        xx += a * a;
        yy += b * b;
    }
    return xx > 0.0 && yy > 0.0 ? xy / std::sqrt(xx * yy) : 0.0;
}

// The period of x over [begin, end): the first lag from 20 to 700 samples
// whose correlation peaks within 10 % of the best, refined at the peak near
// a multiple of it about 3000 samples long, with a parabola through the
// three lags around that peak.
double measure_period(const std::vector<double>& x, int begin, int end) {
    std::vector<double> r(702, 0.0);
    double top = 0.0;
    for (int lag = 19; lag <= 701; ++lag) {
        r[static_cast<std::size_t>(lag)] = correlation(x, begin, begin + 8000, lag);
        top = std::max(top, r[static_cast<std::size_t>(lag)]);
    }
    int best = 20;
    for (int lag = 20; lag <= 700; ++lag) {
        const double v = r[static_cast<std::size_t>(lag)];
        if (v > 0.9 * top && v >= r[static_cast<std::size_t>(lag - 1)] && v >= r[static_cast<std::size_t>(lag + 1)]) {
            best = lag;
            break;
        }
    }
    const int multiple = std::max(1, 3000 / best);
    int peak = multiple * best;
    double peak_value = -2.0;
    for (int lag = multiple * best - best / 4; lag <= multiple * best + best / 4; ++lag) {
        const double value = correlation(x, begin, end, lag);
        if (value > peak_value) {
            peak_value = value;
            peak = lag;
        }
    }
    const double left = correlation(x, begin, end, peak - 1);
    const double right = correlation(x, begin, end, peak + 1);
    const double shift = 0.5 * (left - right) / (left - 2.0 * peak_value + right);
    return (peak + shift) / multiple;
}

double cents_between(double period, double expected_period) { return 1200.0 * std::log2(expected_period / period); }

struct NoteCase {
    const char* note;
    double frequency;  // what should come out, Hz
    const char* velocity;
    const char* consonant_ms;
    const char* bend;  // "" for none
};

void PrintTo(const NoteCase& c, std::ostream* os) {
    *os << c.note << " (" << c.frequency << " Hz), velocity " << c.velocity << ", consonant "
        << c.consonant_ms << " ms, bend \"" << c.bend << '"';
}

class RenderedNotes : public ::testing::TestWithParam<NoteCase> {};

TEST_P(RenderedNotes, ComeOutAtTheirPitchAndLength) {
    const NoteCase& c = GetParam();
    test::TempDir dir;
    std::filesystem::copy_file(QERN_EXECUTABLE, dir.file("qern"));

    ASSERT_EQ(write_wav_file(dir.file("voice.wav"), test::make_input(synthetic_voice(RATE * 13 / 10), RATE).samples, RATE), 0);

    // input output note velocity flags left-blank length consonant
    // right-blank volume modulation tempo bend
    std::vector<std::string> args = {"voice.wav", "out.wav", c.note, c.velocity, "", "50", "700",
                                     c.consonant_ms, "100", "100", "0"};
    if (*c.bend != '\0') {
        args.push_back("!120");
        args.push_back(c.bend);
    }
    const test::ProcessResult run = test::run_process(dir.file("qern"), args, dir.path());
    ASSERT_TRUE(test::file_exists(dir.file("out.wav"))) << run.out << run.err;
    EXPECT_TRUE(test::file_exists(dir.file("voice_wav.pmk")));

    DecodedInput out;
    ASSERT_EQ(read_wav_file(dir.file("out.wav"), out), 0);
    const int required = 700 * RATE / 1000;
    ASSERT_EQ(out.samples.count(), required + 1024);
    std::vector<double> x(static_cast<std::size_t>(out.samples.count()));
    for (int i = 0; i < out.samples.count(); ++i) x[static_cast<std::size_t>(i)] = out.samples[i];

    // Sound fills the requested length and stops within the tail.
    double early = 0.0, late = 0.0;
    for (int i = required / 10; i < required - 3000; ++i) early = std::max(early, std::fabs(x[static_cast<std::size_t>(i)]));
    for (int i = required + 1024 - 50; i < required + 1024; ++i) late = std::max(late, std::fabs(x[static_cast<std::size_t>(i)]));
    EXPECT_GT(early, 3000.0);
    EXPECT_LT(late, early / 20.0);

    const double period = measure_period(x, required / 4, required - 2000);
    EXPECT_NEAR(cents_between(period, RATE / c.frequency), 0.0, 5.0)
        << c.note << ": measured " << RATE / period << " Hz, expected " << c.frequency << " Hz";
}

INSTANTIATE_TEST_SUITE_P(
    SyntheticVoice, RenderedNotes,
    ::testing::Values(NoteCase{"A2", 110.0, "100", "0", ""}, NoteCase{"D3", 146.8324, "100", "0", ""},
                      NoteCase{"F#3", 184.9972, "100", "0", ""}, NoteCase{"A3", 220.0, "50", "120", ""},
                      NoteCase{"E4", 329.6276, "100", "0", ""}, NoteCase{"69", 440.0, "200", "80", ""},
                      NoteCase{"C5", 523.2511, "100", "0", ""},
                      // A bend of +100 cents all through: A#3.
                      NoteCase{"A3", 233.0819, "100", "0", "Bk#400#"}),
    [](const ::testing::TestParamInfo<NoteCase>& param_info) {
        // "A3_velocity50_bent": the note with what sets the case apart; a
        // sharp becomes "sharp", as names take letters, digits and '_' only.
        const NoteCase& c = param_info.param;
        std::string name;
        for (const char* p = c.note; *p != '\0'; ++p) name += *p == '#' ? std::string("sharp") : std::string(1, *p);
        if (std::string(c.velocity) != "100") name += std::string("_velocity") + c.velocity;
        if (*c.bend != '\0') name += "_bent";
        return name;
    });

}  // namespace
}  // namespace qern
