// Zero-phase high-pass of a whole signal by FFT overlap-save.
#include "dsp/fft_filter.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>

#include "dsp/sinc.h"

namespace qern {
namespace {

// Taps run from -KERNEL_REACH to +KERNEL_REACH.
constexpr int KERNEL_REACH = 2048;
// Finished samples per block: FFT_SIZE minus the span a tap can reach back
// and forth.
constexpr int BLOCK_STEP = FFT_SIZE / 2;
constexpr double HIGHPASS_CUTOFF_HZ = 20.0;

// Everything one call works with, 400 KiB, taken from the heap for the call.
struct FilterWork {
    TwiddleTable table;
    StageTwiddles forward;
    StageTwiddles inverse;  // the sines negated
    std::array<double, FFT_SIZE> spectrum;
    std::array<double, FFT_SIZE> block;
    std::array<double, KERNEL_REACH> history;
};

}  // namespace

void make_highpass_kernel(std::span<double, FFT_SIZE> kernel, double x) {
    kernel[0] = 1.0 - 2.0 * x;
    for (int i = 1; i <= KERNEL_REACH; ++i) {
        // Hann weight: 0 beside the centre, 1 at +-1024, 0 at +-2048.
        const double w = 0.5 - 0.5 * std::cos(TWO_PI * i / 2048.0);
        const double v = w * (sinc(PI * i) - 2.0 * x * sinc(TWO_PI * x * i));
        kernel[i] = v;
        kernel[FFT_SIZE - i] = v;
    }
    std::fill(kernel.begin() + KERNEL_REACH + 1, kernel.begin() + (FFT_SIZE - KERNEL_REACH), 0.0);
}

void fft_filter_signal(SampleSpan values, int count, int sample_rate) {
    if (count < FFT_SIZE) return;
    // Without a positive rate the kernel would be NaN throughout; leave the
    // signal as it is rather than wipe it out.
    if (sample_rate <= 0) return;
    assert(values.origin != nullptr && values.begin <= -SAMPLE_MARGIN &&
           static_cast<std::int64_t>(values.end) >= static_cast<std::int64_t>(count) + SAMPLE_MARGIN);
    // The caller does not look at a result: when the working storage cannot
    // be had, the signal stays unfiltered.
    std::unique_ptr<FilterWork> work(new (std::nothrow) FilterWork);
    if (!work) return;

    const VectorUnit unit = best_vector_unit();
    make_twiddle_table(work->table, 1);
    make_stage_twiddles(work->forward, work->table);
    work->inverse = work->forward;
    for (double& s : work->inverse.sin) s = -s;
    make_highpass_kernel(work->spectrum, HIGHPASS_CUTOFF_HZ / sample_rate);
    bit_reverse_permute(work->spectrum);
    rfft_forward(unit, work->spectrum, work->forward);

    double* v = values.origin;
    double* B = work->block.data();
    double* history = work->history.data();
    const std::uint16_t* rev = bit_reversal_table().data();
    std::fill(work->history.begin(), work->history.end(), 0.0);

    // Positions at or beyond `end` lie past the trailing margin: read as 0,
    // never written.
    const std::int64_t end = static_cast<std::int64_t>(count) + SAMPLE_MARGIN;
    for (std::int64_t b = 0; BLOCK_STEP * (b - 1) < count; ++b) {
        // Block b: B[0..2047] is the unfiltered input at base - 4096 ..
        // base - 2049 (saved before the previous block overwrote it),
        // B[2048..8191] the input at base - 2048 .. base + 4095, not yet
        // written. Its outputs B[2048..6143] are free of wrap-around and go
        // to base - 2048 .. base + 2047.
        const std::int64_t base = BLOCK_STEP * b;
        const bool whole = base + BLOCK_STEP <= end;  // reads up to base + 4095

        // B in bit-reversed order: B[p] holds the value for natural index
        // rev[p], which is below 2048 (the history) exactly when p is a
        // multiple of 4.
        if (whole) {
            const double* in = v + (base - 2 * KERNEL_REACH);  // natural index m >= 2048 at in[m]
            for (int p = 0; p < FFT_SIZE; p += 4) {
                B[p] = history[rev[p]];
                B[p + 1] = in[rev[p + 1]];
                B[p + 2] = in[rev[p + 2]];
                B[p + 3] = in[rev[p + 3]];
            }
        } else {
            std::copy(history, history + KERNEL_REACH, B);
            for (int m = KERNEL_REACH; m < FFT_SIZE; ++m) {
                const std::int64_t p = base - KERNEL_REACH + (m - KERNEL_REACH);
                B[m] = p < end ? v[p] : 0.0;
            }
            bit_reverse_permute(work->block);
        }

        fft_filter_reversed_block(unit, work->block, work->spectrum, work->forward, work->inverse);

        // The next block's history: base .. base + 2047, still unfiltered.
        if (whole) {
            std::copy(v + base, v + base + KERNEL_REACH, history);
        } else {
            for (int m = 0; m < KERNEL_REACH; ++m) history[m] = base + m < end ? v[base + m] : 0.0;
        }

        const std::int64_t first = base - KERNEL_REACH;
        const std::int64_t last = std::min(first + BLOCK_STEP, end);
        for (std::int64_t m = 0; m < last - first; ++m) v[first + m] = B[rev[KERNEL_REACH + m]];
    }
}

}  // namespace qern
