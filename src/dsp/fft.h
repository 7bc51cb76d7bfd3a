// The 8192-point real FFT and block filtering by a prepared spectrum.
//
// Spectra use the packed half-spectrum layout: index 0 holds X[0], index k
// (1..4095) the real part of X[k], index 4096 X[4096], and index 8192 - k
// minus the imaginary part of X[k]. The forward transform is unscaled, the
// inverse carries 1/8192.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "dsp/vector_unit.h"

namespace qern {

constexpr int FFT_SIZE = 8192;

struct Twiddle {
    double cos = 0.0;
    double sin = 0.0;
};
// Entry k holds (cos(k s), sin(k s)), s = -2 pi / 8192 for the forward direction.
using TwiddleTable = std::array<Twiddle, FFT_SIZE>;
using FftBlock = std::span<double, FFT_SIZE>;

// Entry i holds the 13-bit reversal of i: bit_reverse_permute moves
// data[i] to index table[i].
using BitReversalTable = std::array<std::uint16_t, FFT_SIZE>;
const BitReversalTable& bit_reversal_table();

// Fills `table`; `forward` nonzero gives angles -2 pi k / 8192, 0 gives +2 pi k / 8192.
void make_twiddle_table(TwiddleTable& table, int forward);
// Swaps data[i] with data[bitrev13(i)] for i < bitrev13(i); its own inverse.
void bit_reverse_permute(FftBlock data);
// Bit-reversed samples in, packed half spectrum out (unscaled). `table`:
// forward. No allocation, no trigonometric calls.
void rfft_forward(FftBlock data, const TwiddleTable& table);
// Packed half spectrum in, bit-reversed samples out, scaled by 1/8192.
// `table`: the forward table with every sine negated (the angles +2 pi k / 8192).
void rfft_inverse(FftBlock data, const TwiddleTable& table);

// The twiddles of a table laid out stage by stage for the vector units:
// stage L (4 .. 8192) reads entries L/4 + j = table[j * 8192 / L] for
// j = 0 .. L/4 - 1, so that neighbouring butterflies read neighbouring
// values. 64 KiB.
struct StageTwiddles {
    std::array<double, FFT_SIZE / 2> cos;
    std::array<double, FFT_SIZE / 2> sin;
};
// Copies the entries of `table` (either direction) into `stages`.
void make_stage_twiddles(StageTwiddles& stages, const TwiddleTable& table);

// rfft_forward and rfft_inverse with several butterflies at a time on
// `unit`, on the stage layout of the same table (forward, or forward with
// every sine negated for the inverse): every butterfly sees the same
// operations in the same order as in the loops above, so the results are
// the same bit for bit.
void rfft_forward(VectorUnit unit, FftBlock data, const StageTwiddles& forward);
void rfft_inverse(VectorUnit unit, FftBlock data, const StageTwiddles& inverse);

// Circular convolution of `block` (natural order) with the kernel whose
// packed spectrum is `spectrum`, using the forward `table`. The table is
// conjugated while the inverse runs and is the same, bit for bit, after the
// call; so one table must not serve two transforms at the same time.
void fft_filter_block(FftBlock block, std::span<const double, FFT_SIZE> spectrum, TwiddleTable& table);
// The same on `unit`, with the stage layouts of the forward table and of
// its conjugate; the same result bit for bit.
void fft_filter_block(VectorUnit unit, FftBlock block, std::span<const double, FFT_SIZE> spectrum,
                      const StageTwiddles& forward, const StageTwiddles& inverse);
// The same without the two permutations: `block` holds the input in
// bit-reversed order and receives the output in bit-reversed order, so that
// a caller can fold the permutations into its own copies.
void fft_filter_reversed_block(VectorUnit unit, FftBlock block, std::span<const double, FFT_SIZE> spectrum,
                               const StageTwiddles& forward, const StageTwiddles& inverse);

}  // namespace qern
