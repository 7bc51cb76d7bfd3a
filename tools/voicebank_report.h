// A check of a voicebank for its author: every sample and every oto.ini
// entry under a folder is held against QERN's analysis of the sample, and
// what will make notes fail or sound wrong becomes a finding with its place
// and the measurement behind it.
#pragma once

#include <string>
#include <vector>

#include "tools/oto_ini.h"
#include "tools/sample_inspection.h"

namespace qern {

enum class Severity { FAILS, SOUNDS_WRONG, WORTH_A_LOOK };

// "fails", "will sound wrong", "worth a look".
const char* severity_name(Severity severity);

struct Finding {
    std::string sample;        // path relative to the checked folder, '/' between folders, UTF-8
    std::string alias;         // the oto entry's alias; empty for a finding about the whole sample
    std::string what;          // what is wrong, and what a note from it does
    double from_ms = 0.0;      // where, from the start of the sample; from == to for a point
    double to_ms = 0.0;
    std::string reason;        // the measurement behind it, short
    Severity severity = Severity::WORTH_A_LOOK;
};

// --- Thresholds. Each was set between what the three real voicebanks
// (alys, erithacus, yuki: 44.1 kHz, 16 bits, sung at 130 to 350 Hz) measure
// and what generated faults of the kind measure; the numbers behind each
// choice are given beside it.

// Clipping: this many consecutive samples at the largest magnitude the
// format holds (within 0.1 %). A sung vowel peaks at one sample; the real
// voices have no run of two, a clipped recording has runs of tens.
inline constexpr int CLIP_MIN_RUN = 3;
inline constexpr double CLIP_LEVEL = 0.999;  // of full scale

// DC offset: the mean of the whole sample, as a share of full scale. The
// real voices stay below 0.0002 (6 on the 16-bit scale); a cheap interface
// gives 0.01 and more. Grains laid at a new period then sum the offset into
// a buzz at the sung pitch.
inline constexpr double DC_OFFSET_LIMIT = 0.003;

// Far quieter than the vowel: a voiced frame whose 900 Hz low-passed level
// (the band the analysis decides voicing in) lies this far below the loud
// end of the sample's voiced frames (its 90th percentile). Voiced
// consonants and vowel onsets of the real voices lie within 26 dB; the hum
// of erithacus lies 33 to 45 dB below its vowels.
inline constexpr double QUIET_VOICED_DB = 30.0;
inline constexpr double VOWEL_LEVEL_PERCENTILE = 0.9;
// Hum: at least this many such frames in a row (about 60 ms at 44.1 kHz)
// whose periods stay within HUM_PERIOD_SPREAD of each other. Fade-outs of
// real vowels pass the level in two or three frames and glide.
inline constexpr int HUM_MIN_FRAMES = 10;
inline constexpr double HUM_PERIOD_SPREAD = 1.05;
// In the fixed part of an entry this many quiet voiced frames (in all)
// make the consonant pitched.
inline constexpr int FIXED_QUIET_MIN_FRAMES = 3;

// The stretched part (consonant end to cutoff): unvoiced frames in it are
// stretched as noise. At least this many make a finding; a share above
// UNVOICED_SHARE_WRONG of the part will sound wrong on every long note.
inline constexpr int UNVOICED_MIN_FRAMES = 4;
inline constexpr double UNVOICED_SHARE_WRONG = 0.25;
// An octave jump: neighbouring voiced frames whose periods differ by this
// ratio or more (an octave is 2; natural glides change by under 10 % per
// frame).
inline constexpr double OCTAVE_JUMP_RATIO = 1.7;
// Frames the track correction had to change inside the stretched part; at
// least this many make a finding.
inline constexpr int CORRECTED_MIN_FRAMES = 3;
// Pitch of the stretched part against the median of the entries of its
// oto.ini: further than this is mistuned; within OCTAVE_ERROR_TOLERANCE of
// a whole octave is an octave error of the analysis or the recording. The
// real voices keep within 2.5 semitones of their medians.
inline constexpr double MISTUNE_SEMITONES = 4.0;
inline constexpr double OCTAVE_ERROR_TOLERANCE = 1.5;

// A sample of the checked folder with the oto.ini entries that use it.
struct ReportSample {
    std::string name;                 // relative to the folder, as in Finding::sample
    std::string path;                 // UTF-8
    std::vector<OtoEntry> entries;    // in the order of the oto.ini files and their lines
};

// The result of checking a folder.
struct VoicebankReport {
    std::string folder;                    // as given, UTF-8
    std::vector<ReportSample> samples;     // the WAV files under the folder and those the entries name
    int entry_count = 0;                   // oto.ini entries read
    std::vector<std::string> oto_files;    // "name (encoding)", relative to the folder
    std::vector<Finding> findings;         // most severe first, then by sample and place
};

// Checks every WAV file under `folder` and every entry of every oto.ini
// under it, analysing up to `thread_count` samples at a time through
// inspect_sample (no file is written). Never fails: what cannot be read is a
// finding.
VoicebankReport check_voicebank(const std::string& folder, int thread_count);

// The inspection picture of one sample of the report (its path relative to
// the folder) with its oto regions, its findings and the used regions of
// its other entries marked. Empty when the sample cannot be analysed.
std::string render_finding_picture(const VoicebankReport& report, const std::string& sample, int width);

// Counts of the findings of each severity, in the order of Severity.
std::vector<int> count_by_severity(const std::vector<Finding>& findings);

}  // namespace qern
