#include "analysis/frame_t0.h"

#include <cassert>
#include <cmath>
#include <cstdlib>

#include "analysis/scratch_signal.h"
#include "analysis/t0_correction.h"
#include "base/error_log.h"
#include "dsp/kernels.h"
#include "dsp/vector_kernels.h"

namespace qern {

namespace {

// Low-pass cutoff of the copy the frames are analysed on, in Hz.
constexpr double T0_LOWPASS_HZ = 900.0;
// Peaks later than this many lags after the best one must beat it by 5 %;
// a candidate this close before a peak is its neighbour.
constexpr int NEIGHBOUR_LAGS = 24;
constexpr double LATE_PEAK_FACTOR = 1.05;
// The first best must exceed this share of r(0); candidates 0.2 of it.
constexpr double BEST_SHARE = 0.7;
constexpr double CANDIDATE_SHARE = 0.2;

// Whether find_extreme(0, ...) over the frame would pick a value strictly
// inside (-SILENCE_LEVEL, SILENCE_LEVEL): it picks the largest magnitude, so
// the frame is silent when no magnitude reaches the level. (A NaN is picked
// only as the first value, and is not silent; anywhere else it is passed
// over.) Stops at the first loud block, as a voiced frame soon has one.
bool is_silent_frame(const double* x) {
    constexpr int BLOCK = 16;
    if (std::isnan(x[0])) return false;
    for (int j = 0; j < AUTOCORRELATION_FRAME; j += BLOCK) {
        bool loud = false;
        for (int k = 0; k < BLOCK; ++k) loud |= std::fabs(x[j + k]) >= SILENCE_LEVEL;
        if (loud) return false;
    }
    return true;
}

struct Place {
    int lag = 0;
    double value = 0.0;
};

}  // namespace

int frame_count_for(int sample_count) {
    // ceil(N / 256) + 1 for N >= 0.
    return (sample_count + FRAME_HOP - 1) / FRAME_HOP + 1;
}

int pick_t0_peak(std::span<double> r, std::span<std::int32_t, T0_CANDIDATE_COUNT> slots) {
    int best_lag = UNVOICED_T0;
    double best_value = BEST_SHARE * r[0];
    const double candidate_floor = CANDIDATE_SHARE * r[0];
    // Places 0..9 are the candidates, place 10 a reserve; always in
    // descending order of value.
    std::array<Place, T0_CANDIDATE_COUNT + 1> places{};

    for (int lag = MIN_VOICED_PERIOD; lag < T0_MAX_LAG; ++lag) {
        if (!(r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1])) continue;

        if (lag < best_lag + NEIGHBOUR_LAGS) {
            if (r[lag] > best_value) {
                best_lag = lag;
                best_value = r[lag];
            }
        } else if (r[lag] > LATE_PEAK_FACTOR * best_value) {
            best_lag = lag;
            best_value = r[lag];
        }

        // Neighbour rule: a weaker candidate just before this peak gives way
        // to it; a stronger one suppresses it (the 0 stays in r).
        for (int p = 0; p < T0_CANDIDATE_COUNT; ++p) {
            if (!(lag < places[p].lag + NEIGHBOUR_LAGS)) continue;
            if (places[p].value < r[lag]) {
                for (int q = p; q < T0_CANDIDATE_COUNT; ++q) places[q] = places[q + 1];
                break;
            }
            r[lag] = 0.0;
        }

        if (r[lag] > candidate_floor) {
            int p = 0;
            while (p <= T0_CANDIDATE_COUNT && places[p].value >= r[lag]) ++p;
            if (p <= T0_CANDIDATE_COUNT) {
                for (int q = T0_CANDIDATE_COUNT; q > p; --q) places[q] = places[q - 1];
                places[p] = Place{lag, r[lag]};
            }
        }
    }

    for (int p = 0; p < T0_CANDIDATE_COUNT; ++p) slots[p] = places[p].lag;
    return best_lag;
}

int estimate_raw_frame_t0(SampleSpan samples, int sample_count, int sample_rate,
                          std::span<std::int32_t> frame_periods, T0CandidateTable& candidates,
                          SampleSpan work) {
    if (sample_count < 0 || sample_rate <= 0) return 0;
    const int frames = frame_count_for(sample_count);
    if (static_cast<int>(frame_periods.size()) < frames) return 0;

    // The low-passed copy, with zero margins: frame windows reach 512 samples
    // before sample 0 and at most 767 past the last sample.
    ScratchSignal lowpassed;
    if (work.empty()) {
        lowpassed = allocate_scratch_signal(sample_count);
        if (lowpassed.empty()) return 0;
        work = lowpassed.span();
    }
    assert(work.begin <= -SAMPLE_MARGIN && work.end >= sample_count + SAMPLE_MARGIN);
    candidates.frames.assign(static_cast<std::size_t>(frames), {});

    const SampleSpan copy = work;
    if (fir_lowpass(samples, sample_count, copy, T0_LOWPASS_HZ / sample_rate) != 0) return 0;

    std::array<double, AUTOCORRELATION_FRAME> correlation{};
    const VectorUnit unit = best_vector_unit();

    for (int i = 0; i < frames; ++i) {
        // The frame's window, read in place (the kernels only read it).
        const int window_start = i * FRAME_HOP - AUTOCORRELATION_FRAME / 2;
        (void)copy[window_start];  // bounds asserted in debug builds
        (void)copy[window_start + AUTOCORRELATION_FRAME - 1];
        const double* frame = copy.origin + window_start;

        if (is_silent_frame(frame)) {
            frame_periods[i] = UNVOICED_T0;
            candidates.frames[static_cast<std::size_t>(i)].fill(0);
            continue;
        }

        // pick_t0_peak reads r(0) and r(49..512) only: the lags between are
        // not computed (they stay 0).
        lagged_products_and_zero(unit, frame, MIN_VOICED_PERIOD - 1, T0_MAX_LAG, correlation.data());
        const int t0 = pick_t0_peak(std::span<double>(correlation.data(), T0_MAX_LAG + 1),
                                    candidates.frames[static_cast<std::size_t>(i)]);
        if (t0 == 0) {
            log_error(MSG_T0_DETECTION_FAILED, ERROR_PREFIX);
            return 0;
        }
        frame_periods[i] = t0;
    }
    return frames;
}

int estimate_frame_t0(SampleSpan samples, int sample_count, int sample_rate,
                      std::span<std::int32_t> frame_periods, T0CandidateTable* candidates,
                      std::vector<std::int32_t>* raw_frame_periods, SampleSpan work) {
    T0CandidateTable own_candidates;
    T0CandidateTable& table = candidates ? *candidates : own_candidates;
    const int frames = estimate_raw_frame_t0(samples, sample_count, sample_rate, frame_periods, table, work);
    if (frames == 0) return 0;
    const std::span<std::int32_t> track = frame_periods.first(static_cast<std::size_t>(frames));
    if (raw_frame_periods) raw_frame_periods->assign(track.begin(), track.end());
    correct_t0_track(track, table);
    return frames;
}

}  // namespace qern
