// The innermost sums of the analysis and of the g-flag low-pass, computed
// several outputs at a time on the chosen vector unit. Every single output
// sees the same multiplications and additions in the same order as the
// plain loops of dsp/reference_kernels.h, so every unit gives the same bits.
#pragma once

#include "dsp/vector_unit.h"

namespace qern {

// Lagged products of a 1024-sample frame, for lags k = first .. last
// (0 <= first, last <= 512; nothing when first > last):
// r[k] = 512 (sum_{j=0}^{1023-k} x[j] x[j+k]) / (1024 - k), each sum taken in
// increasing j from 0.0. Reads x[0..1023], writes r[first..last].
void lagged_products(VectorUnit unit, const double* x, int first, int last, double* r);

// lagged_products for lag 0 and for lags first .. last (1 <= first), with
// the sum of lag 0 taken alongside the first group of other lags (the same
// sum in the same order) instead of in a pass of its own. Writes r[0] and
// r[first..last].
void lagged_products_and_zero(VectorUnit unit, const double* x, int first, int last, double* r);

// Causal filter: y[u] = sum_{k=1}^{kernel_end-1} h[k] x[u-k] for
// u = 0 .. count-1, each sum taken in increasing k from 0.0 (y[u] = 0 when
// kernel_end <= 1). Reads h[1 .. kernel_end-1] and
// x[1-kernel_end .. count-2]; x and y do not overlap.
void tapped_sums(VectorUnit unit, const double* h, int kernel_end, const double* x, double* y,
                 int count);

// Symmetric 45-tap filter: y[i] = h[0] x[i] + sum_{k=1}^{22} h[k] (x[i-k] +
// x[i+k]) for i = 0 .. count-1, k increasing. Reads h[0..22] and
// x[-22 .. count+21]; x and y do not overlap.
void symmetric_taps(VectorUnit unit, const double* h, const double* x, double* y, int count);

// x[i] = x[i] * w[i] for i = 0 .. count-1, several at a time.
void multiply_by(VectorUnit unit, double* x, const double* w, int count);

// y[i] = y[i] + x[i] for i = 0 .. count-1, several at a time.
void add_into(VectorUnit unit, double* y, const double* x, int count);

// The largest magnitude of x[0 .. count-1] as the plain loop finds it:
// |x[0]| to start with (read even when count < 1), then every |x[i]| greater
// than the best so far (a NaN never is; a NaN at x[0] stays).
double peak_magnitude(VectorUnit unit, const double* x, int count);

// x[i] = gain x[i], then 32767 where above it and -32768 where below that
// (a NaN stays), for i = 0 .. count-1.
void scale_and_clip(VectorUnit unit, double gain, double* x, int count);

// cos x for 0 <= x <= 2 pi, as the Hann windows of the synthesis take it:
// x less the nearest multiple of pi/2 (pi/2 carried in three parts, to 118
// bits), then the sine or cosine polynomial of what is left, in plain
// arithmetic. Within one unit in the last place of the true value, almost
// always the correctly rounded one, and the same bits on every system and
// every vector unit (the C library's cos is none of these for certain).
double window_cosine(double x);

// weights[i] = 0.5 - 0.5 window_cosine(k (2 pi / n)) for i = 0 .. n-1,
// k = min(i, n - i): the window is symmetric, and its second half repeats
// the first. Several i at a time on `unit`; the same bits on every unit.
// Nothing for n <= 0.
void hann_weights(VectorUnit unit, double* weights, int n);

}  // namespace qern
