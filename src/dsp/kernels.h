// Small signal kernels shared by the analysis and the synthesis.
//
// Each takes views whose index 0 is the position the caller means; reads at
// negative indices or past the count go into the view's margins.
#pragma once

#include "wav/sample_buffer.h"

namespace qern {

// values[i] = a values[i-1] + (1-a) values[i] for i = 1..count-1; a <= 0 does
// nothing, a > 1 acts as 1.
void one_pole_smooth(double a, SampleSpan values, int count);

// Resamples src[first, last) around `centre` by `ratio` into dst (indices
// relative to dst's origin, negative included) with a 31-tap truncated sinc.
// Always returns 0.
int sinc_resample(int first, int last, SampleSpan dst, double ratio, int centre, SampleSpan src);

// Periodic Hann window over values[0..n-1].
void apply_hann_window(SampleSpan values, int n);

// 45-tap windowed-sinc low-pass, output[n] for n = 0..count-1, reading
// input[-22 .. count+21]. `output` may be the same memory as `input`.
// Returns 0, or -1 when the coefficients cannot be allocated.
int fir_lowpass(SampleSpan input, int count, SampleSpan output, double cutoff);

// Normalised autocorrelation of frame[0..1023] for lags first_lag..last_lag
// (both 0: 0..512). With an `out` view (1024 entries) the results go there;
// with an empty view they replace the frame (0 at every other index).
// Returns 0, or -1 for a lag outside 0..512 or a failed allocation.
int autocorrelate(int first_lag, SampleSpan frame, SampleSpan out, int last_lag);

// dst[i] = src[offset + i] for i = 0..count-1.
void copy_samples(SampleSpan dst, int count, SampleSpan src, int offset);

// Index of the largest (mode > 0), smallest (mode < 0) or largest-magnitude
// (mode 0) value in [start, end); the first on ties; start when empty.
int find_extreme(int mode, int start, SampleSpan values, int end);

// Peak normalisation: gain (16384/peak)^(strength/100) * volume/100, then
// clipping to -32768..32767. All-zero input is left unchanged.
void normalize_and_clip(SampleSpan values, int count, int volume, int strength);

}  // namespace qern
