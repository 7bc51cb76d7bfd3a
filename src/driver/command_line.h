// The host's positional command line and the flag string, read into the job.
#pragma once

#include "driver/resample_job.h"

namespace qern {

// Fills the job from the command line (argv[0] is the program):
//   1 input WAV path (UTF-8; loaded at once)  2 output WAV path (UTF-8)
//   3 note name  4 velocity  5 flags  6 left blank ms  7 required length ms
//   8 consonant ms  9 right blank ms  10 volume %  11 modulation %
//   12 "!" and tempo, or an old-form pitch-bend string  13 pitch-bend string
// Arguments from 3 on are bytes in the platform's command-line encoding.
// Returns 0, or -1 after logging.
int parse_arguments(int argc, char** argv, ResampleJob& job);

// Reads the flag letters g, H, P, R and t (each followed by its integer) into
// flag_g, flag_H, flag_P, flag_R, scanning from the last character to the
// first, and returns the t value. Never fails.
int parse_flags(const char* flags, ResampleJob& job);

// Sets target_period (input samples at job.sample_rate) from a note name
// (C4, C#4, Db4, with the two-byte sharp or flat sign, or a note number such
// as 69) and the t value in tenths of a semitone. Returns 0, or -1 for an
// invalid name, including one whose period is not finite or below 1 sample;
// the caller logs the message.
int note_name_to_period(const char* name, ResampleJob& job, int t);

}  // namespace qern
