// sinc_resample for many spans at one ratio: the grains of a note are all
// resampled by the same factor, and an output index i always stands for the
// same source position i / ratio from the span's centre. So the 31 tap
// weights of output i do not depend on the span; they are computed once per
// note, each by the expression sinc_resample uses, and every span then only
// sums. Only which taps lie inside the span differs, and the sum leaves out
// the same taps, in the same order: the result is sinc_resample's, bit for
// bit, on every vector unit.
#pragma once

#include <memory>

#include "base/bulk_memory.h"
#include "base/sample_buffer.h"
#include "dsp/vector_unit.h"

namespace qern {

inline constexpr int SINC_TAPS = 31;

// Weights of the output indices [-rows_ready, rows_ready) at one ratio; room
// for [-capacity, capacity). Rows are filled on demand (prepare_sinc_rows).
struct SincTable {
    // Rows are stored in blocks of 8 consecutive outputs, tap by tap: the
    // weights of tap q of a block's 8 outputs lie side by side, ready for
    // the vector unit.
    static constexpr int BLOCK_ROWS = 8;
    double ratio = 1.0;
    int capacity = 0;  // a multiple of BLOCK_ROWS
    int rows_ready = 0;
    // Row n = i + capacity, tap q at weights[((n / 8) * 31 + q) * 8 + n % 8]:
    // the weight of source index first_tap + q.
    //
    // A mirrored table keeps only the rows i = 0 .. capacity, row i in
    // block i / 8. Output -i stands for the source position -i / ratio, the
    // mirror image of i / ratio, and its weights are those of row i in
    // reverse: tap q of row -i is tap 30 - q of row i, bit for bit (trunc,
    // round and the sine are odd functions, and so are the differences and
    // the division the weights are formed by), but for the sign of the
    // zero weights of a row where i / ratio is whole; a sum, which starts
    // at +0 and is never -0, takes +-0 times a sample alike. Half the
    // memory, half the sines. Only sinc_resample_lanes reads a mirrored
    // table.
    bool mirrored = false;
    BulkDoubles weights;
    // trunc(i / ratio) - 15 for row n = i + capacity.
    std::unique_ptr<int[]> first_tap;
};

// A table for `ratio` (> 0) with room for output indices [-capacity,
// capacity) at least, no row filled yet. Its memory is taken at once (see
// base/bulk_memory.h), from `memory` when given: give the capacity the
// grains will need. An empty table (capacity 0) when it cannot be had.
// `mirrored`: only the rows i >= 0 (see SincTable::mirrored).
SincTable make_sinc_table(double ratio, int capacity, BulkArena* memory = nullptr, bool mirrored = false);

// Fills the rows [-half, half) that are not filled yet. Returns false (and
// fills nothing) when half exceeds the capacity.
bool prepare_sinc_rows(SincTable& table, int half);

// sinc_resample(first, last, dst, table.ratio, centre, src), bit for bit,
// from the table's rows: they must cover trunc(ratio (first - centre)) ..
// trunc(ratio (last - centre)) - 1. Reads only src[first, last). Always
// returns 0. The first form runs on best_vector_unit(). Not for a
// mirrored table.
int sinc_resample(const SincTable& table, int first, int last, SampleSpan dst, int centre, SampleSpan src);
int sinc_resample(VectorUnit unit, const SincTable& table, int first, int last, SampleSpan dst, int centre,
                  SampleSpan src);

// Spans resampled side by side, SINC_LANES of them: row j of a source holds
// sample j of every span, lane g for span g. The grains of a note are cut
// this way, eight at a time: each weight is then loaded once for eight
// grains, and the eight sums of a row go to one vector.
inline constexpr int SINC_LANES = 8;

// Source rows [first, last).
struct TapRange {
    int first = 0;
    int last = 0;
};

// The source rows sinc_resample_lanes reads for the outputs [out_first,
// out_last): the taps of the whole table blocks that hold them.
TapRange sinc_lane_taps(const SincTable& table, int out_first, int out_last);

// Sets the source rows [rows.first, rows.last) of x (x[j * SINC_LANES + g]
// for row j, lane g) to origin[offset[g] + j] where first[g] <= j <
// last[g], and to zero elsewhere. Only those elements of origin are read.
void fill_lanes(VectorUnit unit, const double* origin, const long long* offset, const int* first, const int* last,
                TapRange rows, double* x);

// For every lane g, the outputs [out_first, out_last) of its span, each the
// sum sinc_resample forms, in the same order: x[j * SINC_LANES + g] is
// sample j of span g, for every row of sinc_lane_taps, zero where the span
// has no sample (a tap outside a span adds a zero, which leaves the sum
// unchanged); y[g][i] receives output i of lane g. Whole blocks of the
// table are computed, so y[g] is written up to 7 outputs beyond both ends
// as well. The table (full or mirrored) must have its rows ready for
// [out_first, out_last).
void sinc_resample_lanes(VectorUnit unit, const SincTable& table, int out_first, int out_last, const double* x,
                         double* const* y);

}  // namespace qern
