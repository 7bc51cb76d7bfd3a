// Pitch-synchronous overlap-add: lays Hann-windowed two-period grains of the
// input, cut around its pitch marks, into the output at a new period.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "analysis/frame_t0.h"
#include "analysis/sample_analysis.h"
#include "base/sample_buffer.h"
#include "dsp/sinc_table.h"
#include "synthesis/hann_window_cache.h"
#include "synthesis/note_settings.h"

namespace qern {

// Longest grain period the engine takes: the longest voiced period (the
// cache reader refuses longer ones).
inline constexpr int GRAIN_MAX_PERIOD = MAX_VOICED_PERIOD;
// Half-length H of the longest grain: trunc(511 * 10^(100/200)).
inline constexpr int GRAIN_MAX_HALF = 1615;
// Output periods below half a sample (the resolution at which grains are
// placed), non-positive ones and non-numbers lay no grain: the walk moves on
// to the next mark instead of stepping in place for ever.
inline constexpr double MIN_OUTPUT_PERIOD = 0.5;

// Scratch space for one grain, addressed from its centre (element 0 is the
// mark), plus the two source periods it is cut from. One per section call;
// nothing is allocated per grain.
struct GrainBuffer {
    // Elements -(GRAIN_MAX_HALF + 1) .. GRAIN_MAX_HALF + 1: the window of a
    // resampled grain may reach element H.
    static constexpr int HALF_SPAN = GRAIN_MAX_HALF + 1;
    std::array<double, 2 * HALF_SPAN + 1> grain{};
    // The 2P source samples around the mark, zero where they lie outside the
    // input buffer; element P is the mark.
    std::array<double, 2 * GRAIN_MAX_PERIOD> source{};

    SampleSpan centre() { return SampleSpan{grain.data() + HALF_SPAN, -HALF_SPAN, HALF_SPAN + 1}; }
    double operator[](int i) const { return grain[static_cast<std::size_t>(i + HALF_SPAN)]; }
};

// At a grain scale other than 1, grains are cut SINC_LANES at a time (see
// dsp/sinc_table.h): their sources side by side, then each grain in a slot
// of its own until it has been laid.
struct GrainLanes {
    // Source rows [-source_reach, source_reach), SINC_LANES values each.
    BulkDoubles sources;
    int source_reach = 0;
    // SINC_LANES slots of 2 slot_half + 1 elements, element 0 in the middle.
    BulkDoubles slots;
    int slot_half = 0;
    // The Hann window last applied (2 slot_half + 1 elements): consecutive
    // grains mostly share their length, and computing a window again costs
    // less than the fresh pages that would keep every length.
    BulkDoubles window;
    int window_length = 0;

    SampleSpan slot(int lane) const {
        double* centre = slots.get() + static_cast<std::ptrdiff_t>(lane) * (2 * slot_half + 1) + slot_half;
        return SampleSpan{centre, -slot_half, slot_half + 1};
    }
};

// Whether grains at a scale other than 1 are best cut side by side: where
// the vector unit gains by it.
inline bool grains_side_by_side() { return best_vector_unit() != VectorUnit::baseline; }

// What the sections of one note share: the grain scratch space, the Hann
// windows and, at a grain scale other than 1, the sinc weights of the
// resampling, all computed at most once per note.
struct SectionScratch {
    // Scratch taking its memory from a note's arena, which must outlive it;
    // without one, from an arena of its own.
    SectionScratch() : own_memory(std::make_unique<BulkArena>(NOTE_SCRATCH_BYTES)), memory(own_memory.get()) {}
    explicit SectionScratch(BulkArena& arena) : memory(&arena) {}

    std::unique_ptr<BulkArena> own_memory;
    // Where the sinc table, the Hann windows and the lanes are taken from.
    BulkArena* memory;
    GrainBuffer grain;
    HannWindowCache windows;
    SincTable sinc;
    GrainLanes lanes;
    // Whether grains at a scale other than 1 are cut side by side (the same
    // grains, bit for bit).
    bool side_by_side = grains_side_by_side();
    // The longest half length H of a resampled grain the note will cut: the
    // room the sinc table is made with (a longer grain makes it anew).
    int longest_half = GRAIN_MAX_HALF;
};

// trunc(P f) for the longest period P among `marks` that a grain can be cut
// at (GRAIN_MAX_HALF when there is none): what SectionScratch::longest_half
// wants.
int longest_grain_half(const std::vector<PitchMarkEntry>& marks, double f);

// Lays the range [S, S + Ls) of the `input` samples into `output` (index 0 =
// output time 0, margins included in the view) as a section of Lo output
// samples starting at output time p0, walking the pitch marks of
// `analysis`; `note` gives target_period, modulation, the bend and flag_g.
// Returns the output time reached (p0 + section time); exactly 0.0 means
// nothing was laid. A mark list that runs out or a grain that cannot be cut
// is logged and ends the section early.
double synthesize_section(const SampleBuffer& input, const AnalysisResult& analysis,
                          const NoteSettings& note, int S, int Ls, SampleSpan output, int Lo,
                          double p0);
// The same section, bit for bit, with scratch space shared with the other
// section of the note.
double synthesize_section(const SampleBuffer& input, const AnalysisResult& analysis,
                          const NoteSettings& note, int S, int Ls, SampleSpan output, int Lo,
                          double p0, SectionScratch& scratch);
// The same from the input's stretches, when they hold every sample the
// section's grains read.
double synthesize_section(const SampleSource& input, const AnalysisResult& analysis, const NoteSettings& note,
                          int S, int Ls, SampleSpan output, int Lo, double p0, SectionScratch& scratch);

// The input samples that section reads, without reading them: appends
// [mark - P, mark + P) of every grain its walk cuts, in the walk's order,
// to `reads`, logs nothing, and returns what synthesize_section returns
// (for an output view that ends at `output_end`).
double section_reads(const AnalysisResult& analysis, const NoteSettings& note, int S, int Ls, int output_end,
                     int Lo, double p0, std::vector<SampleRange>& reads);

// Cuts the grain of the mark at input index `mark`, period P, at grain scale
// f: the 2P input samples [mark - P, mark + P) resampled by f (f == 1:
// copied) and Hann-windowed, in elements [-H, H), H = trunc(P f). Input
// samples outside the view count as zero.
// Returns 0, or -1 when P is not in 1..GRAIN_MAX_PERIOD or the grain would
// not fit the buffer (f above 10^0.5).
int extract_grain(SampleSpan input, GrainBuffer& grain, int mark, int P, double f);
// The same grain, bit for bit, with its Hann window taken from the
// scratch's windows and its resampling from the scratch's sinc table (made
// for f on first use; the plain resampling when it cannot be had).
int extract_grain(SampleSpan input, SectionScratch& scratch, int mark, int P, double f);

// Output period in samples for a grain of a mark with period P when the
// previous grain lies at absolute output time tau: the note's target period
// shaped by its bend curve at tau and, by its modulation, by P / mean_period.
// A bend curve with a non-positive spacing is not applied.
double output_period(double tau, int P, const NoteSettings& note, double mean_period);

// Adds grain elements [-H, H) into `output` around section time t of a
// section starting at p0: centre index trunc(p0) + trunc(c), c = floor(2t)/2
// + 1, leaving out what would fall before output time 0 or at or beyond
// section time `limit`, and anything outside the view.
void overlap_add_grain(SampleSpan output, const GrainBuffer& grain, int H, double p0, double limit,
                       double t);
// The same for a grain held elsewhere (index 0 at its centre).
void overlap_add_grain(SampleSpan output, SampleSpan grain, int H, double p0, double limit, double t);

}  // namespace qern
