#include "dsp/sinc_table.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <new>

#include "dsp/sinc.h"

#if QERN_HAVE_WIDE_VECTORS
#include <immintrin.h>
#endif

namespace qern {

namespace {

constexpr int HALF_TAPS = SINC_TAPS / 2;  // taps t - 15 .. t + 15
constexpr int ROWS = SincTable::BLOCK_ROWS;
constexpr int BLOCK_VALUES = SINC_TAPS * ROWS;

// Row i: the weights of sinc_resample's output i, each by its expression,
// written `stride` apart.
void fill_row(double r, int i, double* w, int stride, int* first_tap) {
    const double u = r * i;
    const int t = static_cast<int>(u);
    const double m = std::round(u);
    const int parity = static_cast<int>(m) & 1;
    const double s = std::sin(PI * (u - m));
    const int j0 = t - HALF_TAPS;
    for (int q = 0; q < SINC_TAPS; ++q) {
        const int j = j0 + q;
        const double d = PI * (u - j);
        // sin(pi (u - j)) = (-1)^(m - j) sin(pi (u - m)).
        w[q * stride] = (((parity ^ j) & 1) != 0 ? -s : s) / d;
    }
    // d is 0 only at j = u, an integer u (then t = m): weight 1 there.
    if (u == m) w[(static_cast<int>(m) - j0) * stride] = 1.0;
    *first_tap = j0;
}

// A block of 8 outputs whose taps all lie inside the span: y[b] = sum over q
// of w[q * 8 + b] x[taps[b] + q], each sum in increasing q. The eight sums
// are independent, so the processor overlaps them.
void full_block_plain(const double* w, const int* taps, const double* x, double* y) {
    double sum[ROWS] = {};
    for (int q = 0; q < SINC_TAPS; ++q) {
        for (int b = 0; b < ROWS; ++b) sum[b] += w[q * ROWS + b] * x[taps[b] + q];
    }
    std::copy(sum, sum + ROWS, y);
}

#if QERN_HAVE_WIDE_VECTORS
// The vector forms load the sources of a block's outputs at once: output b
// of a block reads x[taps[0] + spread_b + q] at tap q, spread_b = taps[b] -
// taps[0], so one load of the samples from taps[0] + q and a permutation by
// the spreads give every lane its sample. That needs the spreads to fit the
// loaded registers (the ratio at least about 1/2); other blocks go the plain
// way. Masked loads read no sample past the block's last tap.

__attribute__((target("avx512f"))) bool fits_avx512(const int* taps) { return taps[ROWS - 1] - taps[0] < 16; }

__attribute__((target("avx512f"))) void full_blocks_avx512(const double* w, const int* taps, int blocks,
                                                           const double* x, double* y) {
    for (int k = 0; k < blocks; ++k, w += BLOCK_VALUES, taps += ROWS, y += ROWS) {
        if (!fits_avx512(taps)) {
            full_block_plain(w, taps, x, y);
            continue;
        }
        const int reach = taps[ROWS - 1] - taps[0] + 1;  // samples each tap reads
        const __m512i lanes = _mm512_set_epi64(taps[7] - taps[0], taps[6] - taps[0], taps[5] - taps[0],
                                               taps[4] - taps[0], taps[3] - taps[0], taps[2] - taps[0],
                                               taps[1] - taps[0], 0);
        const __mmask8 low = static_cast<__mmask8>(reach >= 8 ? 0xFF : (1u << reach) - 1u);
        const __mmask8 high = static_cast<__mmask8>(reach <= 8 ? 0 : (1u << (reach - 8)) - 1u);
        const double* xs = x + taps[0];
        __m512d sum = _mm512_setzero_pd();
        for (int q = 0; q < SINC_TAPS; ++q) {
            const __m512d a = _mm512_maskz_loadu_pd(low, xs + q);
            const __m512d b = _mm512_maskz_loadu_pd(high, xs + q + 8);
            const __m512d v = _mm512_permutex2var_pd(a, lanes, b);
            sum = _mm512_add_pd(sum, _mm512_mul_pd(_mm512_loadu_pd(w + q * ROWS), v));
        }
        _mm512_storeu_pd(y, sum);
    }
}

// Four outputs at a time; their spreads must stay below 4.
__attribute__((target("avx2"))) void full_half_avx2(const double* w, const int* taps, const double* x, double* y) {
    const int reach = taps[3] - taps[0] + 1;
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2 * (taps[1] - taps[0]), 2 * (taps[1] - taps[0]) + 1,
                                            2 * (taps[2] - taps[0]), 2 * (taps[2] - taps[0]) + 1,
                                            2 * (taps[3] - taps[0]), 2 * (taps[3] - taps[0]) + 1);
    const __m256i mask = _mm256_setr_epi64x(-1, reach > 1 ? -1 : 0, reach > 2 ? -1 : 0, reach > 3 ? -1 : 0);
    const double* xs = x + taps[0];
    __m256d sum = _mm256_setzero_pd();
    for (int q = 0; q < SINC_TAPS; ++q) {
        const __m256d a = _mm256_maskload_pd(xs + q, mask);
        const __m256d v = _mm256_castps_pd(_mm256_permutevar8x32_ps(_mm256_castpd_ps(a), lanes));
        sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_loadu_pd(w + q * ROWS), v));
    }
    _mm256_storeu_pd(y, sum);
}

