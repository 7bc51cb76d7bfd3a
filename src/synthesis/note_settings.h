// What the host asks of one note, in input samples: the part of the input to
// use, the lengths, the pitch and its bend, the volume and the voice flags.
#pragma once

#include <cmath>
#include <vector>

namespace qern {

// Extra output samples after the requested length.
inline constexpr int OUTPUT_TAIL = 1024;

// The pitch-bend curve: bend_count points bend_spacing output samples apart,
// each a period factor 2^(cents / -1200).
struct PitchBend {
    int bend_spacing = 0;
    int bend_count = 0;
    std::vector<double> bend_curve;  // empty: no curve; else bend_count + 1 factors, the last 1.0
};

// The settings of one note. Lengths and positions are input samples at the
// input's rate; the output is required_length + OUTPUT_TAIL samples long.
struct NoteSettings {
    double target_period = 0.0;    // period of the note, samples
    int left_blank = 0;            // start of the used input
    int required_length = 0;       // output length before the tail
    int consonant_length = 0;      // fixed part of the input ...
    int consonant_out_length = 0;  // ... and its length in the output
    int right_blank = 0;           // input left out at the end
    int volume = 0;                // percent
    int modulation = 0;            // percent of the input's own pitch movement kept
    int flag_g = 0;                // formant shift: grains rescaled by 10^(g/200)
    int flag_H = 0;                // smoothing of the output
    int flag_P = 0;                // strength of the peak normalisation, percent
    PitchBend bend;
};

// The factor flag g rescales grains by: 10^(g/200).
inline double grain_scale(const NoteSettings& note) { return std::pow(10.0, note.flag_g / 200.0); }

}  // namespace qern
