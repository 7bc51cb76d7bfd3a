// Small signal kernels shared by the analysis and the synthesis.
//
// Each kernel checks once that its view covers every index it touches (in
// debug builds, like SampleSpan::operator[]) and then works on the raw
// memory, so the inner loops carry no bounds tests. Sums are accumulated in
// the order the formulas state them; where a loop is arranged for speed
// (the autocorrelation lags and the low-pass outputs several at a time on the
// vector unit, dsp/vector_kernels.h), every single value still sees the same
// operations in the same order.
#include "dsp/kernels.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>

#include "dsp/sinc.h"
#include "dsp/vector_kernels.h"

namespace qern {
namespace {

// The memory behind `s`, after checking that [first, last) lies inside it.
double* checked_origin(SampleSpan s, int first, int last) {
    assert(first >= last || (s.origin != nullptr && first >= s.begin && last <= s.end));
    (void)first;
    (void)last;
    return s.origin;
}

constexpr int FIR_HALF_LENGTH = 22;  // taps -22..22
// Output samples computed per pass of the low-pass.
constexpr int FIR_CHUNK = 512;

}  // namespace

void one_pole_smooth(double a, SampleSpan values, int count) {
    if (a <= 0.0) return;
    if (a > 1.0) a = 1.0;
    double* v = checked_origin(values, 0, count);
    const double b = 1.0 - a;
    for (int i = 1; i < count; ++i) v[i] = a * v[i - 1] + b * v[i];
}

int sinc_resample(int first, int last, SampleSpan dst, double ratio, int centre, SampleSpan src) {
    const int lo = first - centre;
    const int hi = last - centre;
    const double r = 1.0 / ratio;
    const int out_first = static_cast<int>(ratio * lo);
    const int out_last = static_cast<int>(ratio * hi);
    double* y = checked_origin(dst, out_first, out_last);
    const double* x = checked_origin(src, first, last) + centre;  // x[j] = src[centre + j]
    for (int i = out_first; i < out_last; ++i) {
        const double u = r * i;
        const int t = static_cast<int>(u);
        // sin(pi (u - j)) = (-1)^(m - j) sin(pi (u - m)) for the integer m
        // nearest to u: one sine per output sample, of an exact fraction of
        // at most a half (where the sine keeps its relative precision), so
        // each tap moves only by the rounding of its own sine.
        const double m = std::round(u);
        const int parity = static_cast<int>(m) & 1;
        const double s = std::sin(PI * (u - m));
        const int j_first = std::max(t - 15, lo);
        const int j_last = std::min(t + 15, hi - 1);
        // The tap weights first (independent of each other, so they go
        // through the vector unit), then the sum in increasing j.
        std::array<double, 31> weight;
        const int taps = j_last - j_first + 1;
        const double even = ((parity ^ j_first) & 1) != 0 ? -s : s;  // sign at q = 0
        const double odd = -even;
        for (int q = 0; q < taps; ++q) {
            const double d = PI * (u - (j_first + q));
            weight[q] = ((q & 1) != 0 ? odd : even) / d;
        }
        // d is 0 only at j = u, an integer u: weight 1 there.
        if (u == m && m >= j_first && m <= j_last) weight[static_cast<int>(m) - j_first] = 1.0;
        double sum = 0.0;
        for (int q = 0; q < taps; ++q) sum += weight[q] * x[j_first + q];
        y[i] = sum;
    }
    return 0;
}

void apply_hann_window(SampleSpan values, int n) {
    if (n <= 0) return;
    double* v = checked_origin(values, 0, n);
    const double step = TWO_PI / n;
    for (int i = 0; i < n; ++i) v[i] = v[i] * (0.5 - 0.5 * window_cosine(std::min(i, n - i) * step));
}

void hann_weights(double* weights, int n) { hann_weights(best_vector_unit(), weights, n); }

void apply_window_weights(SampleSpan values, const double* weights, int n) {
    if (n <= 0) return;
    multiply_by(best_vector_unit(), checked_origin(values, 0, n), weights, n);
}

int fir_lowpass(SampleSpan input, int count, SampleSpan output, double cutoff) {
    // Coefficients of taps 0..22: raised-cosine window times the ideal
    // low-pass 2 fc sinc(2 pi fc k), not renormalised.
    std::array<double, FIR_HALF_LENGTH + 1> h{};
    for (int k = 0; k <= FIR_HALF_LENGTH; ++k) {
        const double window = 0.5 + 0.5 * std::cos(TWO_PI * k / 45.0);
        h[k] = window * 2.0 * cutoff * sinc(TWO_PI * cutoff * k);
    }
    if (count <= 0) return 0;

    const double* x = checked_origin(input, -FIR_HALF_LENGTH, count + FIR_HALF_LENGTH);
    double* y = checked_origin(output, 0, count);

    // window[22 + m] holds input[n0 + m] as it was before this call, for
    // m = -22 .. chunk + 21: the 22 samples before the chunk are carried over
    // from the previous pass (the delay line), the rest is read before any
    // output of this chunk is written. So output may be the input's memory.
    // A short last chunk is padded with zeros and computed in full (the loops
    // keep a fixed length); only its first outputs are stored.
    std::array<double, FIR_CHUNK + 2 * FIR_HALF_LENGTH> window;
    std::array<double, FIR_CHUNK> acc;
    std::copy(x - FIR_HALF_LENGTH, x, window.begin());
    for (int n0 = 0; n0 < count; n0 += FIR_CHUNK) {
        const int m = std::min(FIR_CHUNK, count - n0);
        const auto filled = std::copy(x + n0, x + n0 + m + FIR_HALF_LENGTH, window.begin() + FIR_HALF_LENGTH);
        std::fill(filled, window.end(), 0.0);
        const double* w = window.data() + FIR_HALF_LENGTH;
        // y[n] = h0 x[n] + sum_{k=1}^{22} h[k] (x[n-k] + x[n+k]), k increasing.
        symmetric_taps(best_vector_unit(), h.data(), w, acc.data(), FIR_CHUNK);
        std::copy(acc.begin(), acc.begin() + m, y + n0);
        // The last 22 inputs of this chunk precede the next one.
        std::copy(window.begin() + m, window.begin() + m + FIR_HALF_LENGTH, window.begin());
    }
    return 0;
}

int autocorrelate(int first_lag, SampleSpan frame, SampleSpan out, int last_lag) {
    if (first_lag < 0 || first_lag > AUTOCORRELATION_MAX_LAG || last_lag > AUTOCORRELATION_MAX_LAG) return -1;
    if (first_lag == 0 && last_lag == 0) last_lag = AUTOCORRELATION_MAX_LAG;

    double* x = checked_origin(frame, 0, AUTOCORRELATION_FRAME);
    if (!out.empty()) {
        double* r = checked_origin(out, first_lag, last_lag + 1);
        lagged_products(best_vector_unit(), x, first_lag, last_lag, r);
        return 0;
    }
    // Without an output array the results replace the frame, 0 at every
    // index outside the lag range. (The working array lives on the stack, so
    // this path cannot fail.)
    std::array<double, AUTOCORRELATION_FRAME> work{};
    lagged_products(best_vector_unit(), x, first_lag, last_lag, work.data());
    std::copy(work.begin(), work.end(), x);
    return 0;
}

void copy_samples(SampleSpan dst, int count, SampleSpan src, int offset) {
    if (count <= 0) return;
    double* y = checked_origin(dst, 0, count);
    const double* x = checked_origin(src, offset, offset + count) + offset;
    std::copy(x, x + count, y);
}

int find_extreme(int mode, int start, SampleSpan values, int end) {
    const double* v = checked_origin(values, start, std::max(end, start + 1));
    int result = start;
    if (mode > 0) {
        double best = v[start];
        for (int i = start; i < end; ++i) {
            if (v[i] > best) {
                best = v[i];
                result = i;
            }
        }
    } else if (mode < 0) {
        double best = v[start];
        for (int i = start; i < end; ++i) {
            if (v[i] < best) {
                best = v[i];
                result = i;
            }
        }
    } else {
        double best = std::fabs(v[start]);
        for (int i = start; i < end; ++i) {
            if (std::fabs(v[i]) > best) {
                best = std::fabs(v[i]);
                result = i;
            }
        }
    }
    return result;
}

void normalize_and_clip(SampleSpan values, int count, int volume, int strength) {
    // The peak is read even for count <= 0 (values[0]), as find_extreme does.
    double* v = checked_origin(values, 0, std::max(count, 1));
    const double peak = peak_magnitude(best_vector_unit(), v, count);
    if (peak == 0.0) return;
    const double gain = std::pow(16384.0 / peak, strength / 100.0) * (volume / 100.0);
    scale_and_clip(best_vector_unit(), gain, v, std::max(count, 0));
}

}  // namespace qern
