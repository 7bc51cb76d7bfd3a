#include "analysis/sample_analysis.h"

#include <algorithm>
#include <new>

#include "analysis/scratch_signal.h"
#include "base/error_log.h"
#include "base/failure_summary.h"

namespace qern {

double mean_voiced_period(std::span<const std::int32_t> mark_periods, int n) {
    std::int64_t voiced_sum = 0;
    int voiced_count = 0;
    for (int i = 1; i <= n; ++i) {
        if (mark_periods[i] >= MIN_VOICED_PERIOD) {
            voiced_sum += mark_periods[i];
            ++voiced_count;
        }
    }
    return voiced_count == 0 ? 0.0 : static_cast<double>(voiced_sum) / voiced_count;
}

int analyse_sample(const DecodedInput& input, AnalysisResult& result, AnalysisTrace* trace) {
    result = AnalysisResult{};
    AnalysisTrace own_trace;
    AnalysisTrace& steps = trace ? *trace : own_trace;
    steps = AnalysisTrace{};

    const int count = input.samples.count();
    const std::size_t mark_entries = static_cast<std::size_t>(mark_capacity_for(count));
    const std::size_t frame_entries = static_cast<std::size_t>(std::max(count, 0) / FRAME_HOP + 2);
    try {
        steps.frame_periods.assign(frame_entries, 0);
        steps.mark_periods.assign(mark_entries, 0);
        steps.mark_positions.assign(mark_entries, 0);
    } catch (const std::bad_alloc&) {
        log_error(MSG_ANALYSIS_MEMORY, ERROR_PREFIX);
        note_failure_reason("out of memory for the analysis of %d samples", count);
        return -1;
    }
    steps.mark_periods[0] = UNVOICED_T0;
    steps.mark_positions[0] = 0;

    // One buffer serves the low-passed copy of the frame T0 estimation and
    // then the high-passed copy of the mark placement. (Without it, each
    // step takes memory of its own and reports its own failure.)
    const ScratchSignal work = allocate_scratch_signal(count);

    print_progress(TEXT_FRAME_T0_STARTED);
    const int frames = estimate_frame_t0(read_only_span(input.samples), count, input.sample_rate,
                                         steps.frame_periods, &steps.candidates, &steps.raw_frame_periods,
                                         work.span());
    if (frames == 0) {
        steps.frame_periods.clear();
        log_error(MSG_FRAME_T0_FAILED, ERROR_PREFIX);
        note_failure_reason("no pitch could be measured in its %d samples", count);
        return -1;
    }
    steps.frame_periods.resize(static_cast<std::size_t>(frames));

    const int last = place_pitch_marks(input, steps.frame_periods,
                                       PitchMarkArrays{steps.mark_periods, steps.mark_positions}, work.span());
    if (last == 0) {
        log_error(MSG_MARKS_FAILED, ERROR_PREFIX);
        note_failure_reason("no pitch marks could be placed in its %d samples (too short?)", count);
        return -1;
    }
    steps.mark_periods.resize(static_cast<std::size_t>(last) + 1);
    steps.mark_positions.resize(static_cast<std::size_t>(last) + 1);

    result.mean_period = mean_voiced_period(steps.mark_periods, last);
    result.marks.reserve(static_cast<std::size_t>(last));
    for (int i = 1; i <= last; ++i) {
        result.marks.push_back(PitchMarkEntry{steps.mark_positions[static_cast<std::size_t>(i)],
                                              steps.mark_periods[static_cast<std::size_t>(i)]});
    }
    return 0;
}

}  // namespace qern
