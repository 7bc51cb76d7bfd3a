// One generic body per kernel, written over a vector type V of W doubles and
// compiled once per unit (GCC/clang vector extensions inside functions with
// a target attribute). A body keeps A vectors of running sums in registers
// and walks the sum index in its order, so lane g of vector a is the sum of
// output a W + g, taken exactly as the plain loop takes it. Loads and stores
// go through memcpy: no alignment is assumed.
#include "dsp/vector_kernels.h"

#include <cmath>
#include <cstring>

#include "dsp/kernels.h"
#include "dsp/reference_kernels.h"
#include "dsp/sinc.h"

namespace qern {

namespace {

typedef double Vec2 __attribute__((vector_size(16)));
typedef double Vec4 __attribute__((vector_size(32)));
typedef double Vec8 __attribute__((vector_size(64)));

template <class V>
inline constexpr int LANES = static_cast<int>(sizeof(V) / sizeof(double));

constexpr int FRAME = AUTOCORRELATION_FRAME;
// The largest group of lags, and the copy of the frame's end that groups
// finish on: its last LAG_TAIL samples, then zeros.
constexpr int LAG_TAIL = 64;
constexpr int LAG_TAIL_COPY = 3 * LAG_TAIL;

// Lags k .. k + A W - 1 of lagged_products, stored where they are not above
// `last`. Every lane runs j over the overlap of the group's first lag: on
// the frame itself while every lane's product lies inside it, then on the
// copy of its end (`tail`: x[FRAME - LAG_TAIL + i] at i), where a lane past
// its own overlap multiplies by a zero and adds +-0, which leaves its sum as
// it was (a sum that starts at +0 is never -0, and the samples are finite).
// With ZERO, the group also takes the sum of lag 0 over its overlap
// (j = 0 .. FRAME - k - 1, in increasing j) in a scalar alongside: the
// vector loop's loads leave time for it.
template <class V, int A, bool ZERO>
[[gnu::always_inline]] inline void lag_group(const double* x, const double* tail, int k, int last, double* r,
                                             double& zero) {
    constexpr int W = LANES<V>;
    constexpr int G = A * W;
    static_assert(G <= LAG_TAIL);
    V sum[A] = {};
    double z = 0.0;
    const int inside = FRAME - k - (G - 1);
    for (int j = 0; j < inside; ++j) {
        const double xj = x[j];
        const double* xk = x + j + k;
        for (int a = 0; a < A; ++a) {
            V v;
            std::memcpy(&v, xk + a * W, sizeof v);
            sum[a] += xj * v;
        }
        if constexpr (ZERO) z += xj * xj;
    }
    const int end = FRAME - k;
    for (int j = inside; j < end; ++j) {
        const double xj = x[j];
        const double* xk = tail + (j + k - (FRAME - LAG_TAIL));
        for (int a = 0; a < A; ++a) {
            V v;
            std::memcpy(&v, xk + a * W, sizeof v);
            sum[a] += xj * v;
        }
        if constexpr (ZERO) z += xj * xj;
    }
    if constexpr (ZERO) zero = z;
    double s[G];
    std::memcpy(s, sum, sizeof s);
    for (int g = 0; g < G && k + g <= last; ++g) {
        const int lag = k + g;
        r[lag] = 512.0 * s[g] / static_cast<double>(FRAME - lag);
    }
}

// Lags k .. last in groups of A vectors while more than half a group is
// left, then in groups half as large. When `zero_end` is 0 on entry, the
// first group also sums lag 0 into `zero`, over j < zero_end (set then).
template <class V, int A>
[[gnu::always_inline]] inline void lag_groups(const double* x, const double* tail, int k, int last, double* r,
                                              double& zero, int& zero_end) {
    constexpr int G = A * LANES<V>;
    if (zero_end == 0 && (A == 1 ? k <= last : last - k + 1 > G / 2)) {
        lag_group<V, A, true>(x, tail, k, last, r, zero);
        zero_end = FRAME - k;
        k += G;
    }
    if constexpr (A == 1) {
        for (; k <= last; k += G) lag_group<V, 1, false>(x, tail, k, last, r, zero);
    } else {
        for (; last - k + 1 > G / 2; k += G) lag_group<V, A, false>(x, tail, k, last, r, zero);
        lag_groups<V, A / 2>(x, tail, k, last, r, zero, zero_end);
    }
}

template <class V, int A>
[[gnu::always_inline]] inline void lagged_products_body(const double* x, int first, int last, double* r,
                                                        bool with_zero) {
    double tail[LAG_TAIL_COPY];
    std::memcpy(tail, x + (FRAME - LAG_TAIL), LAG_TAIL * sizeof(double));
    std::memset(tail + LAG_TAIL, 0, (LAG_TAIL_COPY - LAG_TAIL) * sizeof(double));
    double zero = 0.0;
    int zero_end = with_zero ? 0 : FRAME;
    lag_groups<V, A>(x, tail, first, last, r, zero, zero_end);
    if (!with_zero) return;
    // The rest of lag 0 (all of it when there were no other lags).
    for (int j = zero_end; j < FRAME; ++j) zero += x[j] * x[j];
    r[0] = 512.0 * zero / static_cast<double>(FRAME);
}

// Outputs u0 .. u0 + A W - 1 of tapped_sums.
template <class V, int A>
[[gnu::always_inline]] inline void tapped_block(const double* h, int kernel_end, const double* x, double* y,
                                                int u0) {
    constexpr int W = LANES<V>;
    V sum[A] = {};
    for (int k = 1; k < kernel_end; ++k) {
        const double hk = h[k];
        const double* xk = x + u0 - k;
        for (int a = 0; a < A; ++a) {
            V v;
            std::memcpy(&v, xk + a * W, sizeof v);
            sum[a] += hk * v;
        }
    }
    std::memcpy(y + u0, sum, sizeof sum);
}

template <class V, int A>
[[gnu::always_inline]] inline void tapped_sums_body(const double* h, int kernel_end, const double* x, double* y,
                                                    int count) {
    constexpr int W = LANES<V>;
    int u = 0;
    for (; u + A * W <= count; u += A * W) tapped_block<V, A>(h, kernel_end, x, y, u);
    for (; u + W <= count; u += W) tapped_block<V, 1>(h, kernel_end, x, y, u);
    if (u < count) tapped_sums_plain(h, kernel_end, x + u, y + u, count - u);
}

constexpr int SYMMETRIC_HALF = 22;

// Outputs i0 .. i0 + A W - 1 of symmetric_taps.
template <class V, int A>
[[gnu::always_inline]] inline void symmetric_block(const double* h, const double* x, double* y, int i0) {
    constexpr int W = LANES<V>;
    V sum[A];
    for (int a = 0; a < A; ++a) {
        V v;
        std::memcpy(&v, x + i0 + a * W, sizeof v);
        sum[a] = h[0] * v;
    }
    for (int k = 1; k <= SYMMETRIC_HALF; ++k) {
        const double hk = h[k];
        for (int a = 0; a < A; ++a) {
            V before;
            V after;
            std::memcpy(&before, x + i0 + a * W - k, sizeof before);
            std::memcpy(&after, x + i0 + a * W + k, sizeof after);
            sum[a] += hk * (before + after);
        }
    }
    std::memcpy(y + i0, sum, sizeof sum);
}

template <class V, int A>
[[gnu::always_inline]] inline void symmetric_taps_body(const double* h, const double* x, double* y, int count) {
    constexpr int W = LANES<V>;
    int i = 0;
    for (; i + A * W <= count; i += A * W) symmetric_block<V, A>(h, x, y, i);
    for (; i + W <= count; i += W) symmetric_block<V, 1>(h, x, y, i);
    if (i < count) symmetric_taps_plain(h, x + i, y + i, count - i);
}

// The blocking per unit (sums kept in registers: A vectors), as measured
// fastest by bench/vector_kernels_bench.cpp.
constexpr int LAG_VECTORS = 4;
constexpr int WIDE_LAG_VECTORS = 8;
// window_cosine over a double or a vector of doubles (lane by lane, the
// same operations). The remainder y0 + y1 of x less n pi/2 is taken as in
// the classic two-round reduction; the polynomials are the classic kernels
// for |y| <= pi/4, with the low part y1 folded in.
template <class V>
[[gnu::always_inline]] inline void window_cosine_body(const V& x, V& result) {
    constexpr double INV_PIO2 = 6.36619772367581382433e-01;
    constexpr double PIO2_1 = 1.57079632673412561417e+00;   // first 33 bits of pi/2
    constexpr double PIO2_2 = 6.07710050630396597660e-11;   // next 33 bits
    constexpr double PIO2_2T = 2.02226624879595063154e-21;  // pi/2 - PIO2_1 - PIO2_2
    constexpr double ROUNDING = 6755399441055744.0;         // 1.5 * 2^52: adding it rounds to an integer
    constexpr double SPLITTER = 134217729.0;                // 2^27 + 1
    constexpr double C1 = 4.16666666666666019037e-02, C2 = -1.38888888888741095749e-03,
                     C3 = 2.48015872894767294178e-05, C4 = -2.75573143513906633035e-07,
                     C5 = 2.08757232129817482790e-09, C6 = -1.13596475577881948265e-11;
    constexpr double S1 = -1.66666666666666324348e-01, S2 = 8.33333333332248946124e-03,
                     S3 = -1.98412698298579493134e-04, S4 = 2.75573137070700676789e-06,
                     S5 = -2.50507602534068634195e-08, S6 = 1.58969099521155010221e-10;
    // n = the integer nearest x / (pi/2), 0 .. 4; n PIO2_1 and n PIO2_2 are
    // exact, and so is x - n PIO2_1.
    const V n = (x * INV_PIO2 + ROUNDING) - ROUNDING;
    const V t = x - n * PIO2_1;
    const V w0 = n * PIO2_2;
    const V r = t - w0;
    const V w = n * PIO2_2T - ((t - r) - w0);
    const V y0 = r - w;
    const V y1 = (r - y0) - w;
    const V z = y0 * y0;
    const V zz = z * z;
    // z_low = y0 y0 - z exactly (y0 split into two halves of 26 bits).
    const V split = y0 * SPLITTER;
    const V high = split - (split - y0);
    const V low = y0 - high;
    const V z_low = ((high * high - z) + 2.0 * high * low) + low * low;
    // cos(y0 + y1)
    const V rc = z * (C1 + z * (C2 + z * C3)) + zz * zz * (C4 + z * (C5 + z * C6));
    const V hz = 0.5 * z;
    const V one_less = 1.0 - hz;
    const V cosine = one_less + (((1.0 - one_less) - hz) + ((z * rc - y0 * y1) - 0.5 * z_low));
    // sin(y0 + y1)
    const V rs = S2 + z * (S3 + z * S4) + z * zz * (S5 + z * S6);
    const V v = z * y0;
    const V sine = y0 - ((z * (0.5 * y1 - v * rs) - y1) - v * S1);
    // cos x = cos y, -sin y, -cos y, sin y for n mod 4 = 0, 1, 2, 3.
    const auto odd = (n == 1.0) | (n == 3.0);
    const auto negative = (n == 1.0) | (n == 2.0);
    const V value = odd ? sine : cosine;
    result = negative ? -value : value;
}

template <class V>
[[gnu::always_inline]] inline void hann_weights_body(double* weights, int n) {
    constexpr int W = LANES<V>;
    const double step = TWO_PI / n;
    V lane{};
    for (int g = 0; g < W; ++g) lane[g] = g;
    // The window is symmetric: weight n - i is weight i.
    const int half = n / 2 + 1;  // weights 0 .. n/2
    int i = 0;
    for (; i + W <= half; i += W) {
        const V x = (static_cast<double>(i) + lane) * step;
        V c;
        window_cosine_body(x, c);
        const V weight = 0.5 - 0.5 * c;
        std::memcpy(weights + i, &weight, sizeof weight);
    }
    for (; i < half; ++i) weights[i] = 0.5 - 0.5 * window_cosine(i * step);
    for (; i < n; ++i) weights[i] = weights[n - i];
}

void hann_weights_baseline(double* weights, int n) { hann_weights_body<Vec2>(weights, n); }
#if QERN_HAVE_WIDE_VECTORS
__attribute__((target("avx2"))) void hann_weights_avx2(double* weights, int n) {
    hann_weights_body<Vec4>(weights, n);
}
// Four lanes here too: GCC takes the selections of window_cosine on eight
// lanes one lane at a time, with a compare and a branch each.
__attribute__((target("avx512f"))) void hann_weights_avx512(double* weights, int n) {
    hann_weights_body<Vec4>(weights, n);
}
#endif

// Elementwise products and sums: op(y[i], x[i]) puts its result in y[i],
// each element seeing the one operation the plain loop gives it (op takes
// doubles and vectors alike, by reference: no vector crosses a call by
// value).
template <class V, class Op>
[[gnu::always_inline]] inline void elementwise_body(double* y, const double* x, int count, Op op) {
    constexpr int W = LANES<V>;
    int i = 0;
    for (; i + W <= count; i += W) {
        V a, b;
        std::memcpy(&a, y + i, sizeof a);
        std::memcpy(&b, x + i, sizeof b);
        op(a, b);
        std::memcpy(y + i, &a, sizeof a);
    }
    for (; i < count; ++i) op(y[i], x[i]);
}

template <class V>
[[gnu::always_inline]] inline void multiply_by_body(double* x, const double* w, int count) {
    elementwise_body<V>(x, w, count, [](auto& a, const auto& b) { a = a * b; });
}

template <class V>
[[gnu::always_inline]] inline void add_into_body(double* y, const double* x, int count) {
    elementwise_body<V>(y, x, count, [](auto& a, const auto& b) { a = a + b; });
}

void multiply_by_baseline(double* x, const double* w, int count) { multiply_by_body<Vec2>(x, w, count); }
void add_into_baseline(double* y, const double* x, int count) { add_into_body<Vec2>(y, x, count); }
#if QERN_HAVE_WIDE_VECTORS
__attribute__((target("avx2"))) void multiply_by_avx2(double* x, const double* w, int count) {
    multiply_by_body<Vec4>(x, w, count);
}
__attribute__((target("avx2"))) void add_into_avx2(double* y, const double* x, int count) {
    add_into_body<Vec4>(y, x, count);
}
__attribute__((target("avx512f"))) void multiply_by_avx512(double* x, const double* w, int count) {
    multiply_by_body<Vec8>(x, w, count);
}
__attribute__((target("avx512f"))) void add_into_avx512(double* y, const double* x, int count) {
    add_into_body<Vec8>(y, x, count);
}
#endif

// A lane keeps the best of the values it meets, starting from |x[0]| as the
// plain loop does; the best of the lanes is then the plain loop's, in
// whatever order they are compared (only strictly greater values win, and
// a NaN never does).
template <class V>
[[gnu::always_inline]] inline double peak_magnitude_body(const double* x, int count) {
    constexpr int W = LANES<V>;
    const double first = std::fabs(x[0]);
    V best;
    for (int g = 0; g < W; ++g) best[g] = first;
    int i = 0;
    for (; i + W <= count; i += W) {
        V v;
        std::memcpy(&v, x + i, sizeof v);
        const V magnitude = v < 0.0 ? -v : v;  // fabs: a NaN stays a NaN, and loses below
        best = magnitude > best ? magnitude : best;
    }
    double result = best[0];
    for (int g = 1; g < W; ++g) {
        if (best[g] > result) result = best[g];
    }
    for (; i < count; ++i) {
        if (std::fabs(x[i]) > result) result = std::fabs(x[i]);
    }
    return result;
}

template <class V>
[[gnu::always_inline]] inline void scale_and_clip_body(double gain, double* x, int count) {
    constexpr int W = LANES<V>;
    int i = 0;
    V high, low;
    for (int g = 0; g < W; ++g) high[g] = 32767.0, low[g] = -32768.0;
    for (; i + W <= count; i += W) {
        V v;
        std::memcpy(&v, x + i, sizeof v);
        V s = gain * v;
        s = s > high ? high : s;
        s = s < low ? low : s;
        std::memcpy(x + i, &s, sizeof s);
    }
    for (; i < count; ++i) {
        double s = gain * x[i];
        if (s > 32767.0) {
            s = 32767.0;
        } else if (s < -32768.0) {
            s = -32768.0;
        }
        x[i] = s;
    }
}

double peak_magnitude_baseline(const double* x, int count) { return peak_magnitude_body<Vec2>(x, count); }
void scale_and_clip_baseline(double gain, double* x, int count) { scale_and_clip_body<Vec2>(gain, x, count); }
#if QERN_HAVE_WIDE_VECTORS
__attribute__((target("avx2"))) double peak_magnitude_avx2(const double* x, int count) {
    return peak_magnitude_body<Vec4>(x, count);
}
__attribute__((target("avx2"))) void scale_and_clip_avx2(double gain, double* x, int count) {
    scale_and_clip_body<Vec4>(gain, x, count);
}
__attribute__((target("avx512f"))) double peak_magnitude_avx512(const double* x, int count) {
    return peak_magnitude_body<Vec8>(x, count);
}
__attribute__((target("avx512f"))) void scale_and_clip_avx512(double gain, double* x, int count) {
    scale_and_clip_body<Vec8>(gain, x, count);
}
#endif

constexpr int TAP_VECTORS = 8;
constexpr int SYMMETRIC_VECTORS = 4;

void lagged_products_baseline(const double* x, int first, int last, double* r, bool with_zero) {
    lagged_products_body<Vec2, LAG_VECTORS>(x, first, last, r, with_zero);
}

void tapped_sums_baseline(const double* h, int kernel_end, const double* x, double* y, int count) {
    tapped_sums_body<Vec2, TAP_VECTORS>(h, kernel_end, x, y, count);
}
void symmetric_taps_baseline(const double* h, const double* x, double* y, int count) {
    symmetric_taps_body<Vec2, SYMMETRIC_VECTORS>(h, x, y, count);
}

#if QERN_HAVE_WIDE_VECTORS
__attribute__((target("avx2"))) void lagged_products_avx2(const double* x, int first, int last, double* r,
                                                          bool with_zero) {
    lagged_products_body<Vec4, WIDE_LAG_VECTORS>(x, first, last, r, with_zero);
}
__attribute__((target("avx2"))) void tapped_sums_avx2(const double* h, int kernel_end, const double* x,
                                                      double* y, int count) {
    tapped_sums_body<Vec4, TAP_VECTORS>(h, kernel_end, x, y, count);
}
__attribute__((target("avx2"))) void symmetric_taps_avx2(const double* h, const double* x, double* y,
                                                         int count) {
    symmetric_taps_body<Vec4, SYMMETRIC_VECTORS>(h, x, y, count);
}
__attribute__((target("avx512f"))) void lagged_products_avx512(const double* x, int first, int last,
                                                               double* r, bool with_zero) {
    lagged_products_body<Vec8, WIDE_LAG_VECTORS>(x, first, last, r, with_zero);
}
__attribute__((target("avx512f"))) void tapped_sums_avx512(const double* h, int kernel_end, const double* x,
                                                           double* y, int count) {
    tapped_sums_body<Vec8, TAP_VECTORS>(h, kernel_end, x, y, count);
}
__attribute__((target("avx512f"))) void symmetric_taps_avx512(const double* h, const double* x, double* y,
                                                              int count) {
    symmetric_taps_body<Vec8, SYMMETRIC_VECTORS>(h, x, y, count);
}
#endif

}  // namespace

void lagged_products(VectorUnit unit, const double* x, int first, int last, double* r) {
#if QERN_HAVE_WIDE_VECTORS
    if (unit == VectorUnit::avx512) return lagged_products_avx512(x, first, last, r, false);
    if (unit == VectorUnit::avx2) return lagged_products_avx2(x, first, last, r, false);
#endif
    (void)unit;
    lagged_products_baseline(x, first, last, r, false);
}

void lagged_products_and_zero(VectorUnit unit, const double* x, int first, int last, double* r) {
#if QERN_HAVE_WIDE_VECTORS
    if (unit == VectorUnit::avx512) return lagged_products_avx512(x, first, last, r, true);
    if (unit == VectorUnit::avx2) return lagged_products_avx2(x, first, last, r, true);
#endif
    (void)unit;
    lagged_products_baseline(x, first, last, r, true);
}

void tapped_sums(VectorUnit unit, const double* h, int kernel_end, const double* x, double* y, int count) {
#if QERN_HAVE_WIDE_VECTORS
    if (unit == VectorUnit::avx512) return tapped_sums_avx512(h, kernel_end, x, y, count);
    if (unit == VectorUnit::avx2) return tapped_sums_avx2(h, kernel_end, x, y, count);
#endif
    (void)unit;
    tapped_sums_baseline(h, kernel_end, x, y, count);
}

void multiply_by(VectorUnit unit, double* x, const double* w, int count) {
#if QERN_HAVE_WIDE_VECTORS
    if (unit == VectorUnit::avx512) return multiply_by_avx512(x, w, count);
    if (unit == VectorUnit::avx2) return multiply_by_avx2(x, w, count);
#endif
    (void)unit;
    multiply_by_baseline(x, w, count);
}

void add_into(VectorUnit unit, double* y, const double* x, int count) {
#if QERN_HAVE_WIDE_VECTORS
    if (unit == VectorUnit::avx512) return add_into_avx512(y, x, count);
    if (unit == VectorUnit::avx2) return add_into_avx2(y, x, count);
#endif
    (void)unit;
    add_into_baseline(y, x, count);
}

double peak_magnitude(VectorUnit unit, const double* x, int count) {
#if QERN_HAVE_WIDE_VECTORS
    if (unit == VectorUnit::avx512) return peak_magnitude_avx512(x, count);
    if (unit == VectorUnit::avx2) return peak_magnitude_avx2(x, count);
#endif
    (void)unit;
    return peak_magnitude_baseline(x, count);
}

void scale_and_clip(VectorUnit unit, double gain, double* x, int count) {
#if QERN_HAVE_WIDE_VECTORS
    if (unit == VectorUnit::avx512) return scale_and_clip_avx512(gain, x, count);
    if (unit == VectorUnit::avx2) return scale_and_clip_avx2(gain, x, count);
#endif
    (void)unit;
    scale_and_clip_baseline(gain, x, count);
}

double window_cosine(double x) {
    double c;
    window_cosine_body(x, c);
    return c;
}

void hann_weights(VectorUnit unit, double* weights, int n) {
    if (n <= 0) return;
#if QERN_HAVE_WIDE_VECTORS
    if (unit == VectorUnit::avx512) return hann_weights_avx512(weights, n);
    if (unit == VectorUnit::avx2) return hann_weights_avx2(weights, n);
#endif
    (void)unit;
    hann_weights_baseline(weights, n);
}

void symmetric_taps(VectorUnit unit, const double* h, const double* x, double* y, int count) {
#if QERN_HAVE_WIDE_VECTORS
    if (unit == VectorUnit::avx512) return symmetric_taps_avx512(h, x, y, count);
    if (unit == VectorUnit::avx2) return symmetric_taps_avx2(h, x, y, count);
#endif
    (void)unit;
    symmetric_taps_baseline(h, x, y, count);
}

}  // namespace qern
