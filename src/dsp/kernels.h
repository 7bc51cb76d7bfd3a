// Small signal kernels shared by the analysis and the synthesis.
//
// Each takes views whose index 0 is the position the caller means; reads at
// negative indices or past the count go into the view's margins, and the
// view must cover them. Locals: x input, y output, n length, k index or lag.
// Every double-to-int conversion truncates toward zero.
#pragma once

#include "base/sample_buffer.h"

namespace qern {

// values[i] = a values[i-1] + (1-a) values[i] for i = 1..count-1; a <= 0 does
// nothing, a > 1 acts as 1.
void one_pole_smooth(double a, SampleSpan values, int count);

// Resamples src[first, last) around `centre` by `ratio` (> 0) into dst with a
// 31-tap truncated (unwindowed) sinc: dst[i] for i = trunc(ratio (first -
// centre)) .. trunc(ratio (last - centre)) - 1 (relative to dst's origin,
// negative included) is the interpolation at source position centre + i /
// ratio, taps outside [first, last) left out. Reads only src[first, last).
// Always returns 0.
int sinc_resample(int first, int last, SampleSpan dst, double ratio, int centre, SampleSpan src);

// Periodic Hann window over values[0..n-1]: weight 0.5 - 0.5 cos(2 pi i / n),
// taken at min(i, n - i) (the window is symmetric).
// Nothing for n <= 0.
void apply_hann_window(SampleSpan values, int n);

// The weights apply_hann_window multiplies by, computed by the same
// expression: weights[i] = 0.5 - 0.5 cos(2 pi i / n) for i = 0..n-1
// (weights must hold n values). Nothing for n <= 0.
void hann_weights(double* weights, int n);

// values[i] = values[i] * weights[i] for i = 0..n-1; with hann_weights(n)
// this is apply_hann_window(values, n), bit for bit. Nothing for n <= 0.
void apply_window_weights(SampleSpan values, const double* weights, int n);

// 45-tap windowed-sinc low-pass (cutoff a fraction of the sample rate, zero
// delay), output[n] for n = 0..count-1, reading input[-22 .. count+21].
// `output` may be the same memory as `input`: the result is the same.
// Returns 0 (the -1 of a failed allocation cannot occur: the taps and the
// delay line live on the stack).
int fir_lowpass(SampleSpan input, int count, SampleSpan output, double cutoff);

// The frame of the autocorrelation, and its largest lag.
inline constexpr int AUTOCORRELATION_FRAME = 1024;
inline constexpr int AUTOCORRELATION_MAX_LAG = 512;

// Normalised autocorrelation of frame[0..1023] for lags first_lag..last_lag
// (both 0: 0..512). With an `out` view (1024 entries) the results go there;
// with an empty view they replace the frame (0 at every other index, all
// 1024 entries 0 when the range is empty).
// r[k] = 512 (sum_{j=0}^{1023-k} x[j] x[j+k]) / (1024 - k). Lags outside the
// range are not touched; first_lag > last_lag computes nothing.
// Returns 0, or -1 (nothing written) when first_lag < 0, first_lag > 512 or
// last_lag > 512.
int autocorrelate(int first_lag, SampleSpan frame, SampleSpan out, int last_lag);

// dst[i] = src[offset + i] for i = 0..count-1; nothing for count <= 0.
void copy_samples(SampleSpan dst, int count, SampleSpan src, int offset);

// Index of the largest (mode > 0), smallest (mode < 0) or largest-magnitude
// (mode 0) value in [start, end); the first on ties; start when empty.
// Reads values[start] even when the range is empty.
int find_extreme(int mode, int start, SampleSpan values, int end);

// Peak normalisation: gain (16384/peak)^(strength/100) * volume/100, then
// clipping to -32768..32767 (values stay doubles). All-zero input is left
// unchanged. Volume and strength are percent.
void normalize_and_clip(SampleSpan values, int count, int volume, int strength);

}  // namespace qern
