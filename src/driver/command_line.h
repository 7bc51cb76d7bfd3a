// The host's positional command line and the flag string, read into the run's
// arguments and the note's settings.
#pragma once

#include <string>

#include "synthesis/note_settings.h"
#include "wav/wav_reader.h"

namespace qern {

// What the command line asks of a run, besides the input's samples.
struct RunArguments {
    std::string input_path;   // argument 1, UTF-8 (converted from UTF-16 on Windows)
    std::string output_path;  // argument 2, UTF-8
    int flag_R = 0;           // analyse again instead of using the cache
    NoteSettings note;
};

// The values of the flag letters; absent letters keep these defaults.
struct FlagValues {
    int flag_g = 0;   // -100..100
    int flag_H = 0;
    int flag_P = 86;  // 0..100
    int flag_R = 0;   // 0 or 1
    int t = 0;        // pitch offset, tenths of a semitone
};

// How the input's samples are read: all at once, or only its headers, the
// samples decoded later as they are wanted (decode_samples in
// wav/wav_reader.h).
enum class InputReading { whole, deferred };

// Reads the command line (argv[0] is the program):
//   1 input WAV path (UTF-8; loaded into `input` as `reading` says)  2 output WAV path
//   (UTF-8)  3 note name  4 velocity  5 flags  6 left blank ms  7 required
//   length ms  8 consonant ms  9 right blank ms  10 volume %  11 modulation %
//   12 "!" and tempo, or an old-form pitch-bend string  13 pitch-bend string
// Arguments from 3 on are bytes in the platform's command-line encoding.
// Returns 0, or -1 after logging.
int parse_arguments(int argc, char** argv, RunArguments& arguments, DecodedInput& input,
                    InputReading reading = InputReading::whole);

// Reads the flag letters g, H, P, R and t (each followed by its integer),
// scanning from the last character to the first, so that the leftmost of a
// repeated letter wins. Never fails.
FlagValues parse_flags(const char* flags);

// Sets `period` (input samples at `sample_rate` Hz) from a note name (C4,
// C#4, Db4, with the two-byte sharp or flat sign, or a note number such as
// 69) and the t value in tenths of a semitone. Returns 0, or -1 for an
// invalid name, including one whose period is not finite or below 1 sample;
// the caller logs the message.
int note_name_to_period(const char* name, int sample_rate, int t, double& period);

// Reads arguments 12 and 13 (either may be null) into `bend`: a tempo
// ("!" and beats per minute, a point per 1/96 beat) or an old-form curve (a
// point per 256 samples), then the curve. Returns 0, or -1 after logging
// when the curve of argument 13 cannot be held.
int read_pitch_bend_arguments(const char* tempo_or_bend, const char* curve, int sample_rate,
                              PitchBend& bend);

}  // namespace qern
