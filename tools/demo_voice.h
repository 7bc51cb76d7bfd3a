// The demo voice: a sung "sa" at 44100 Hz, an s-like noise onset followed
// by the vowel /a/ at G3 from a glottal pulse train (opening and closing
// phases, with jitter, shimmer and a slow drift of the pitch) through five
// formant resonators, with a breath of aspiration noise. qern_demo_voice
// writes it for scripts/demo.sh; qern-demo sings a phrase from it.
#pragma once

#include <string>
#include <vector>

#include "dsp/sinc.h"

namespace qern::demo {

constexpr int RATE = 44100;

// Where things lie in the voice sample, in ms: what an oto.ini line would say.
constexpr double VOICE_OFFSET_MS = 40.0;       // left blank
constexpr double VOICE_CONSONANT_MS = 170.0;   // fixed part: the s and the vowel's onset
constexpr double VOICE_USED_MS = 1550.0;       // used length from the left blank
constexpr double VOICE_PREUTTERANCE_MS = 110.0;  // vowel onset after the left blank
constexpr double VOICE_OVERLAP_MS = 30.0;

// A raised-cosine ramp from 0 at `from` to 1 at `to`.
double ramp(double t, double from, double to);

// The voice sample, 1.85 seconds at RATE: the vowel peaks at 15000, the s
// at 4500.
std::vector<double> make_voice();

// Writes `samples` (clamped to 16 bits) as a 16-bit mono WAV file at RATE.
bool write_wav(const std::string& path, const std::vector<double>& samples);

}  // namespace qern::demo
