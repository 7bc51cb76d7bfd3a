// The one record of a run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "wav/sample_buffer.h"

namespace qern {

// Period that marks a silent or unvoiced frame and an unvoiced pitch mark.
constexpr int UNVOICED_T0 = 49;
// Distance between the centres of analysis frames.
constexpr int FRAME_HOP = 256;
// Extra output samples after the requested length.
constexpr int OUTPUT_TAIL = 1024;

// One pitch mark of the cache: position in the input and period there.
struct PitchMarkEntry {
    std::int32_t position = 0;
    std::int32_t period = 0;
};

// Everything a run needs. A new job has every number zero and every
// buffer empty; parse_arguments fills it.
struct ResampleJob {
    int sample_rate = 0;
    int sample_count = 0;          // always samples.count()
    SampleBuffer samples;          // input samples; output after synthesis
    std::string input_path;        // argument 1, UTF-8 (converted from UTF-16 on Windows)
    std::string output_path;       // argument 2, UTF-8
    double target_period = 0.0;
    int left_blank = 0;
    int required_length = 0;
    int consonant_length = 0;
    int consonant_out_length = 0;
    int right_blank = 0;
    int volume = 0;
    int modulation = 0;
    int bend_spacing = 0;
    int bend_count = 0;
    std::vector<double> bend_curve;  // empty: no curve; else bend_count + 1 ratios, the last 1.0
    double mean_period = 0.0;
    std::vector<PitchMarkEntry> marks;  // ends with the entry (0, 0)
    int flag_g = 0;
    int flag_H = 0;
    int flag_P = 0;
    int flag_R = 0;
};

// Frees the job's buffers (bend curve, marks, samples). Safe to call twice.
void release_job(ResampleJob& job);

}  // namespace qern
