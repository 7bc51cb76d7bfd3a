// Hand-made inputs for the synthesis tests: input samples, pitch marks and
// note settings written by the test itself.
#pragma once

#include <functional>
#include <vector>

#include "analysis/sample_analysis.h"
#include "support/signals.h"
#include "synthesis/note_settings.h"

namespace qern::test {

// Everything the synthesis of one note reads, and a place for its output.
struct NoteCase {
    DecodedInput input;
    AnalysisResult analysis;
    NoteSettings note;
    SampleBuffer output;
};

// A note case at 44100 Hz holding `count` input samples from `sample_at`,
// the given marks and mean period, target period 100, modulation 0, volume
// 100, P 0 and no pitch bend.
inline NoteCase make_note_case(int count, const std::function<double(int)>& sample_at,
                               std::vector<PitchMarkEntry> marks, double mean_period) {
    std::vector<double> signal(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) signal[static_cast<std::size_t>(i)] = sample_at(i);
    NoteCase c;
    c.input = make_input(signal, 44100);
    c.analysis.marks = std::move(marks);
    c.analysis.mean_period = mean_period;
    c.note.target_period = 100.0;
    c.note.volume = 100;
    c.note.flag_P = 0;
    return c;
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

}  // namespace qern::test
