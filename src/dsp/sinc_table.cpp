#include "dsp/sinc_table.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstring>
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

// The weights of a block of 8 rows as the lane kernels read them: tap q of
// row b at row[b][q * step]. A block of the table has step 8; a block of
// negative rows of a mirrored table reads its mirror rows backwards, step -8.
struct LaneWeights {
    const double* row[ROWS];
    std::ptrdiff_t step;
};

// Row i's first tap at r = 1 / ratio: trunc(i / ratio) - 15.
int first_tap_of(double r, int i) { return static_cast<int>(r * i) - HALF_TAPS; }

// The first weight of the table's block holding row n = i + capacity (for
// a mirrored table, n = i >= 0).
double* block_weights(const SincTable& table, int n) {
    return table.weights.get() + static_cast<std::ptrdiff_t>(n / ROWS) * BLOCK_VALUES;
}

// Rows i0 .. i0+7, one block (its weights at w, its rows' first taps j0 at
// first_tap, as make_sinc_table sets them): the weights of
// sinc_resample's outputs, each by its expression, the eight rows side by
// side, so that the divisions go to the vector unit (one sine per row stays
// in the C library). Tap q of row i is the weight of source index j = j0 + q
// at u = i / ratio: sin(pi (u - j)) / (pi (u - j)), with sin(pi (u - j)) =
// (-1)^(m - j) sin(pi (u - m)) for m the integer nearest u; d = 0 only at
// j = u, an integer u (then trunc(u) = m), whose weight is 1.
typedef double BlockVector __attribute__((vector_size(8 * sizeof(double))));

[[gnu::always_inline]] inline void fill_block_body(double r, int i0, double* w, const int* first_tap) {
    BlockVector u, nearest, j0, signed_s;
    for (int b = 0; b < ROWS; ++b) {
        u[b] = r * (i0 + b);
        nearest[b] = std::round(u[b]);
        const int parity = static_cast<int>(nearest[b]) & 1;
        const double s = std::sin(PI * (u[b] - nearest[b]));
        j0[b] = first_tap[b];
        // The sign of tap 0; it alternates from tap to tap.
        signed_s[b] = ((parity ^ first_tap[b]) & 1) != 0 ? -s : s;
    }
    for (int q = 0; q < SINC_TAPS; ++q) {
        const BlockVector d = PI * (u - (j0 + static_cast<double>(q)));
        const BlockVector weight = signed_s / d;
        std::memcpy(w + q * ROWS, &weight, sizeof weight);
        signed_s = -signed_s;
    }
    for (int b = 0; b < ROWS; ++b) {
        if (u[b] == nearest[b]) w[(static_cast<int>(nearest[b]) - first_tap[b]) * ROWS + b] = 1.0;
    }
}

void fill_block_baseline(double r, int i0, double* w, const int* first_tap) {
    fill_block_body(r, i0, w, first_tap);
}
#if QERN_HAVE_WIDE_VECTORS
__attribute__((target("avx2"))) void fill_block_avx2(double r, int i0, double* w, const int* first_tap) {
    fill_block_body(r, i0, w, first_tap);
}
__attribute__((target("avx512f"))) void fill_block_avx512(double r, int i0, double* w, const int* first_tap) {
    fill_block_body(r, i0, w, first_tap);
}
#endif

