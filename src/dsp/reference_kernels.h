// The plain loops that the faster kernels must reproduce: one output at a
// time, one scalar operation at a time, one sine per tap. The tests and
// benchmarks measure the faster kernels against them.
#pragma once

#include "base/sample_buffer.h"

namespace qern {

// As lagged_products (dsp/vector_kernels.h), one lag after the other.
void lagged_products_plain(const double* x, int first, int last, double* r);

// As tapped_sums, one output after the other.
void tapped_sums_plain(const double* h, int kernel_end, const double* x, double* y, int count);

// As symmetric_taps, one output after the other.
void symmetric_taps_plain(const double* h, const double* x, double* y, int count);

// As sinc_resample (dsp/kernels.h) with one sine per tap: sin(pi (u - j)) /
// (pi (u - j)). sinc_resample takes one sine per output sample instead, so
// the two may differ by rounding (a few units in the last place of a tap).
int sinc_resample_plain(int first, int last, SampleSpan dst, double ratio, int centre, SampleSpan src);

}  // namespace qern
