// The 8192-point real FFT and block filtering by a prepared spectrum.
//
// Radix 2, in place on the 8192 real values in the packed layout; no complex
// array is formed and no sine or cosine is evaluated: stage L takes its
// twiddles from the table with the stride 8192 / L. Within a stage the
// butterflies of different blocks and different j touch disjoint elements,
// so the order in which they are visited does not change any result: the
// vector units run several butterflies of a stage at once (neighbouring j
// in the long stages, neighbouring blocks in the short ones), each with the
// operations of the plain loop below, on twiddles copied into stage order.
#include "dsp/fft.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "dsp/sinc.h"

namespace qern {
namespace {

constexpr int HALF_SIZE = FFT_SIZE / 2;
constexpr double INVERSE_SCALE = 0.000244140625;  // 2^-12

// The pairs (i, j), i < j, j the 13-bit reversal of i, in increasing i;
// found at compile time by stepping j with a reversed-carry increment
// (toggle bit 12; while that bit became 0, toggle the next lower one).
struct SwapPair {
    std::uint16_t i;
    std::uint16_t j;
};
constexpr int PALINDROMES = 1 << 7;  // 13-bit values equal to their reversal
using SwapTable = std::array<SwapPair, (FFT_SIZE - PALINDROMES) / 2>;

constexpr SwapTable make_bit_reversal_swaps() {
    SwapTable pairs{};
    std::size_t n = 0;
    int j = 0;
    for (int i = 1; i < FFT_SIZE - 1; ++i) {
        int bit = HALF_SIZE;
        j ^= bit;
        while ((j & bit) == 0) {
            bit >>= 1;
            j ^= bit;
        }
        if (i < j) pairs[n++] = SwapPair{static_cast<std::uint16_t>(i), static_cast<std::uint16_t>(j)};
    }
    return pairs;
}
constexpr SwapTable BIT_REVERSAL_SWAPS = make_bit_reversal_swaps();

constexpr BitReversalTable make_bit_reversal_table() {
    BitReversalTable table{};
    for (int i = 0; i < FFT_SIZE; ++i) {
        int r = 0;
        for (int bit = 0; bit < 13; ++bit) r |= ((i >> bit) & 1) << (12 - bit);
        table[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(r);
    }
    return table;
}
constexpr BitReversalTable BIT_REVERSAL = make_bit_reversal_table();
static_assert(BIT_REVERSAL_SWAPS.back().i != 0, "every swap pair filled");

void conjugate(TwiddleTable& table) {
    for (Twiddle& t : table) t.sin = -t.sin;
}

// The butterflies of a stage several j at a time: lane g of a vector is
// butterfly j + g. The elements a butterfly reads run up from i + j and
// i + h + j and down from i + h - j and i + L - j, so two of its four
// vectors are loaded and stored in reverse. A run starts on the widest
// vector and finishes on narrower ones, down to single doubles.
typedef double Vec2 __attribute__((vector_size(16)));
typedef double Vec4 __attribute__((vector_size(32)));
typedef double Vec8 __attribute__((vector_size(64)));

template <class V>
inline constexpr int LANES = static_cast<int>(sizeof(V) / sizeof(double));

template <class V>
struct Narrower;
template <>
struct Narrower<Vec8> {
    using type = Vec4;
};
template <>
struct Narrower<Vec4> {
    using type = Vec2;
};
template <>
struct Narrower<Vec2> {
    using type = double;
};

// Helpers take and give vectors by reference: no vector crosses a call
// boundary by value (whose ABI differs between the units).
template <class V>
[[gnu::always_inline]] inline void load(V& v, const double* p) {
    std::memcpy(&v, p, sizeof v);
}

template <class V>
[[gnu::always_inline]] inline void store(double* p, const V& v) {
    std::memcpy(p, &v, sizeof v);
}

template <class V>
[[gnu::always_inline]] inline void reverse(V& v) {
    if constexpr (LANES<V> == 2) {
        v = __builtin_shufflevector(v, v, 1, 0);
    } else if constexpr (LANES<V> == 4) {
        v = __builtin_shufflevector(v, v, 3, 2, 1, 0);
    } else if constexpr (LANES<V> == 8) {
        v = __builtin_shufflevector(v, v, 7, 6, 5, 4, 3, 2, 1, 0);
    }
}

// Lane g is p[-g].
template <class V>
[[gnu::always_inline]] inline void load_down(V& v, const double* p) {
    load(v, p - (LANES<V> - 1));
    reverse(v);
}

template <class V>
[[gnu::always_inline]] inline void store_down(double* p, const V& v) {
    V r = v;
    reverse(r);
    store(p - (LANES<V> - 1), r);
}

// Butterflies j .. q - 1 of the forward stage of length L on the block at i
// (c and s: the stage's twiddles).
template <class V>
[[gnu::always_inline]] inline void forward_run(double* d, const double* c, const double* s, int i, int L, int j,
                                               int q) {
    const int h = L / 2;
    for (; j + LANES<V> <= q; j += LANES<V>) {
        V cj, sj, x1, x2, x3, x4;
        load(cj, c + j);
        load(sj, s + j);
        load(x1, d + i + j);
        load_down(x2, d + i + h - j);
        load(x3, d + i + h + j);
        load_down(x4, d + i + L - j);
        const V t1 = x3 * cj + x4 * sj;
        const V t2 = x3 * sj - x4 * cj;
        store(d + i + h + j, -x2 - t2);
        store_down(d + i + L - j, x2 - t2);
        store_down(d + i + h - j, x1 - t1);
        store(d + i + j, x1 + t1);
    }
    if constexpr (!std::is_same_v<V, double>) forward_run<typename Narrower<V>::type>(d, c, s, i, L, j, q);
}

template <class V>
[[gnu::always_inline]] inline void inverse_run(double* d, const double* c, const double* s, int i, int L, int j,
                                               int q) {
    const int h = L / 2;
    for (; j + LANES<V> <= q; j += LANES<V>) {
        V cj, sj, x1, x2, x3, x4;
        load(cj, c + j);
        load(sj, s + j);
        load(x1, d + i + j);
        load_down(x2, d + i + h - j);
        load(x3, d + i + h + j);
        load_down(x4, d + i + L - j);
        const V t1 = x1 - x2;
        const V t2 = x4 + x3;
        store(d + i + j, x1 + x2);
        store_down(d + i + h - j, x4 - x3);
        store(d + i + h + j, cj * t1 + sj * t2);
        store_down(d + i + L - j, cj * t2 - sj * t1);
    }
    if constexpr (!std::is_same_v<V, double>) inverse_run<typename Narrower<V>::type>(d, c, s, i, L, j, q);
}

// The stage of length L over the blocks of [begin, end).
template <class V>
[[gnu::always_inline]] inline void forward_stage(double* d, const StageTwiddles& stages, int L, int begin,
                                                 int end) {
    const int h = L / 2;
    const int q = L / 4;
    const double* c = stages.cos.data() + q;
    const double* s = stages.sin.data() + q;
    for (int i = begin; i < end; i += L) {
        const double a = d[i];
        const double b = d[i + h];
        d[i] = a + b;
        d[i + h] = a - b;
        forward_run<V>(d, c, s, i, L, 1, q);
    }
}

template <class V>
[[gnu::always_inline]] inline void inverse_stage(double* d, const StageTwiddles& stages, int L, int begin,
                                                 int end) {
    const int h = L / 2;
    const int q = L / 4;
    const double* c = stages.cos.data() + q;
    const double* s = stages.sin.data() + q;
    for (int i = begin; i < end; i += L) {
        const double a = d[i];
        const double b = d[i + h];
        d[i] = a + b;
        d[i + h] = a - b;
        inverse_run<V>(d, c, s, i, L, 1, q);
    }
}

// The stages of length 2 to SMALL have too few butterflies per block to
// fill a vector; they run on W blocks of SMALL values at a time instead,
// transposed so that lane g holds block g: every butterfly then is one
// vector operation, with the same twiddle in every lane.
constexpr int SMALL = 32;

// r[i] lane j becomes r[j] lane i.
template <class V>
[[gnu::always_inline]] inline void transpose(V (&r)[LANES<V>]) {
    if constexpr (LANES<V> == 2) {
        const V a = r[0];
        r[0] = __builtin_shufflevector(a, r[1], 0, 2);
        r[1] = __builtin_shufflevector(a, r[1], 1, 3);
    } else if constexpr (LANES<V> == 4) {
        for (int i = 0; i < 4; i += 2) {
            const V a = r[i];
            r[i] = __builtin_shufflevector(a, r[i + 1], 0, 4, 2, 6);
            r[i + 1] = __builtin_shufflevector(a, r[i + 1], 1, 5, 3, 7);
        }
        for (int i = 0; i < 2; ++i) {
            const V a = r[i];
            r[i] = __builtin_shufflevector(a, r[i + 2], 0, 1, 4, 5);
            r[i + 2] = __builtin_shufflevector(a, r[i + 2], 2, 3, 6, 7);
        }
    } else {
        for (int i = 0; i < 8; i += 2) {
            const V a = r[i];
            r[i] = __builtin_shufflevector(a, r[i + 1], 0, 8, 2, 10, 4, 12, 6, 14);
            r[i + 1] = __builtin_shufflevector(a, r[i + 1], 1, 9, 3, 11, 5, 13, 7, 15);
        }
        for (const int i : {0, 1, 4, 5}) {
            const V a = r[i];
            r[i] = __builtin_shufflevector(a, r[i + 2], 0, 1, 8, 9, 4, 5, 12, 13);
            r[i + 2] = __builtin_shufflevector(a, r[i + 2], 2, 3, 10, 11, 6, 7, 14, 15);
        }
        for (int i = 0; i < 4; ++i) {
            const V a = r[i];
            r[i] = __builtin_shufflevector(a, r[i + 4], 0, 1, 2, 3, 8, 9, 10, 11);
            r[i + 4] = __builtin_shufflevector(a, r[i + 4], 4, 5, 6, 7, 12, 13, 14, 15);
        }
    }
}

// e[k] lane g = d[g SMALL + k], W square blocks at a time.
template <class V>
[[gnu::always_inline]] inline void to_lanes(const double* d, V (&e)[SMALL]) {
    constexpr int W = LANES<V>;
    for (int m = 0; m < SMALL; m += W) {
        V r[W];
        for (int g = 0; g < W; ++g) load(r[g], d + g * SMALL + m);
        transpose(r);
        for (int i = 0; i < W; ++i) e[m + i] = r[i];
    }
}

template <class V>
[[gnu::always_inline]] inline void from_lanes(const V (&e)[SMALL], double* d) {
    constexpr int W = LANES<V>;
    for (int m = 0; m < SMALL; m += W) {
        V r[W];
        for (int i = 0; i < W; ++i) r[i] = e[m + i];
        transpose(r);
        for (int g = 0; g < W; ++g) store(d + g * SMALL + m, r[g]);
    }
}

// Stages 2 .. SMALL of the forward transform over [begin, end).
template <class V>
[[gnu::always_inline]] inline void forward_small_stages(double* d, const StageTwiddles& stages, int begin,
                                                        int end) {
    for (int base = begin; base < end; base += LANES<V> * SMALL) {
        V e[SMALL];
        to_lanes(d + base, e);
        for (int m = 0; m < SMALL; m += 2) {
            const V a = e[m];
            const V b = e[m + 1];
            e[m] = a + b;
            e[m + 1] = a - b;
        }
        for (int L = 4; L <= SMALL; L <<= 1) {
            const int h = L / 2;
            const int q = L / 4;
            for (int i = 0; i < SMALL; i += L) {
                const V a = e[i];
                const V b = e[i + h];
                e[i] = a + b;
                e[i + h] = a - b;
                for (int j = 1; j < q; ++j) {
                    const double c = stages.cos[q + j];
                    const double s = stages.sin[q + j];
                    const V x1 = e[i + j];
                    const V x2 = e[i + h - j];
                    const V x3 = e[i + h + j];
                    const V x4 = e[i + L - j];
                    const V t1 = x3 * c + x4 * s;
                    const V t2 = x3 * s - x4 * c;
                    e[i + h + j] = -x2 - t2;
                    e[i + L - j] = x2 - t2;
                    e[i + h - j] = x1 - t1;
                    e[i + j] = x1 + t1;
                }
            }
        }
        from_lanes(e, d + base);
    }
}

// Stages SMALL .. 2 of the inverse transform over [begin, end), then its
// scale.
template <class V>
[[gnu::always_inline]] inline void inverse_small_stages(double* d, const StageTwiddles& stages, int begin,
                                                        int end) {
    for (int base = begin; base < end; base += LANES<V> * SMALL) {
        V e[SMALL];
        to_lanes(d + base, e);
        for (int L = SMALL; L >= 2; L >>= 1) {
            const int h = L / 2;
            const int q = L / 4;
            for (int i = 0; i < SMALL; i += L) {
                const V a = e[i];
                const V b = e[i + h];
                e[i] = a + b;
                e[i + h] = a - b;
                for (int j = 1; j < q; ++j) {
                    const double c = stages.cos[q + j];
                    const double s = stages.sin[q + j];
                    const V x1 = e[i + j];
                    const V x2 = e[i + h - j];
                    const V x3 = e[i + h + j];
                    const V x4 = e[i + L - j];
                    const V t1 = x1 - x2;
                    const V t2 = x4 + x3;
                    e[i + j] = x1 + x2;
                    e[i + h - j] = x4 - x3;
                    e[i + h + j] = c * t1 + s * t2;
                    e[i + L - j] = c * t2 - s * t1;
                }
            }
        }
        for (V& v : e) v = v * INVERSE_SCALE;
        from_lanes(e, d + base);
    }
}

// The stages up to SPAN run span by span, so that each span's values stay
// in the first-level cache through those stages; the longer stages run
// over the whole block. A butterfly reads what the stage before left in its
// own elements either way.
constexpr int SPAN = 2048;

template <class V>
[[gnu::always_inline]] inline void forward_body(double* d, const StageTwiddles& stages) {
    for (int span = 0; span < FFT_SIZE; span += SPAN) {
        forward_small_stages<V>(d, stages, span, span + SPAN);
        for (int L = 2 * SMALL; L <= SPAN; L <<= 1) forward_stage<V>(d, stages, L, span, span + SPAN);
    }
    for (int L = 2 * SPAN; L <= FFT_SIZE; L <<= 1) forward_stage<V>(d, stages, L, 0, FFT_SIZE);
}

template <class V>
[[gnu::always_inline]] inline void inverse_body(double* d, const StageTwiddles& stages) {
    d[0] = d[0] * 0.5;
    d[HALF_SIZE] = d[HALF_SIZE] * 0.5;
    for (int L = FFT_SIZE; L > SPAN; L >>= 1) inverse_stage<V>(d, stages, L, 0, FFT_SIZE);
    for (int span = 0; span < FFT_SIZE; span += SPAN) {
        for (int L = SPAN; L > SMALL; L >>= 1) inverse_stage<V>(d, stages, L, span, span + SPAN);
        inverse_small_stages<V>(d, stages, span, span + SPAN);
    }
}

// Bins k .. HALF_SIZE - 1 of the product in fft_filter_block.
template <class V>
[[gnu::always_inline]] inline void product_run(double* x, const double* H, int k) {
    for (; k + LANES<V> <= HALF_SIZE; k += LANES<V>) {
        V a, b, c, d;
        load(a, x + k);
        load_down(b, x + FFT_SIZE - k);
        load(c, H + k);
        load_down(d, H + FFT_SIZE - k);
        store(x + k, a * c - b * d);
        store_down(x + FFT_SIZE - k, b * c + a * d);
    }
    if constexpr (!std::is_same_v<V, double>) product_run<typename Narrower<V>::type>(x, H, k);
}

// fft_filter_block between its two permutations.
template <class V>
[[gnu::always_inline]] inline void filter_block_body(FftBlock block, const double* H, const StageTwiddles& forward,
                                                     const StageTwiddles& inverse) {
    double* x = block.data();
    forward_body<V>(x, forward);
    x[0] = x[0] * H[0];
    product_run<V>(x, H, 1);
    x[HALF_SIZE] = x[HALF_SIZE] * H[HALF_SIZE];
    inverse_body<V>(x, inverse);
}

void forward_baseline(double* d, const StageTwiddles& t) { forward_body<Vec2>(d, t); }
void inverse_baseline(double* d, const StageTwiddles& t) { inverse_body<Vec2>(d, t); }
void filter_block_baseline(FftBlock b, const double* H, const StageTwiddles& f, const StageTwiddles& i) {
    filter_block_body<Vec2>(b, H, f, i);
}

#if QERN_HAVE_WIDE_VECTORS
__attribute__((target("avx2"))) void forward_avx2(double* d, const StageTwiddles& t) { forward_body<Vec4>(d, t); }
__attribute__((target("avx2"))) void inverse_avx2(double* d, const StageTwiddles& t) { inverse_body<Vec4>(d, t); }
__attribute__((target("avx2"))) void filter_block_avx2(FftBlock b, const double* H, const StageTwiddles& f,
                                                       const StageTwiddles& i) {
    filter_block_body<Vec4>(b, H, f, i);
}
__attribute__((target("avx512f"))) void forward_avx512(double* d, const StageTwiddles& t) {
    forward_body<Vec8>(d, t);
}
__attribute__((target("avx512f"))) void inverse_avx512(double* d, const StageTwiddles& t) {
    inverse_body<Vec8>(d, t);
}
__attribute__((target("avx512f"))) void filter_block_avx512(FftBlock b, const double* H, const StageTwiddles& f,
                                                            const StageTwiddles& i) {
    filter_block_body<Vec8>(b, H, f, i);
}
#endif

}  // namespace

void make_twiddle_table(TwiddleTable& table, int forward) {
    const double s = forward != 0 ? -TWO_PI / FFT_SIZE : TWO_PI / FFT_SIZE;
    for (int k = 0; k < FFT_SIZE; ++k) {
        const double angle = k * s;
        table[k] = Twiddle{std::cos(angle), std::sin(angle)};
    }
}

void bit_reverse_permute(FftBlock data) {
    double* d = data.data();
    for (const SwapPair& p : BIT_REVERSAL_SWAPS) {
        const double t = d[p.i];
        d[p.i] = d[p.j];
        d[p.j] = t;
    }
}

void rfft_forward(FftBlock data, const TwiddleTable& table) {
    double* d = data.data();
    for (int m = 0; m < FFT_SIZE; m += 2) {
        const double a = d[m];
        const double b = d[m + 1];
        d[m] = a + b;
        d[m + 1] = a - b;
    }
    // Each block of L holds two packed half spectra of length L/2, merged
    // into one packed spectrum of length L.
    for (int L = 4; L <= FFT_SIZE; L <<= 1) {
        const int h = L / 2;
        const int q = L / 4;
        const int stride = FFT_SIZE / L;
        for (int i = 0; i < FFT_SIZE; i += L) {
            const double a = d[i];
            const double b = d[i + h];
            d[i] = a + b;
            d[i + h] = a - b;
            // d[i + q] and d[i + h + q] stay as they are.
            for (int j = 1; j < q; ++j) {
                const double c = table[j * stride].cos;
                const double s = table[j * stride].sin;
                const int i1 = i + j;
                const int i2 = i + h - j;
                const int i3 = i + h + j;
                const int i4 = i + L - j;
                const double x1 = d[i1];
                const double x2 = d[i2];
                const double x3 = d[i3];
                const double x4 = d[i4];
                const double t1 = x3 * c + x4 * s;
                const double t2 = x3 * s - x4 * c;
                d[i3] = -x2 - t2;
                d[i4] = x2 - t2;
                d[i2] = x1 - t1;
                d[i1] = x1 + t1;
            }
        }
    }
}

void rfft_inverse(FftBlock data, const TwiddleTable& table) {
    double* d = data.data();
    d[0] = d[0] * 0.5;
    d[HALF_SIZE] = d[HALF_SIZE] * 0.5;
    // The forward stages undone from L = 8192 down to the pairs (L = 2).
    for (int L = FFT_SIZE; L >= 2; L >>= 1) {
        const int h = L / 2;
        const int q = L / 4;
        const int stride = FFT_SIZE / L;
        for (int i = 0; i < FFT_SIZE; i += L) {
            const double a = d[i];
            const double b = d[i + h];
            d[i] = a + b;
            d[i + h] = a - b;
            for (int j = 1; j < q; ++j) {
                const double c = table[j * stride].cos;
                const double s = table[j * stride].sin;
                const int i1 = i + j;
                const int i2 = i + h - j;
                const int i3 = i + h + j;
                const int i4 = i + L - j;
                const double x1 = d[i1];
                const double x2 = d[i2];
                const double x3 = d[i3];
                const double x4 = d[i4];
                const double t1 = x1 - x2;
                const double t2 = x4 + x3;
                d[i1] = x1 + x2;
                d[i2] = x4 - x3;
                d[i3] = c * t1 + s * t2;
                d[i4] = c * t2 - s * t1;
            }
        }
    }
    for (int n = 0; n < FFT_SIZE; ++n) d[n] = d[n] * INVERSE_SCALE;
}

void fft_filter_block(FftBlock block, std::span<const double, FFT_SIZE> spectrum, TwiddleTable& table) {
    bit_reverse_permute(block);
    rfft_forward(block, table);

    // Bin-by-bin complex product; both spectra are packed the same way, so
    // (a - i b)(c - i d) = (ac - bd) - i (bc + ad) keeps the packing.
    double* x = block.data();
    const double* H = spectrum.data();
    x[0] = x[0] * H[0];
    for (int k = 1; k < HALF_SIZE; ++k) {
        const double a = x[k];
        const double b = x[FFT_SIZE - k];
        const double c = H[k];
        const double d = H[FFT_SIZE - k];
        x[k] = a * c - b * d;
        x[FFT_SIZE - k] = b * c + a * d;
    }
    x[HALF_SIZE] = x[HALF_SIZE] * H[HALF_SIZE];

    // The inverse runs on the conjugated table; negating the sines twice
    // gives the caller's table back bit for bit.
    conjugate(table);
    rfft_inverse(block, table);
    bit_reverse_permute(block);
    conjugate(table);
}

const BitReversalTable& bit_reversal_table() { return BIT_REVERSAL; }

void make_stage_twiddles(StageTwiddles& stages, const TwiddleTable& table) {
    stages.cos[0] = 0.0;
    stages.sin[0] = 0.0;
    for (int q = 1; q <= FFT_SIZE / 4; q <<= 1) {
        const int stride = FFT_SIZE / (4 * q);
        for (int j = 0; j < q; ++j) {
            stages.cos[q + j] = table[j * stride].cos;
            stages.sin[q + j] = table[j * stride].sin;
        }
    }
}

void rfft_forward(VectorUnit unit, FftBlock data, const StageTwiddles& forward) {
#if QERN_HAVE_WIDE_VECTORS
    if (unit == VectorUnit::avx512) return forward_avx512(data.data(), forward);
    if (unit == VectorUnit::avx2) return forward_avx2(data.data(), forward);
#endif
    (void)unit;
    forward_baseline(data.data(), forward);
}

void rfft_inverse(VectorUnit unit, FftBlock data, const StageTwiddles& inverse) {
#if QERN_HAVE_WIDE_VECTORS
    if (unit == VectorUnit::avx512) return inverse_avx512(data.data(), inverse);
    if (unit == VectorUnit::avx2) return inverse_avx2(data.data(), inverse);
#endif
    (void)unit;
    inverse_baseline(data.data(), inverse);
}

void fft_filter_block(VectorUnit unit, FftBlock block, std::span<const double, FFT_SIZE> spectrum,
                      const StageTwiddles& forward, const StageTwiddles& inverse) {
    bit_reverse_permute(block);
    fft_filter_reversed_block(unit, block, spectrum, forward, inverse);
    bit_reverse_permute(block);
}

void fft_filter_reversed_block(VectorUnit unit, FftBlock block, std::span<const double, FFT_SIZE> spectrum,
                               const StageTwiddles& forward, const StageTwiddles& inverse) {
#if QERN_HAVE_WIDE_VECTORS
    if (unit == VectorUnit::avx512) return filter_block_avx512(block, spectrum.data(), forward, inverse);
    if (unit == VectorUnit::avx2) return filter_block_avx2(block, spectrum.data(), forward, inverse);
#endif
    (void)unit;
    filter_block_baseline(block, spectrum.data(), forward, inverse);
}

}  // namespace qern
