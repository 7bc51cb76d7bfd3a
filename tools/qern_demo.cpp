// Renders a short sung phrase with QERN, the way a host does it.
//
// First it writes the demo voice (demo_voice.h), a sung "sa". Then it runs the qern executable once per note, exactly as a host would
// (the "!tempo" argument with a pitch-bend string: a glide from the previous
// note, vibrato on the long notes), with different velocities, flags and
// volumes, and mixes the notes into one phrase with short crossfades.
//
//   qern-demo [OUTPUT_DIR [QERN_EXECUTABLE]]
//
// Writes OUTPUT_DIR/sa.wav (the voice), OUTPUT_DIR/note_N.wav (one per note)
// and OUTPUT_DIR/phrase.wav, and prints the phrase's path. The default
// OUTPUT_DIR is demo-out; the default executable is the qern built beside
// this tool.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "demo_voice.h"
#include "wav/wav_reader.h"

#ifndef QERN_EXECUTABLE
#define QERN_EXECUTABLE "qern"
#endif

namespace {

using namespace qern::demo;
using qern::TWO_PI;

// --- the phrase ------------------------------------------------------------------

constexpr double TEMPO = 120.0;  // beats per minute
constexpr double BEAT_MS = 60000.0 / TEMPO;

struct Note {
    const char* name;
    int midi;
    double beats;
    int velocity;
    const char* flags;
    int volume;
    int modulation;
};

// A little tune on "sa": velocities, flags, volumes and modulation vary.
const Note PHRASE[] = {
    {"C4", 60, 1.0, 100, "", 100, 0},         {"D4", 62, 1.0, 130, "g-15", 100, 0},
    {"E4", 64, 1.0, 80, "H25", 90, 0},        {"G4", 67, 1.5, 100, "P100", 100, 0},
    {"E4", 64, 0.5, 150, "g20", 110, 0},      {"D4", 62, 1.0, 100, "", 100, 40},
    {"C4", 60, 2.0, 90, "g-8H10", 100, 0},
};
constexpr int NOTE_COUNT = static_cast<int>(sizeof PHRASE / sizeof PHRASE[0]);

double velocity_factor(int velocity) { return std::pow(2.0, 1.0 - velocity / 100.0); }

// Pitch-bend points (cents from the note) for a note whose output starts
// `pre_ms` before its beat, every `spacing_ms`: a glide from the previous
// note's pitch across the beat and, on notes of a beat or more, a vibrato
// that fades in from 35 % of the note.
std::vector<int> bend_points(int note, double pre_ms, double length_ms, double spacing_ms) {
    const Note& n = PHRASE[note];
    const double duration_ms = n.beats * BEAT_MS;
    const double glide = note > 0 ? (PHRASE[note - 1].midi - n.midi) * 100.0 : 0.0;
    std::vector<int> points;
    for (double t = 0.0; t <= length_ms + spacing_ms; t += spacing_ms) {
        const double from_beat = t - pre_ms;
        double cents = glide * (1.0 - ramp(from_beat, -40.0, 70.0));
        if (n.beats >= 1.0) {
            const double start = 0.35 * duration_ms;
            const double depth = 32.0 * ramp(from_beat, start, start + 180.0);
            cents += depth * std::sin(TWO_PI * 5.6 * (from_beat - start) / 1000.0);
        }
        points.push_back(std::clamp(static_cast<int>(std::lround(cents)), -2048, 2047));
    }
    return points;
}

// The pitch-bend string: two Base64 letters per point (12-bit two's
// complement), a run of equal points written once with "#n#" for the repeats.
std::string encode_bend(const std::vector<int>& points) {
    static const char* B64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < points.size();) {
        std::size_t j = i + 1;
        while (j < points.size() && points[j] == points[i]) ++j;
        const int v = points[i] & 0xFFF;
        text += B64[v >> 6];
        text += B64[v & 63];
        const std::size_t repeats = j - i - 1;
        if (repeats == 1) {
            text += B64[v >> 6];
            text += B64[v & 63];
        } else if (repeats > 1) {
            text += '#';
            text += std::to_string(repeats);
            text += '#';
        }
        i = j;
    }
    return text;
}

std::string quoted(const std::string& arg) {
#ifdef _WIN32
    std::string out = "\"";
    out += arg;
    out += '"';
    return out;
#else
    std::string out = "'";
    for (char c : arg) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    out += '\'';
    return out;
#endif
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}

std::string shell_command(const std::string& program, const std::vector<std::string>& args) {
    std::string command = quoted(program);
    for (const std::string& a : args) {
        command += ' ';
        command += quoted(a);
    }
    return command;
}

// Where the notes lie in the phrase, in ms. The output of note i starts its
// preutterance before its beat and lasts up to the start of the next note's
// output plus that note's overlap; preutterance and overlap scale with the
// velocity, as a host scales them.
struct PhraseTiming {
    std::vector<double> beat_ms = std::vector<double>(NOTE_COUNT + 1, 0.0);
    std::vector<double> pre_ms = std::vector<double>(NOTE_COUNT + 1, 0.0);
    std::vector<double> overlap_ms = std::vector<double>(NOTE_COUNT + 1, 0.0);

