#include "analysis/pitch_marks.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <new>
#include <vector>

#include "analysis/frame_t0.h"
#include "analysis/scratch_signal.h"
#include "base/error_log.h"
#include "dsp/fft_filter.h"
#include "dsp/kernels.h"
#include "dsp/sinc.h"
#include "dsp/vector_kernels.h"

namespace qern {

namespace {

// Lags around the interpolated T0 searched by period_at: T-5 .. T+4.
constexpr int PERIOD_SEARCH_HALF = 5;
// Frame outputs of the fundamental wave cover the 512 samples around a centre.
constexpr int WAVE_HALF_SPAN = FRAME_HOP;

int frame_period(std::span<const std::int32_t> frame_periods, int frame) {
    if (frame < 0 || frame >= static_cast<int>(frame_periods.size())) return UNVOICED_T0;
    return frame_periods[frame];
}

bool is_rising_zero(SampleSpan wave, int i) { return wave[i - 1] < 0.0 && wave[i] >= 0.0; }

// c[U] = sum over k = 1 .. 4T-1, in increasing k, of h[k] * x[U - k] for
// U = first .. 511 (x points at the sample that pairs with U = 0, k = 0).
// The sums run across U on the vector unit; each keeps its order of addition.
void filter_frame(const double* h, int kernel_end, const double* x, double* c, int first) {
    tapped_sums(best_vector_unit(), h, kernel_end, x + first, c + first, 2 * WAVE_HALF_SPAN - first);
}

}  // namespace

int mark_capacity_for(int sample_count) {
    return (std::max(sample_count, 0) + 253) / UNVOICED_T0 + 2;
}

int find_rising_zero_forward(SampleSpan wave, int from, int to) {
    if (from < 1) return 0;
    for (int i = from; i < to; ++i) {
        if (is_rising_zero(wave, i)) return i;
    }
    return std::max(from, to);
}

int find_rising_zero_backward(SampleSpan wave, int from, int low) {
    for (int i = from; i > low; --i) {
        if (is_rising_zero(wave, i)) return i;
    }
    return std::min(from, low);
}

int period_at(const MarkSources& sources, int position) {
    if (position < 0) return 0;
    const int frame = position / FRAME_HOP;
    const int offset = position % FRAME_HOP;
    const int t1 = frame_period(sources.frame_periods, frame);
    const int t2 = frame_period(sources.frame_periods, frame + 1);
    if (t1 == UNVOICED_T0 && t2 == UNVOICED_T0) return UNVOICED_T0;
    int t0 = 0;
    if (t1 == UNVOICED_T0) {
        t0 = t2;
    } else if (t2 == UNVOICED_T0) {
        t0 = t1;
    } else {
        t0 = ((FRAME_HOP - offset) * t1 + offset * t2) / FRAME_HOP;
    }
    const int low = std::max(t0 - PERIOD_SEARCH_HALF, MIN_VOICED_PERIOD);
    const int high = std::min(t0 + PERIOD_SEARCH_HALF, MAX_VOICED_PERIOD);

    std::array<double, AUTOCORRELATION_FRAME> correlation{};
    const SampleSpan out{correlation.data(), 0, AUTOCORRELATION_FRAME};
    const SampleSpan window = sources.samples.shifted(position - AUTOCORRELATION_FRAME / 2);
    // The lags are inside 0..512, so the kernel cannot fail here.
    (void)autocorrelate(low, window, out, high - 1);
    return find_extreme(1, low, out, high);
}

int compute_fundamental_wave(SampleSpan wave, SampleSpan samples, int sample_count,
                             std::span<const std::int32_t> frame_periods) {
    // One kernel for every period of the track, made before the frames:
    // the track keeps coming back to a few neighbouring periods, and a
    // kernel costs two cosines per tap. Kernel T holds taps 0 .. 4T-1 from
    // kernels[kernel_start[T]] (tap 0 unused).
    std::array<std::size_t, MAX_VOICED_PERIOD + 1> kernel_start{};
    std::array<bool, MAX_VOICED_PERIOD + 1> has_kernel{};
    std::size_t kernel_values = 0;
    for (const std::int32_t t0 : frame_periods) {
        if (t0 == UNVOICED_T0) continue;
        // Estimated periods are 50..511; anything else would not fit the kernel.
        if (t0 < MIN_VOICED_PERIOD || t0 > MAX_VOICED_PERIOD) return -1;
        if (has_kernel[static_cast<std::size_t>(t0)]) continue;
        has_kernel[static_cast<std::size_t>(t0)] = true;
        kernel_start[static_cast<std::size_t>(t0)] = kernel_values;
        kernel_values += static_cast<std::size_t>(4 * t0);
    }
    std::vector<double> kernels;
    std::vector<double> filtered;
    try {
        kernels.resize(kernel_values);
        filtered.assign(2 * WAVE_HALF_SPAN, 0.0);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    for (int t0 = MIN_VOICED_PERIOD; t0 <= MAX_VOICED_PERIOD; ++t0) {
        if (!has_kernel[static_cast<std::size_t>(t0)]) continue;
        double* h = kernels.data() + kernel_start[static_cast<std::size_t>(t0)];
        // A cosine of period T under a Hann window four periods long.
        const int kernel_end = 4 * t0;
        const double step = TWO_PI / kernel_end;
        h[0] = 0.0;
        for (int k = 1; k < kernel_end; ++k) {
            const double angle = (k * TWO_PI) / t0;
            h[k] = std::cos(angle) * (0.5 - 0.5 * std::cos(k * step));
        }
    }

    for (int n = -1024; n < sample_count + 1024; ++n) wave[n] = 0.0;

    const int frames = static_cast<int>(frame_periods.size());
    for (int i = 0; i < frames; ++i) {
        const int t0 = frame_periods[i];
        if (t0 == UNVOICED_T0) continue;
        const int kernel_end = 4 * t0;  // taps 1 .. 4T-1
        const double* kernel = kernels.data() + kernel_start[static_cast<std::size_t>(t0)];

        // filtered[U] = c(U - 256): the frame's output around its centre.
        const int centre = i * FRAME_HOP;
        const int first_read = centre - WAVE_HALF_SPAN + 2 * t0 - (kernel_end - 1);
        const int last_read = centre + WAVE_HALF_SPAN - 1 + 2 * t0 - 1;
        (void)samples[first_read];  // bounds asserted in debug builds
        (void)samples[last_read];
        // A frame with the period of the frame before shares half its
        // outputs with it: c(U) of this frame is c(U + 256) of that one, the
        // same sum over the same samples. Only the second half is new.
        int first_new = 0;
        if (i > 0 && frame_periods[i - 1] == t0) {
            std::copy(filtered.begin() + FRAME_HOP, filtered.end(), filtered.begin());
            first_new = FRAME_HOP;
        }
        filter_frame(kernel, kernel_end, &samples[centre - WAVE_HALF_SPAN + 2 * t0], filtered.data(),
                     first_new);

        const bool voiced_before = i > 0 && frame_periods[i - 1] != UNVOICED_T0;
        for (int n = 1; n < FRAME_HOP; ++n) {
            const int p = centre - FRAME_HOP + n;
            const double c = filtered[static_cast<std::size_t>(n)];
            if (voiced_before) {
                wave[p] = wave[p] + n * c / FRAME_HOP;
            } else {
                wave[p] = c;
            }
        }
        const bool voiced_after = i < frames - 1 && frame_periods[i + 1] != UNVOICED_T0;
        for (int n = 0; n < FRAME_HOP; ++n) {
            const int p = centre + n;
            const double c = filtered[static_cast<std::size_t>(FRAME_HOP + n)];
            wave[p] = voiced_after ? (FRAME_HOP - n) * c / FRAME_HOP : c;
        }
    }
    return 0;
}

int find_mark_shift(const MarkSources& sources, int crossing, int run_start) {
    const int before = find_rising_zero_backward(sources.wave, crossing - UNVOICED_T0, run_start);
    const int period = period_at(sources, crossing);
    const int half = period / 2;

    std::array<double, AUTOCORRELATION_FRAME> window{};
    const SampleSpan view{window.data(), 0, AUTOCORRELATION_FRAME};
    // Every window of the search has the same length: its weights once.
    std::array<double, AUTOCORRELATION_FRAME> weights{};
    hann_weights(weights.data(), period);
    double best_energy = 0.0;
    int best_index = 0;
    for (int i = before - half - 1; i <= before + half - 1; ++i) {
        copy_samples(view, period, sources.samples, i - half);
        apply_window_weights(view, weights.data(), period);
        double energy = 0.0;
        for (int k = 0; k < period; ++k) energy += window[static_cast<std::size_t>(k)] * window[static_cast<std::size_t>(k)];
        if (energy > best_energy) {
            best_energy = energy;
            best_index = i;
        }
    }
    return best_index - before;
}

int place_run_marks(const MarkSources& sources, int first_frame, int end_frame,
                    const PitchMarkArrays& marks, int last_mark) {
    if (end_frame <= first_frame || first_frame < 0) {
        log_error(MSG_INVALID_RUN_RANGE, ERROR_PREFIX);
        return 0;
    }
    const int capacity = static_cast<int>(std::min(marks.positions.size(), marks.periods.size()));
    auto& position = marks.positions;
    auto& period = marks.periods;
    const SampleSpan wave = sources.wave;

    const int start = first_frame * FRAME_HOP;
    const int end = std::min(end_frame * FRAME_HOP - FRAME_HOP, sources.sample_count);

    // The strongest part of the wave in the middle third of the run, and the
    // next rising crossing after it.
    const int third = (end - start) / 3;
    const int loudest = find_extreme(0, start + third, wave, end - third);
    const int crossing = find_rising_zero_forward(wave, loudest, end);
    const int shift = find_mark_shift(sources, crossing, start);

    int g = std::max(start - FRAME_HOP, 0);
    while (g + shift < 0) g = find_rising_zero_forward(wave, g + 1, g + MAX_MARK_STEP);

    // Join the run to the marks before it: the last mark is replaced, marks
    // after or too close before the run's first mark are dropped, and a gap
    // of more than 512 samples is bridged with unvoiced marks.
    int j = last_mark;
    position[j] = g;
    while (j > 0 && (g + shift) - position[j - 1] <= UNVOICED_T0) {
        position[j - 1] = g;
        --j;
    }
    if (j > 0) {
        while ((g + shift) - position[j - 1] > MAX_MARK_STEP) {
            if (j + 1 >= capacity) return 0;
            position[j + 1] = g;
            position[j] = position[j - 1] + UNVOICED_T0;
            period[j] = UNVOICED_T0;
            ++j;
        }
    }
    const int first_mark = j;
    period[first_mark] = period_at(sources, g);

    while (position[j] + period[j] + shift < end) {
        const int t = find_rising_zero_forward(wave, position[j] + MIN_VOICED_PERIOD,
                                               position[j] + MAX_MARK_STEP);
        if (t >= end) break;
        if (j + 1 >= capacity) return 0;
        position[j + 1] = t;
        period[j + 1] = period_at(sources, t + shift);
        ++j;
    }

    for (int q = first_mark; q <= j; ++q) position[q] += shift;
    return j;
}

int place_pitch_marks(const DecodedInput& input, std::span<const std::int32_t> frame_periods,
                      const PitchMarkArrays& marks, SampleSpan work) {
    const int count = input.samples.count();
    const int frames = static_cast<int>(frame_periods.size());
    const int capacity = static_cast<int>(std::min(marks.positions.size(), marks.periods.size()));
    if (input.samples.empty() || capacity < 1 || frames > frame_count_for(count)) return 0;

    // compute_fundamental_wave writes every sample of the wave.
    ScratchSignal wave_buffer = allocate_scratch_signal(count);
    if (wave_buffer.empty()) return 0;
    // The marks are placed on a high-passed copy: the input stays as read,
    // so a note sounds the same whether its cache was made in this run or an
    // earlier one.
    ScratchSignal filtered_buffer;
    if (work.empty()) {
        filtered_buffer = allocate_scratch_signal(count);
        if (filtered_buffer.empty()) return 0;
        work = filtered_buffer.span();
    }
    const SampleSpan source = read_only_span(input.samples);
    assert(work.begin == source.begin && work.end == source.end);
    const SampleSpan samples = work;
    std::copy(source.origin + source.begin, source.origin + source.end, samples.origin + samples.begin);
    fft_filter_signal(samples, count, input.sample_rate);

    print_progress(TEXT_FUNDAMENTAL_WAVE_STARTED);
    const SampleSpan wave = wave_buffer.span();
    if (compute_fundamental_wave(wave, samples, count, frame_periods) != 0) {
        log_error(MSG_FUNDAMENTAL_WAVE_FAILED, ERROR_PREFIX);
        return 0;
    }

    const MarkSources sources{samples, count, wave, frame_periods};
    auto& position = marks.positions;
    auto& period = marks.periods;
    position[0] = 0;
    int j = 0;
    int i = 0;
    if (frames <= 0) return 0;
    for (;;) {
        int first = i;
        while (first < frames && frame_periods[first] == UNVOICED_T0) ++first;

        const int limit = std::min(first * FRAME_HOP, count);
        while (position[j] + UNVOICED_T0 < limit) {
            if (j + 1 >= capacity) {
                log_error(MSG_RUN_MARKS_FAILED, ERROR_PREFIX);
                return 0;
            }
            position[j + 1] = position[j] + UNVOICED_T0;
            period[j + 1] = UNVOICED_T0;
            ++j;
        }
        if (first == frames) return j;

        int end = first + 1;
        while (end < frames && frame_periods[end] != UNVOICED_T0) ++end;

        j = place_run_marks(sources, first, end, marks, j);
        if (j == 0) {
            log_error(MSG_RUN_MARKS_FAILED, ERROR_PREFIX);
            return 0;
        }
        i = end;
        if (i == frames) return j;
    }
}

}  // namespace qern
