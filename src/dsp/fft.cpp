// The 8192-point real FFT and block filtering by a prepared spectrum.
//
// Radix 2, in place on the 8192 real values in the packed layout; no complex
// array is formed and no sine or cosine is evaluated: stage L takes its
// twiddles from the table with the stride 8192 / L. Within a stage the
// butterflies of different blocks and different j touch disjoint elements,
// so the order in which they are visited does not change any result.
#include "dsp/fft.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

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
static_assert(BIT_REVERSAL_SWAPS.back().i != 0, "every swap pair filled");

void conjugate(TwiddleTable& table) {
    for (Twiddle& t : table) t.sin = -t.sin;
}

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

}  // namespace qern
