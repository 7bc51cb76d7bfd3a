// Decoding of the host's pitch-bend string into a bend curve.
#pragma once

#include "synthesis/note_settings.h"

namespace qern {

// The most points a pitch-bend string may describe (32 MiB of curve). A
// point per 1/96 beat at 120 beats per minute and 44100 Hz is 229 samples,
// so this covers notes of more than six hours.
inline constexpr int MAX_BEND_POINTS = 1 << 22;

// The signed 12-bit value, in cents (-2048 to 2047), of the two Base64
// letters at `pair` (the second may be the string's terminating zero). A
// letter outside the alphabet is logged and counts as 0. Never fails.
int decode_bend_pair(const char* pair);

// Decodes the pitch-bend string `text`: pairs of Base64 letters, each a
// point in cents, and runs "#n#" repeating the last point n more times. Sets
// bend_count and bend_curve (bend_count period factors 2^(cents / -1200),
// then 1.0) of `bend`; its spacing stays. Returns 0, or -1 after logging when
// the curve cannot be held (more than MAX_BEND_POINTS points, or no memory);
// bend_count is then 0 and there is no curve.
int decode_pitch_bend(const char* text, PitchBend& bend);

}  // namespace qern