void fill_block(VectorUnit unit, double r, int i0, double* w, const int* first_tap) {
#if QERN_HAVE_WIDE_VECTORS
    if (unit == VectorUnit::avx512) return fill_block_avx512(r, i0, w, first_tap);
    if (unit == VectorUnit::avx2) return fill_block_avx2(r, i0, w, first_tap);
#endif
    (void)unit;
    fill_block_baseline(r, i0, w, first_tap);
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
// way.
//
// AVX-512 works on a copy of the span with zeros around it (PADDING on each
// side). A tap outside the span then reads a zero, and adding its product,
// +-0, leaves a sum as it was (a sum that starts at +0 is never -0): so
// every block goes the same way, those at the span's ends too, without
// masks; and the outputs of a block the span covers only in part are
// computed with it and left unstored.

// Zeros on each side of the copy: the rows of the partial blocks at the
// ends lie up to 7 outputs, at most 23 samples at the smallest ratio, beyond
// the span, and a block's loads reach 16 samples past its first tap's 31.
constexpr int PADDING = 64;
// The longest span that is copied (a grain spans two periods of at most 511).
constexpr int PADDED_SPAN = 1024;

// A block's lanes as seen from the samples x[taps[0] + q ...] of tap q.
struct Avx512Block {
    const double* w;
    const double* xs;  // x + taps[0]
    __m512i lanes;     // spread of each lane
    __m512d sum;
};

__attribute__((target("avx512f"))) inline Avx512Block avx512_block(const double* w, const int* taps,
                                                                      const double* x) {
    const int t0 = taps[0];
    return Avx512Block{w, x + t0,
                       _mm512_set_epi64(taps[7] - t0, taps[6] - t0, taps[5] - t0, taps[4] - t0, taps[3] - t0,
                                        taps[2] - t0, taps[1] - t0, 0),
                       _mm512_setzero_pd()};
}

// Tap q of each lane of a block: xs[q + spread], from one register of
// samples when every spread is below 8 (WIDE false), else from two.
template <bool WIDE>
__attribute__((target("avx512f"))) inline __m512d avx512_samples(const Avx512Block& block, int q) {
    const __m512d a = _mm512_loadu_pd(block.xs + q);
    if constexpr (WIDE) {
        return _mm512_permutex2var_pd(a, block.lanes, _mm512_loadu_pd(block.xs + q + 8));
    } else {
        return _mm512_maskz_permutexvar_pd(0xFF, block.lanes, a);
    }
}

// G blocks whose taps all lie in the span, their sums side by side.
template <int G, bool WIDE>
__attribute__((target("avx512f"))) void full_group_avx512(const double* w, const int* taps, const double* x,
                                                          double* y) {
    Avx512Block block[G];
    for (int g = 0; g < G; ++g) block[g] = avx512_block(w + g * BLOCK_VALUES, taps + g * ROWS, x);
    if constexpr (WIDE) {
        for (int q = 0; q < SINC_TAPS; ++q) {
            for (int g = 0; g < G; ++g) {
                const __m512d v = avx512_samples<true>(block[g], q);
                block[g].sum = _mm512_add_pd(block[g].sum, _mm512_mul_pd(_mm512_loadu_pd(block[g].w + q * ROWS), v));
            }
        }
    } else {
        // Spreads below 8: every lane's sample of tap q lies in the eight
        // loaded from xs + q.
        for (int q = 0; q < SINC_TAPS; ++q) {
            for (int g = 0; g < G; ++g) {
                const __m512d v = avx512_samples<false>(block[g], q);
                block[g].sum = _mm512_add_pd(block[g].sum, _mm512_mul_pd(_mm512_loadu_pd(block[g].w + q * ROWS), v));
            }
        }
    }
    for (int g = 0; g < G; ++g) _mm512_storeu_pd(y + g * ROWS, block[g].sum);
}

// The widest spread of a block.
inline int spread_of(const int* taps) { return taps[ROWS - 1] - taps[0]; }

__attribute__((target("avx512f"))) void full_blocks_avx512(const double* w, const int* taps, int blocks,
                                                           const double* x, double* y) {
    constexpr int G = 4;
    auto widest = [&](int k, int count) {
        int spread = 0;
        for (int g = 0; g < count; ++g) spread = std::max(spread, spread_of(taps + (k + g) * ROWS));
        return spread;
    };
    for (int k = 0; k < blocks;) {
        const int count = std::min(G, blocks - k);
        const int spread = widest(k, count);
        const double* wk = w + k * BLOCK_VALUES;
        const int* tk = taps + k * ROWS;
        double* yk = y + k * ROWS;
        if (count == G && spread < 8) {
            full_group_avx512<G, false>(wk, tk, x, yk);
        } else if (count == G && spread < 16) {
            full_group_avx512<G, true>(wk, tk, x, yk);
        } else {
            // Fewer than a group: one block at a time.
            for (int g = 0; g < count; ++g) {
                const int one = spread_of(tk + g * ROWS);
                if (one < 8) {
                    full_group_avx512<1, false>(wk + g * BLOCK_VALUES, tk + g * ROWS, x, yk + g * ROWS);
                } else if (one < 16) {
                    full_group_avx512<1, true>(wk + g * BLOCK_VALUES, tk + g * ROWS, x, yk + g * ROWS);
                } else {
                    full_block_plain(wk + g * BLOCK_VALUES, tk + g * ROWS, x, yk + g * ROWS);
                }
            }
        }
        k += count;
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

// One block of 8 rows for all lanes: row b of the block (first tap
// taps[b], the weight of tap q at w[b][q * step]) sums w[b][q * step]
// x[(taps[b] + q) * 8 + g] over increasing q for every lane g; lane g's
// output i0 + b goes to y[g][i0 + b].
void lane_block_plain(const LaneWeights& w, const int* taps, const double* x, double* const* y, int i0) {
    double sum[ROWS][SINC_LANES] = {};
    for (int q = 0; q < SINC_TAPS; ++q) {
        for (int b = 0; b < ROWS; ++b) {
            const double weight = w.row[b][q * w.step];
            const double* xs = x + static_cast<std::ptrdiff_t>(taps[b] + q) * SINC_LANES;
            for (int g = 0; g < SINC_LANES; ++g) sum[b][g] += weight * xs[g];
        }
    }
    for (int g = 0; g < SINC_LANES; ++g) {
        for (int b = 0; b < ROWS; ++b) y[g][i0 + b] = sum[b][g];
    }
}

#if QERN_HAVE_WIDE_VECTORS
__attribute__((target("avx2"))) void lane_block_avx2(const LaneWeights& w, const int* taps, const double* x,
                                                     double* const* y, int i0) {
    // Lanes 0-3, then 4-7: eight sums of four lanes each at a time.
    alignas(32) double sum[ROWS][SINC_LANES];
    for (int half = 0; half < SINC_LANES; half += 4) {
        __m256d acc[ROWS];
        const double* xs[ROWS];
        for (int b = 0; b < ROWS; ++b) {
            acc[b] = _mm256_setzero_pd();
            xs[b] = x + static_cast<std::ptrdiff_t>(taps[b]) * SINC_LANES + half;
        }
        for (int q = 0; q < SINC_TAPS; ++q) {
            for (int b = 0; b < ROWS; ++b) {
                const __m256d v = _mm256_loadu_pd(xs[b] + q * SINC_LANES);
                acc[b] = _mm256_add_pd(acc[b], _mm256_mul_pd(_mm256_broadcast_sd(w.row[b] + q * w.step), v));
            }
        }
        for (int b = 0; b < ROWS; ++b) _mm256_store_pd(&sum[b][half], acc[b]);
    }
    for (int g = 0; g < SINC_LANES; ++g) {
        for (int b = 0; b < ROWS; ++b) y[g][i0 + b] = sum[b][g];
    }
}

// r[k][m] becomes r[m][k]. (The all-lanes masks keep GCC from warning
// about the undefined source of the unmasked forms.)
__attribute__((target("avx512f"))) inline void transpose_8x8(__m512d* r) {
    const __m512d t0 = _mm512_maskz_unpacklo_pd(0xFF, r[0], r[1]), t1 = _mm512_maskz_unpackhi_pd(0xFF, r[0], r[1]);
    const __m512d t2 = _mm512_maskz_unpacklo_pd(0xFF, r[2], r[3]), t3 = _mm512_maskz_unpackhi_pd(0xFF, r[2], r[3]);
    const __m512d t4 = _mm512_maskz_unpacklo_pd(0xFF, r[4], r[5]), t5 = _mm512_maskz_unpackhi_pd(0xFF, r[4], r[5]);
    const __m512d t6 = _mm512_maskz_unpacklo_pd(0xFF, r[6], r[7]), t7 = _mm512_maskz_unpackhi_pd(0xFF, r[6], r[7]);
    const __m512d u0 = _mm512_maskz_shuffle_f64x2(0xFF, t0, t2, 0x88), u1 = _mm512_maskz_shuffle_f64x2(0xFF, t0, t2, 0xDD);
    const __m512d u2 = _mm512_maskz_shuffle_f64x2(0xFF, t1, t3, 0x88), u3 = _mm512_maskz_shuffle_f64x2(0xFF, t1, t3, 0xDD);
    const __m512d u4 = _mm512_maskz_shuffle_f64x2(0xFF, t4, t6, 0x88), u5 = _mm512_maskz_shuffle_f64x2(0xFF, t4, t6, 0xDD);
    const __m512d u6 = _mm512_maskz_shuffle_f64x2(0xFF, t5, t7, 0x88), u7 = _mm512_maskz_shuffle_f64x2(0xFF, t5, t7, 0xDD);
    r[0] = _mm512_maskz_shuffle_f64x2(0xFF, u0, u4, 0x88);
    r[4] = _mm512_maskz_shuffle_f64x2(0xFF, u0, u4, 0xDD);
    r[2] = _mm512_maskz_shuffle_f64x2(0xFF, u1, u5, 0x88);
    r[6] = _mm512_maskz_shuffle_f64x2(0xFF, u1, u5, 0xDD);
    r[1] = _mm512_maskz_shuffle_f64x2(0xFF, u2, u6, 0x88);
    r[5] = _mm512_maskz_shuffle_f64x2(0xFF, u2, u6, 0xDD);
    r[3] = _mm512_maskz_shuffle_f64x2(0xFF, u3, u7, 0x88);
    r[7] = _mm512_maskz_shuffle_f64x2(0xFF, u3, u7, 0xDD);
}

// Eight rows at a time: each lane's eight samples loaded at once (or put
// together where its span begins or ends inside them), then transposed.
__attribute__((target("avx512f"))) void fill_lanes_avx512(const double* origin, const long long* offset,
                                                          const int* first, const int* last, TapRange rows,
                                                          double* x) {
    int j = rows.first;
    for (; j + ROWS <= rows.last; j += ROWS) {
        __m512d r[SINC_LANES];
        for (int g = 0; g < SINC_LANES; ++g) {
            if (j >= first[g] && j + ROWS <= last[g]) {
                r[g] = _mm512_loadu_pd(origin + offset[g] + j);
            } else if (j + ROWS <= first[g] || j >= last[g]) {
                r[g] = _mm512_setzero_pd();
            } else {
                alignas(64) double part[ROWS];
                for (int k = 0; k < ROWS; ++k) {
                    part[k] = j + k >= first[g] && j + k < last[g] ? origin[offset[g] + j + k] : 0.0;
                }
                r[g] = _mm512_load_pd(part);
            }
        }
        transpose_8x8(r);
        for (int k = 0; k < ROWS; ++k) _mm512_storeu_pd(x + static_cast<std::ptrdiff_t>(j + k) * SINC_LANES, r[k]);
    }
    for (; j < rows.last; ++j) {
        for (int g = 0; g < SINC_LANES; ++g) {
            x[static_cast<std::ptrdiff_t>(j) * SINC_LANES + g] = j >= first[g] && j < last[g] ? origin[offset[g] + j] : 0.0;
        }
    }
}

// Source row s into the rows of a block that have it among their taps.
// STEP is w.step, fixed so that the compiler forms every address alike for
// both directions.
template <int STEP>
__attribute__((target("avx512f"))) inline void lane_edge_row_avx512(__m512d* acc, const LaneWeights& w,
                                                                    const int* taps, const double* x, int s) {
    const __m512d v = _mm512_loadu_pd(x + static_cast<std::ptrdiff_t>(s) * SINC_LANES);
    for (int b = 0; b < ROWS; ++b) {
        const int q = s - taps[b];
        if (q >= 0 && q < SINC_TAPS) {
            acc[b] = _mm512_add_pd(acc[b], _mm512_mul_pd(_mm512_set1_pd(w.row[b][q * STEP]), v));
        }
    }
}

template <int STEP>
__attribute__((target("avx512f"))) void lane_block_avx512(const LaneWeights& w, const int* taps, const double* x,
                                                          double* const* y, int i0) {
    __m512d acc[ROWS];
    for (int b = 0; b < ROWS; ++b) acc[b] = _mm512_setzero_pd();
    const int t0 = taps[0];
    const int t7 = taps[ROWS - 1];
    // Source row s by source row: it adds to every row b with tap q = s -
    // taps[b] in 0..30, so each row still sums its taps in increasing q,
    // and a source row is loaded once for the rows that share it.
    for (int s = t0; s < t7 && s < t0 + SINC_TAPS; ++s) lane_edge_row_avx512<STEP>(acc, w, taps, x, s);
    // wb[b][s * step]: row b's weight of source row s.
    const double* wb[ROWS];
    for (int b = 0; b < ROWS; ++b) wb[b] = w.row[b] - static_cast<std::ptrdiff_t>(taps[b]) * STEP;
    for (int s = t7; s < t0 + SINC_TAPS; ++s) {
        // Every row takes this source row.
        const __m512d v = _mm512_loadu_pd(x + static_cast<std::ptrdiff_t>(s) * SINC_LANES);
        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(s) * STEP;
        for (int b = 0; b < ROWS; ++b) acc[b] = _mm512_add_pd(acc[b], _mm512_mul_pd(_mm512_set1_pd(wb[b][at]), v));
    }
    for (int s = std::max(t7, t0 + SINC_TAPS); s < t7 + SINC_TAPS; ++s) lane_edge_row_avx512<STEP>(acc, w, taps, x, s);
    // acc[b] holds row b of every lane; transposed, register g holds lane
    // g's eight rows, stored in one go.
    transpose_8x8(acc);
    for (int g = 0; g < SINC_LANES; ++g) _mm512_storeu_pd(y[g] + i0, acc[g]);
}
#endif

void fill_lanes_plain(const double* origin, const long long* offset, const int* first, const int* last,
                      TapRange rows, double* x) {
    for (int g = 0; g < SINC_LANES; ++g) {
        double* lane = x + g;
        const int lo = std::clamp(first[g], rows.first, rows.last);
        const int hi = std::clamp(last[g], lo, rows.last);
        for (int j = rows.first; j < lo; ++j) lane[static_cast<std::ptrdiff_t>(j) * SINC_LANES] = 0.0;
        for (int j = lo; j < hi; ++j) lane[static_cast<std::ptrdiff_t>(j) * SINC_LANES] = origin[offset[g] + j];
        for (int j = hi; j < rows.last; ++j) lane[static_cast<std::ptrdiff_t>(j) * SINC_LANES] = 0.0;
    }
}

void lane_block(VectorUnit unit, const LaneWeights& w, const int* taps, const double* x, double* const* y, int i0) {
#if QERN_HAVE_WIDE_VECTORS
    if (unit == VectorUnit::avx512) {
        if (w.step == ROWS) return lane_block_avx512<ROWS>(w, taps, x, y, i0);
        return lane_block_avx512<-ROWS>(w, taps, x, y, i0);
    }
    if (unit == VectorUnit::avx2) return lane_block_avx2(w, taps, x, y, i0);
#endif
    (void)unit;
    lane_block_plain(w, taps, x, y, i0);
}

void full_blocks(VectorUnit unit, const double* w, const int* taps, int blocks, const double* x, double* y) {
#if QERN_HAVE_WIDE_VECTORS
    if (unit == VectorUnit::avx512) return full_blocks_avx512(w, taps, blocks, x, y);
    if (unit == VectorUnit::avx2) return full_blocks_avx2(w, taps, blocks, x, y);
#endif
    (void)unit;
    for (int k = 0; k < blocks; ++k, w += BLOCK_VALUES, taps += ROWS, y += ROWS) full_block_plain(w, taps, x, y);
}

}  // namespace

SincTable make_sinc_table(double ratio, int capacity, BulkArena* memory, bool mirrored) {
    SincTable table;
    if (capacity <= 0) return table;
    capacity = (capacity + ROWS - 1) / ROWS * ROWS;
    const auto rows = static_cast<std::size_t>(2) * static_cast<std::size_t>(capacity);
    // Mirrored: the rows 0 .. capacity, whole blocks.
    const std::size_t stored = mirrored ? static_cast<std::size_t>(capacity) + ROWS : rows;
    table.weights = allocate_bulk_zeroed(stored * SINC_TAPS, memory);
    table.first_tap.reset(new (std::nothrow) int[rows]);
    if (!table.weights || !table.first_tap) return SincTable{};
    // Every row's first tap, trunc(i / ratio) - 15: the rows are filled from
    // them, and the partial blocks at a span's ends read those of rows not
    // filled yet.
    const double r = 1.0 / ratio;
    for (std::size_t n = 0; n < rows; ++n) {
        table.first_tap[n] = first_tap_of(r, static_cast<int>(n) - capacity);
    }
    table.ratio = ratio;
    table.capacity = capacity;
    table.mirrored = mirrored;
    return table;
}

bool prepare_sinc_rows(SincTable& table, int half) {
    if (half <= table.rows_ready) return true;
    if (half > table.capacity) return false;
    const double r = 1.0 / table.ratio;
    // Whole blocks over the rows wanted (rows beyond them in the same block
    // are filled too, and filled again alike when they are wanted).
    const VectorUnit unit = best_vector_unit();
    if (table.mirrored) {
        // The lanes read whole blocks: the lowest one wanted, from row
        // -ceil8(half), mirrors the rows up to ceil8(half). The rows of the
        // mirrored blocks' first taps are those of the full table (the
        // table's first_tap covers row i >= 0 at i + capacity).
        const int top = (half + ROWS - 1) / ROWS * ROWS;  // <= capacity
        for (int i = table.rows_ready / ROWS * ROWS; i <= top; i += ROWS) {
            std::array<int, ROWS> taps;
            for (int b = 0; b < ROWS; ++b) taps[b] = first_tap_of(r, i + b);
            fill_block(unit, r, i, block_weights(table, i), taps.data());
        }
        table.rows_ready = half;
        return true;
    }
    auto fill = [&](int first, int last) {  // rows [first, last)
        if (first >= last) return;
        const int n_first = (first + table.capacity) / ROWS * ROWS;
        for (int n = n_first; n < last + table.capacity; n += ROWS) {
            fill_block(unit, r, n - table.capacity, block_weights(table, n),
                       &table.first_tap[static_cast<std::size_t>(n)]);
        }
    };
    fill(-half, -table.rows_ready);
    fill(table.rows_ready, half);
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
    assert(!table.mirrored);
    assert(-out_first <= table.rows_ready && out_last <= table.rows_ready);
    assert(dst.origin != nullptr && out_first >= dst.begin && out_last <= dst.end);
    assert(src.origin != nullptr && first >= src.begin && last <= src.end);
    double* y = dst.origin;
    const double* x = src.origin + centre;  // x[j] = src[centre + j]
#if QERN_HAVE_WIDE_VECTORS
    std::array<double, PADDED_SPAN + 2 * PADDING> padded;
    if (unit == VectorUnit::avx512) {
        if (hi - lo <= PADDED_SPAN) {
            std::fill(padded.begin(), padded.begin() + PADDING, 0.0);
            const auto copied = std::copy(x + lo, x + hi, padded.begin() + PADDING);
            std::fill(copied, copied + PADDING, 0.0);
            x = padded.data() + PADDING - lo;
        } else {
            unit = VectorUnit::avx2;
        }
    }
#endif
    const int* taps = table.first_tap.get() + table.capacity;  // taps[i]: row i's first tap
    auto weights_of = [&](int i) {
        const int n = i + table.capacity;
        return block_weights(table, n) + n % ROWS;
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
#if QERN_HAVE_WIDE_VECTORS
    if (unit == VectorUnit::avx512) {
        // The first rows of the blocks holding out_first and out_last - 1.
        const int head = out_first - (out_first + table.capacity) % ROWS;
        const int tail = (out_last - 1) - (out_last - 1 + table.capacity) % ROWS;
        // Every block on the padded copy, the partial ones at the ends into
        // a scratch block of which the span's outputs are kept.
        auto partial = [&](int block, int from, int to) {
            std::array<double, ROWS> part;
            full_blocks(unit, weights_of(block), taps + block, 1, x, part.data());
            std::copy(part.begin() + (from - block), part.begin() + (to - block), y + from);
        };
        int i = out_first;
        if (i != head || tail == head) {
            partial(head, out_first, std::min(out_last, head + ROWS));
            i = head + ROWS;
        }
        const int whole_end = out_last - (out_last + table.capacity) % ROWS;
        if (i < whole_end) full_blocks(unit, weights_of(i), taps + i, (whole_end - i) / ROWS, x, y + i);
        if (whole_end < out_last && whole_end >= i) partial(whole_end, whole_end, out_last);
        return 0;
    }
#endif
    // Whole blocks of the table go to the vector unit: runs of blocks whose
    // taps all lie in the span at once; the others (at the span's ends)
    // output by output.
    int i = out_first;
    while (i < out_last && (i + table.capacity) % ROWS != 0) clipped(i++);
    auto inside = [&](int block) { return taps[block] >= lo && taps[block + ROWS - 1] + SINC_TAPS - 1 < hi; };
    while (i + ROWS <= out_last) {
        int run_end = i;
        while (run_end + ROWS <= out_last && inside(run_end)) run_end += ROWS;
        if (run_end > i) {
            full_blocks(unit, weights_of(i), taps + i, (run_end - i) / ROWS, x, y + i);
            i = run_end;
            continue;
        }
        for (int b = 0; b < ROWS; ++b) clipped(i + b);
        i += ROWS;
    }
    while (i < out_last) clipped(i++);
    return 0;
}

TapRange sinc_lane_taps(const SincTable& table, int out_first, int out_last) {
    if (out_first >= out_last) return TapRange{};
    const int n_first = (out_first + table.capacity) / ROWS * ROWS;
    const int n_last = (out_last - 1 + table.capacity) / ROWS * ROWS + ROWS - 1;
    return TapRange{table.first_tap[static_cast<std::size_t>(n_first)],
                    table.first_tap[static_cast<std::size_t>(n_last)] + SINC_TAPS};
}

void fill_lanes(VectorUnit unit, const double* origin, const long long* offset, const int* first, const int* last,
                TapRange rows, double* x) {
#if QERN_HAVE_WIDE_VECTORS
    if (unit == VectorUnit::avx512) return fill_lanes_avx512(origin, offset, first, last, rows, x);
#endif
    (void)unit;
    fill_lanes_plain(origin, offset, first, last, rows, x);
}

void sinc_resample_lanes(VectorUnit unit, const SincTable& table, int out_first, int out_last, const double* x,
                         double* const* y) {
    if (out_first >= out_last) return;
    assert(-out_first <= table.rows_ready && out_last <= table.rows_ready);
    const int n_first = (out_first + table.capacity) / ROWS * ROWS;
    for (int n = n_first; n < out_last + table.capacity; n += ROWS) {
        const int i0 = n - table.capacity;
        LaneWeights w;
        if (!table.mirrored || i0 >= 0) {
            // A block of the table (a mirrored one stores row i >= 0 at i).
            const double* block = block_weights(table, table.mirrored ? i0 : n);
            for (int b = 0; b < ROWS; ++b) w.row[b] = block + b;
            w.step = ROWS;
        } else {
            // Row i0 + b reads row m = -(i0 + b) from its last tap back.
            for (int b = 0; b < ROWS; ++b) {
                const int m = -(i0 + b);
                w.row[b] = block_weights(table, m) + m % ROWS + (SINC_TAPS - 1) * ROWS;
            }
            w.step = -ROWS;
        }
        lane_block(unit, w, &table.first_tap[static_cast<std::size_t>(n)], x, y, i0);
    }
}

}  // namespace qern