    double start_ms(int i) const { return beat_ms[i] - pre_ms[i]; }
    double end_ms(int i) const {
        return i + 1 < NOTE_COUNT ? beat_ms[i + 1] - pre_ms[i + 1] + overlap_ms[i + 1] : beat_ms[i + 1] + 150.0;
    }
    // The requested length of note i, in whole 10 ms.
    double length_ms(int i) const { return std::ceil((end_ms(i) - start_ms(i)) / 10.0) * 10.0; }
};

PhraseTiming phrase_timing() {
    constexpr double LEAD_IN_MS = 300.0;
    PhraseTiming timing;
    for (int i = 0; i < NOTE_COUNT; ++i) {
        timing.beat_ms[i + 1] = timing.beat_ms[i] + PHRASE[i].beats * BEAT_MS;
        const double vf = velocity_factor(PHRASE[i].velocity);
        timing.pre_ms[i] = VOICE_PREUTTERANCE_MS * vf;
        timing.overlap_ms[i] = VOICE_OVERLAP_MS * vf;
    }
    for (double& b : timing.beat_ms) b += LEAD_IN_MS;
    return timing;
}

// Runs qern for note i of the phrase, as a host calls it. Returns false when
// the run fails.
bool render_note(const std::string& qern, const std::string& voice_path, const std::string& note_path,
                 int i, const PhraseTiming& timing) {
    const Note& n = PHRASE[i];
    const double length_ms = timing.length_ms(i);
    const int spacing = static_cast<int>(RATE * 60.0 / (TEMPO * 96));
    const double spacing_ms = spacing * 1000.0 / RATE;
    const std::string bend = encode_bend(bend_points(i, timing.pre_ms[i], length_ms, spacing_ms));
    const std::vector<std::string> args = {
        voice_path, note_path, n.name, std::to_string(n.velocity), n.flags,
        number(VOICE_OFFSET_MS), number(length_ms), number(VOICE_CONSONANT_MS),
        number(-VOICE_USED_MS), std::to_string(n.volume), std::to_string(n.modulation),
        std::string("!").append(number(TEMPO)), bend};
    std::printf("+ qern %s %s %s %d \"%s\" ... (%.0f ms)\n", voice_path.c_str(), note_path.c_str(), n.name,
                n.velocity, n.flags, length_ms);
    std::fflush(stdout);
    return std::system(shell_command(qern, args).c_str()) == 0;
}

// Adds the rendered note i into `phrase`, faded in over its overlap and out
// over the next note's. Returns false when the note cannot be read.
bool mix_note(const std::string& note_path, int i, const PhraseTiming& timing, std::vector<double>& phrase) {
    qern::DecodedInput rendered;
    if (qern::read_wav_file(note_path, rendered) != 0) return false;
    const int start = static_cast<int>(timing.start_ms(i) * RATE / 1000.0);
    const int used = static_cast<int>(timing.length_ms(i) * RATE / 1000.0);
    const double fade_in = std::max(5.0, i > 0 ? timing.overlap_ms[i] : 5.0) * RATE / 1000.0;
    const double fade_out = (i + 1 < NOTE_COUNT ? timing.overlap_ms[i + 1] : 120.0) * RATE / 1000.0;
    for (int k = 0; k < used && k < rendered.samples.count(); ++k) {
        const std::size_t at = static_cast<std::size_t>(start + k);
        if (at >= phrase.size()) break;
        const double gain = std::min({1.0, k / fade_in, (used - k) / fade_out});
        phrase[at] += gain * rendered.samples[k];
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const fs::path out_dir = argc > 1 ? argv[1] : "demo-out";
    const std::string qern = argc > 2 ? argv[2] : QERN_EXECUTABLE;
    std::error_code error;
    fs::create_directories(out_dir, error);

    const std::string voice_path = (out_dir / "sa.wav").string();
    if (!write_wav(voice_path, make_voice())) {
        std::fprintf(stderr, "qern-demo: cannot write %s\n", voice_path.c_str());
        return 1;
    }
    // The voice is made afresh: its old analysis must not be reused.
    fs::remove(out_dir / "sa_wav.pmk", error);
    std::printf("voice sample: %s\n", voice_path.c_str());

    const PhraseTiming timing = phrase_timing();
    std::vector<double> phrase(static_cast<std::size_t>((timing.beat_ms[NOTE_COUNT] + 800.0) * RATE / 1000.0), 0.0);
    for (int i = 0; i < NOTE_COUNT; ++i) {
        char note_name[32];
        std::snprintf(note_name, sizeof note_name, "note_%d.wav", i + 1);
        const std::string note_path = (out_dir / note_name).string();
        if (!render_note(qern, voice_path, note_path, i, timing)) {
            std::fprintf(stderr, "qern-demo: qern failed for note %d\n", i + 1);
            return 1;
        }
        if (!mix_note(note_path, i, timing, phrase)) {
            std::fprintf(stderr, "qern-demo: qern wrote no note %d\n", i + 1);
            return 1;
        }
    }

    const std::string phrase_path = (out_dir / "phrase.wav").string();
    if (!write_wav(phrase_path, phrase)) {
        std::fprintf(stderr, "qern-demo: cannot write %s\n", phrase_path.c_str());
        return 1;
    }
    std::printf("phrase: %s\n", phrase_path.c_str());
    return 0;
}
