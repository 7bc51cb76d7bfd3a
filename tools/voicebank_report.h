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
// real voices stay below 0.0007 (erithacus: -16 to -21 on the 16-bit
// scale, the others 0); a cheap interface gives 0.01 and more. Grains laid at a new period then sum the offset into
// a buzz at the sung pitch.
inline constexpr double DC_OFFSET_LIMIT = 0.003;

// Hum or noise analysed as voice: voiced frames whose 900 Hz low-passed
// level (the band the analysis decides voicing in) lies QUIET_VOICED_DB or
// more below the loud end of the sample's voiced frames (their 90th
// percentile), at a period at least HUM_PITCH_DIFFERENCE away from the
// vowel's (the median period of the frames within 10 dB of that loud end).
// The 123 Hz hum of erithacus lies 17 to 25 dB down at 1.10 to 1.24 times
// the vowel's period; the voiced consonants, onsets and fade-outs of the
// real voices that pass the level sing at the vowel's period (within 4 %).
inline constexpr double QUIET_VOICED_DB = 15.0;
inline constexpr double VOWEL_LEVEL_PERCENTILE = 0.9;
inline constexpr double HUM_PITCH_DIFFERENCE = 1.08;
// A stretch of hum: at least HUM_MIN_FRAMES such frames in a row (46 ms at
// 44.1 kHz) whose levels stay within HUM_LEVEL_RANGE_DB and periods within
// HUM_PERIOD_SPREAD of each other. The hum stretches of erithacus run 8 to
// 31 frames within 5 dB and 1.16; the longest such run of alys and yuki is
// 7 frames (a voiced "gw" 9 % below the vowel's pitch); their onsets and
// fade-outs change level by 10 dB and more.
inline constexpr int HUM_MIN_FRAMES = 8;
inline constexpr double HUM_LEVEL_RANGE_DB = 5.0;
inline constexpr double HUM_PERIOD_SPREAD = 1.2;
// In the fixed part of an entry this many frames of such stretches make
// the consonant pitched: a note sings it at the hum's pitch.
inline constexpr int FIXED_HUM_MIN_FRAMES = 3;

// The stretched part (consonant end to cutoff): unvoiced frames in it are
// stretched as noise. At least this many make a finding (the real voices
// have at most 2 in any entry); a share above UNVOICED_SHARE_WRONG of the
// part, or a run of UNVOICED_RUN_WRONG frames (46 ms at 44.1 kHz, a break
// in the vowel), will sound wrong on every long note.
inline constexpr int UNVOICED_MIN_FRAMES = 4;
inline constexpr double UNVOICED_SHARE_WRONG = 0.25;
inline constexpr int UNVOICED_RUN_WRONG = 8;
// An octave jump: neighbouring voiced frames whose periods differ by this
// ratio or more (an octave is 2; the stretched parts of the real voices
// have none, their glides change by under 10 % per frame).
inline constexpr double OCTAVE_JUMP_RATIO = 1.7;
// Frames the track correction had to change inside the stretched part; at
// least this many make a finding (none in the real voices' stretched parts;
// the correction's own rule needs runs of 5 frames, so a few changed frames
// mark a doubtful stretch).
inline constexpr int CORRECTED_MIN_FRAMES = 3;
// Pitch of the stretched part against the median of the entries of its
// oto.ini: further than this is mistuned; within OCTAVE_ERROR_TOLERANCE of
// a whole octave is an octave error of the analysis or the recording. The
// entries of the real voices keep within 2 semitones of their medians
// (alys 274 to 281 Hz, erithacus 136 to 153 Hz, yuki 337 to 353 Hz).
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
