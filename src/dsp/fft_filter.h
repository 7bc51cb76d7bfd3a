// Zero-phase high-pass of a whole signal by FFT overlap-save.
#pragma once

#include <span>

#include "dsp/fft.h"
#include "base/sample_buffer.h"

namespace qern {

// Unit impulse minus a Hann-weighted sinc low-pass of cutoff `x`
// (a fraction of the sample rate), 4097 taps in zero-phase layout.
void make_highpass_kernel(std::span<double, FFT_SIZE> kernel, double x);

// High-passes `count` samples at index 0.. of `values` in place, margins of
// SAMPLE_MARGIN on both sides included (they are rewritten with the filter's
// response): values[n] for n = -2048 .. count + 2047 becomes the 4097-tap
// kernel of make_highpass_kernel(20 / sample_rate) applied to the extended
// signal, zero outside that range. Nothing beyond the margins is read or
// written. Signals shorter than FFT_SIZE are left untouched, and so is the
// signal when sample_rate <= 0 or the 400 KiB of working storage cannot be
// allocated (there is no result to report).
void fft_filter_signal(SampleSpan values, int count, int sample_rate);

}  // namespace qern