__attribute__((target("avx2"))) void full_blocks_avx2(const double* w, const int* taps, int blocks,
                                                      const double* x, double* y) {
    for (int k = 0; k < blocks; ++k, w += BLOCK_VALUES, taps += ROWS, y += ROWS) {
        if (taps[3] - taps[0] < 4 && taps[7] - taps[4] < 4) {
            full_half_avx2(w, taps, x, y);
            full_half_avx2(w + 4, taps + 4, x, y + 4);
        } else {
            full_block_plain(w, taps, x, y);
        }
    }
}
#endif

void full_blocks(VectorUnit unit, const double* w, const int* taps, int blocks, const double* x, double* y) {
#if QERN_HAVE_WIDE_VECTORS
    if (unit == VectorUnit::avx512) return full_blocks_avx512(w, taps, blocks, x, y);
    if (unit == VectorUnit::avx2) return full_blocks_avx2(w, taps, blocks, x, y);
#endif
    (void)unit;
    for (int k = 0; k < blocks; ++k, w += BLOCK_VALUES, taps += ROWS, y += ROWS) full_block_plain(w, taps, x, y);
}

}  // namespace

SincTable make_sinc_table(double ratio, int capacity) {
    SincTable table;
    if (capacity <= 0) return table;
    capacity = (capacity + ROWS - 1) / ROWS * ROWS;
    const auto rows = static_cast<std::size_t>(2) * static_cast<std::size_t>(capacity);
    // Not value-initialised: a row is written before it is read.
    table.weights.reset(new (std::nothrow) double[rows * SINC_TAPS]);
    table.first_tap.reset(new (std::nothrow) int[rows]);
    if (!table.weights || !table.first_tap) return SincTable{};
    table.ratio = ratio;
    table.capacity = capacity;
    return table;
}

bool prepare_sinc_rows(SincTable& table, int half) {
    if (half <= table.rows_ready) return true;
    if (half > table.capacity) return false;
    const double r = 1.0 / table.ratio;
    auto fill = [&](int i) {
        const auto n = static_cast<std::size_t>(i + table.capacity);
        double* w = table.weights.get() + (n / ROWS) * BLOCK_VALUES + n % ROWS;
        fill_row(r, i, w, ROWS, &table.first_tap[n]);
    };
    for (int i = -half; i < -table.rows_ready; ++i) fill(i);
    for (int i = table.rows_ready; i < half; ++i) fill(i);
    table.rows_ready = half;
    return true;
}

int sinc_resample(const SincTable& table, int first, int last, SampleSpan dst, int centre, SampleSpan src) {
    return sinc_resample(best_vector_unit(), table, first, last, dst, centre, src);
}

int sinc_resample(VectorUnit unit, const SincTable& table, int first, int last, SampleSpan dst, int centre,
                  SampleSpan src) {
    const int lo = first - centre;
    const int hi = last - centre;
    const int out_first = static_cast<int>(table.ratio * lo);
    const int out_last = static_cast<int>(table.ratio * hi);
    if (out_first >= out_last) return 0;
    assert(-out_first <= table.rows_ready && out_last <= table.rows_ready);
    assert(dst.origin != nullptr && out_first >= dst.begin && out_last <= dst.end);
    assert(src.origin != nullptr && first >= src.begin && last <= src.end);
    double* y = dst.origin;
    const double* x = src.origin + centre;  // x[j] = src[centre + j]
    const int* taps = table.first_tap.get() + table.capacity;  // taps[i]: row i's first tap
    auto weights_of = [&](int i) {
        const auto n = static_cast<std::size_t>(i + table.capacity);
        return table.weights.get() + (n / ROWS) * BLOCK_VALUES + n % ROWS;
    };
    // One output, over the taps that lie in [lo, hi).
    auto clipped = [&](int i) {
        const double* w = weights_of(i);
        const int j0 = taps[i];
        const int j_first = std::max(j0, lo);
        const int j_last = std::min(j0 + SINC_TAPS - 1, hi - 1);
        double sum = 0.0;
        for (int j = j_first; j <= j_last; ++j) sum += w[(j - j0) * ROWS] * x[j];
        y[i] = sum;
    };
    // The first taps only grow with i: the outputs whose taps all lie in the
    // span form one run. Its whole blocks go to the vector unit.
    int i = out_first;
    while (i < out_last && (taps[i] < lo || (i + table.capacity) % ROWS != 0)) clipped(i++);
    int full_end = i;
    while (full_end < out_last && taps[full_end] + SINC_TAPS - 1 < hi) ++full_end;
    const int blocks = (full_end - i) / ROWS;
    full_blocks(unit, weights_of(i), taps + i, blocks, x, y + i);
    for (i += blocks * ROWS; i < out_last; ++i) clipped(i);
    return 0;
}

}  // namespace qern
