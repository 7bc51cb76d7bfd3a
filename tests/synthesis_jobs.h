// Hand-made jobs for the synthesis tests: input samples and pitch marks
// written by the test itself.
#pragma once

#include <functional>
#include <vector>

#include "driver/resample_job.h"

namespace qern::testing_support {

// A job at 44100 Hz holding `count` input samples from `sample_at`, the given
// marks (the (0, 0) terminator is appended), target period 100, modulation 0,
// volume 100, P 0 and no pitch bend.
inline ResampleJob make_job(int count, const std::function<double(int)>& sample_at,
                            std::vector<PitchMarkEntry> marks, double mean_period) {
    ResampleJob job;
    job.sample_rate = 44100;
    job.samples = SampleBuffer::allocate(count);
    job.sample_count = count;
    for (int i = 0; i < count; ++i) job.samples[i] = sample_at(i);
    marks.push_back(PitchMarkEntry{0, 0});
    job.marks = std::move(marks);
    job.mean_period = mean_period;
    job.target_period = 100.0;
    job.volume = 100;
    job.flag_P = 0;
    return job;
}

// Marks every `period` samples from `first` while below `end`, all of that period.
inline std::vector<PitchMarkEntry> regular_marks(int first, int end, int period) {
    std::vector<PitchMarkEntry> marks;
    for (int m = first; m < end; m += period) marks.push_back(PitchMarkEntry{m, period});
    return marks;
}

// 1.0 at every mark position, 0 elsewhere: with g = 0 each grain is a unit
// impulse at its centre, so the output shows where grains were laid.
inline std::function<double(int)> impulses_at(const std::vector<PitchMarkEntry>& marks) {
    std::vector<int> positions;
    for (const PitchMarkEntry& e : marks) positions.push_back(e.position);
    return [positions](int i) {
        for (int p : positions) {
            if (p == i) return 1.0;
        }
        return 0.0;
    };
}

// Indices of the non-zero samples of [begin, end).
inline std::vector<int> nonzero_indices(const SampleBuffer& b, int begin, int end) {
    std::vector<int> out;
    const double* x = b.data();
    for (int i = begin; i < end; ++i) {
        if (x[i] != 0.0) out.push_back(i);
    }
    return out;
}

}  // namespace qern::testing_support
