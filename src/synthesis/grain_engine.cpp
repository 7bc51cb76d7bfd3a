#include "synthesis/grain_engine.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cassert>
#include <cstdint>
#include <vector>

#include "base/error_log.h"
#include "dsp/kernels.h"
#include "dsp/vector_kernels.h"
#include "synthesis/note_settings.h"

namespace qern {

namespace {

// The part of a grain's source [mark - P, mark + P) that lies inside the
// input view, as offsets [first, last) from the mark (first == last when
// none does).
struct SourcePart {
    int first = 0;
    int last = 0;
};
SourcePart source_in_view(SampleSpan input, int mark, int P) {
    const long long first = std::clamp<long long>(static_cast<long long>(input.begin) - mark, -P, P);
    const long long last = std::clamp<long long>(static_cast<long long>(input.end) - mark, first, P);
    return SourcePart{static_cast<int>(first), static_cast<int>(last)};
}

// Copies input[mark - P, mark + P) into the grain's source window, with zeros
// where the input view ends (a cache whose marks lie beyond the samples).
// Returns the window, index 0 at the mark.
SampleSpan load_source_window(SampleSpan input, GrainBuffer& grain, int mark, int P) {
    const SampleSpan window{grain.source.data() + P, -P, P};
    const auto [first, last] = source_in_view(input, mark, P);
    double* out = window.origin;
    std::fill(out - P, out + first, 0.0);
    if (first < last) std::copy(input.origin + mark + first, input.origin + mark + last, out + first);
    std::fill(out + last, out + P, 0.0);
    return window;
}

// The view of `input` that holds the samples [mark - P, mark + P) the
// grain of a mark of period P is cut from.
SampleSpan grain_view(const SampleSource& input, int mark, int P) { return input.view_holding(mark - P, mark + P); }

// The half length H = trunc(P f) of a grain of period P at scale f, and
// the length trunc(2 P f) of its window.
int grain_half(int P, double f) { return static_cast<int>(static_cast<double>(P) * f); }
int grain_window_length(int P, double f) { return static_cast<int>(static_cast<double>(2 * P) * f); }

// Whether a grain of period P at scale f can be cut: P in
// 1..GRAIN_MAX_PERIOD and its resampled half not longer than the buffer's.
bool grain_fits(int P, double f) {
    return P >= 1 && P <= GRAIN_MAX_PERIOD && static_cast<double>(P) * f < GRAIN_MAX_HALF + 1;
}

// The scratch's sinc table with the rows of a grain of half length H, made
// for f on first use (from the scratch's memory; mirrored when the grains
// are cut side by side); nullptr when its memory cannot be had.
const SincTable* sinc_rows(SectionScratch& scratch, double f, int H) {
    SincTable& table = scratch.sinc;
    if (table.capacity == 0 || table.ratio != f) {
        table = make_sinc_table(f, std::max(H, scratch.longest_half), scratch.memory, scratch.side_by_side);
    } else if (H > table.capacity) {
        table = make_sinc_table(f, GRAIN_MAX_HALF, scratch.memory, scratch.side_by_side);
    }
    return prepare_sinc_rows(table, H) ? &table : nullptr;
}

// apply_hann_window(values, n), with the weights from the scratch's windows
// (new ones taken from the scratch's memory) when there is a scratch and it
// has them.
void apply_window(SectionScratch* scratch, SampleSpan values, int n) {
    const double* weights = scratch != nullptr ? hann_window(scratch->windows, n, scratch->memory) : nullptr;
    if (weights == nullptr) {
        apply_hann_window(values, n);
    } else {
        apply_window_weights(values, weights, n);
    }
}

// Both forms of extract_grain: without a scratch every window and every
// sinc weight is computed where it is used, with one they come from its
// caches. The results are the same bit for bit.
int cut_grain(SampleSpan input, GrainBuffer& grain, SectionScratch* scratch, int mark, int P, double f) {
    if (!grain_fits(P, f)) return -1;
    const int H = grain_half(P, f);
    const SampleSpan source = load_source_window(input, grain, mark, P);
    const SampleSpan centre = grain.centre();
    if (f == 1.0) {
        copy_samples(centre.shifted(-P), 2 * P, source, -P);
        apply_window(scratch, centre.shifted(-P), 2 * P);
        return 0;
    }
    // Element j takes the source at j / f from the mark: f > 1 stretches the
    // grain (formants down), f < 1 compresses it (formants up).
    // (A mirrored table is for the lanes: a grain cut alone beside them,
    // where their memory ran out, computes its weights.)
    const SincTable* table = scratch != nullptr && !scratch->side_by_side ? sinc_rows(*scratch, f, H) : nullptr;
    if (table != nullptr) {
        sinc_resample(*table, -P, P, centre, 0, source);
    } else {
        sinc_resample(-P, P, centre, f, 0, source);
    }
    apply_window(scratch, centre.shifted(-H), grain_window_length(P, f));
    return 0;
}

}  // namespace

int extract_grain(SampleSpan input, GrainBuffer& grain, int mark, int P, double f) {
    return cut_grain(input, grain, nullptr, mark, P, f);
}

int extract_grain(SampleSpan input, SectionScratch& scratch, int mark, int P, double f) {
    return cut_grain(input, scratch.grain, &scratch, mark, P, f);
}

int longest_grain_half(const std::vector<PitchMarkEntry>& marks, double f) {
    int longest = 0;
    for (const PitchMarkEntry& entry : marks) {
        if (entry.period <= GRAIN_MAX_PERIOD) longest = std::max(longest, entry.period);
    }
    if (longest == 0 || !grain_fits(longest, f)) return GRAIN_MAX_HALF;
    return grain_half(longest, f);
}

double output_period(double tau, int P, const NoteSettings& note, double mean_period) {
    const PitchBend& bend = note.bend;
    // Pitch-bend factor: linear between the two curve points around tau,
    // 1 past the curve's end.
    double b = 1.0;
    const long long curve_end = static_cast<long long>(bend.bend_count) * bend.bend_spacing;
    if (!bend.bend_curve.empty() && bend.bend_spacing > 0 && tau >= 0.0 &&
        !(tau > static_cast<double>(curve_end))) {
        const double spacing = bend.bend_spacing;
        const double u = tau / spacing;
        const double rho = std::fmod(tau, spacing);
        const auto below = static_cast<std::size_t>(std::floor(u));
        const auto above = static_cast<std::size_t>(std::ceil(u));
        if (above < bend.bend_curve.size()) {
            b = ((spacing - rho) * bend.bend_curve[below] + rho * bend.bend_curve[above]) / spacing;
        }
    }
    // b * target * (modulation * P / mean + 100 - modulation) / 100, in this order.
    double period = static_cast<double>(P) / mean_period;
    period = period * note.modulation;
    period = period + 100.0;
    period = period - note.modulation;
    period = period / 100.0;
    period = period * note.target_period;
    return period * b;
}

void overlap_add_grain(SampleSpan output, SampleSpan grain, int H, double p0, double limit, double t) {
    // t rounded down to a half sample, plus one.
    const double c = std::floor(2.0 * t) * 0.5 + 1.0;
    double first = -H;
    if (c - H < -p0) first = std::ceil(-p0 - c);  // first i with p0 + c + i >= 0
    double last = H;
    if (limit < H + c) last = std::floor(limit - c);  // c + i stays below the limit

    // Absolute output indices, kept inside the buffer (a section that starts
    // far past the end writes nothing).
    const double centre = std::trunc(p0) + std::trunc(c);
    const double lo = std::max(centre + first, static_cast<double>(output.begin));
    const double hi = std::min(centre + last, static_cast<double>(output.end));
    if (!(lo < hi)) return;
    const int begin = static_cast<int>(lo);
    const int end = static_cast<int>(hi);
    const int offset = static_cast<int>(centre);
    assert(begin - offset >= grain.begin && end - offset <= grain.end);
    add_into(best_vector_unit(), &output[begin], grain.origin + (begin - offset), end - begin);
}

void overlap_add_grain(SampleSpan output, const GrainBuffer& grain, int H, double p0, double limit,
                       double t) {
    // Only read: centre() gives the view any grain span has.
    overlap_add_grain(output, const_cast<GrainBuffer&>(grain).centre(), H, p0, limit, t);
}

double synthesize_section(const SampleBuffer& input, const AnalysisResult& analysis,
                          const NoteSettings& note, int S, int Ls, SampleSpan output, int Lo,
                          double p0) {
    SectionScratch scratch;
    return synthesize_section(input, analysis, note, S, Ls, output, Lo, p0, scratch);
}

namespace {

// The walk of a section over the pitch marks: which grains are cut, in
// order, and where each is laid. on_cut(entry) comes before the first lay of
// a mark's grain, on_lay(H, t) for every lay (H: the grain's half length).
// Returns what synthesize_section returns; logs why a section ends early
// (unless log_early_end is false).
template <class OnCut, class OnLay>
double walk_section(const AnalysisResult& analysis, const NoteSettings& note, int S, int Ls, int output_end,
                    int Lo, double p0, double f, OnCut&& on_cut, OnLay&& on_lay, bool log_early_end = true) {
    const long long E = static_cast<long long>(S) + Ls;
    double t = 0.0;
    if (E <= 0) return p0;
    // An empty source range cannot fill any output (its time ratio is
    // infinite): lay nothing.
    if (Ls == 0 || !std::isfinite(p0)) return p0;
    const double r = static_cast<double>(Lo) / static_cast<double>(Ls);

    // Once the output time is this far past the buffer, neither this section
    // nor the next one can reach it any more.
    const double beyond_reach = static_cast<double>(output_end) + GRAIN_MAX_HALF + 1;
    const std::vector<PitchMarkEntry>& marks = analysis.marks;

    for (std::size_t k = 0;; ++k) {
        if (!(t < Lo)) break;
        // Past the last mark the walk meets the end entry (0, 0).
        const PitchMarkEntry entry = k < marks.size() ? marks[k] : PitchMarkEntry{};
        const long long m = entry.position;
        const int P = entry.period;
        if (P == 0) {
            if (log_early_end) log_error(MSG_MARKS_RAN_OUT, ERROR_PREFIX);
            return p0 + t;
        }
        if (static_cast<long long>(S) + P > m) {
            // Its grain would reach in front of the range.
            if (m < E) continue;
            break;
        }
        const long long rel = m - S;
        if (!grain_fits(P, f)) {
            if (log_early_end) log_error(MSG_GRAIN_FAILED, ERROR_PREFIX);
            return p0 + t;
        }
        const int H = grain_half(P, f);
        const double target = static_cast<double>(rel) * r;
        // The grain is cut when it is first laid: where the output runs
        // faster than the source, many marks lay none.
        bool cut = false;
        while (t < target) {
            if (P == UNVOICED_T0) {
                t = t + 49.0;
            } else {
                const double period = output_period(p0 + t, P, note, analysis.mean_period);
                // A period that would not move the grains on: this mark lays
                // nothing more, the next one goes on from here.
                if (!(period >= MIN_OUTPUT_PERIOD) || !std::isfinite(period)) break;
                t = t + period;
            }
            if (!cut) {
                on_cut(entry);
                cut = true;
            }
            on_lay(H, t);
            if (p0 + t >= beyond_reach) return p0 + t;
        }
        if (Ls < rel) break;
        if (!(m < E)) break;
    }
    return p0 + t;
}

struct LaneCut {
    int mark = 0;
    int P = 0;
};

struct LaneLay {
    std::size_t cut = 0;  // index into the cuts
    int H = 0;
    double t = 0.0;
};

// Makes the lanes' sources hold rows `rows` and their slots elements
// [-half, half]; false when the memory cannot be had.
bool make_lanes_room(GrainLanes& lanes, TapRange rows, int half, BulkArena* memory) {
    const int reach = std::max(-rows.first, rows.last);
    if (reach > lanes.source_reach) {
        lanes.sources = allocate_bulk_zeroed(static_cast<std::size_t>(2 * reach) * SINC_LANES, memory);
        lanes.source_reach = lanes.sources ? reach : 0;
        if (!lanes.sources) return false;
    }
    if (half > lanes.slot_half) {
        lanes.slots = allocate_bulk_zeroed(static_cast<std::size_t>(2 * half + 1) * SINC_LANES, memory);
        lanes.window = allocate_bulk_zeroed(static_cast<std::size_t>(2 * half + 1), memory);
        lanes.window_length = 0;
        lanes.slot_half = lanes.slots && lanes.window ? half : 0;
        if (lanes.slot_half == 0) return false;
    }
    return true;
}

// Cuts the grains of cuts[0..count) (count <= SINC_LANES) at scale f != 1
// into the lanes' slots, each exactly as extract_grain cuts it. False when
// the table or the lanes' memory cannot be had (nothing is cut then).
bool cut_lanes(const SampleSource& input, SectionScratch& scratch, const LaneCut* cuts, int count, double f) {
    int longest = 0;
    for (int g = 0; g < count; ++g) longest = std::max(longest, cuts[g].P);
    const int H = grain_half(longest, f);
    const SincTable* table = sinc_rows(scratch, f, H);
    if (table == nullptr) return false;
    const TapRange rows = sinc_lane_taps(*table, -H, H);
    GrainLanes& lanes = scratch.lanes;
    if (!make_lanes_room(lanes, rows, std::max(H, scratch.longest_half) + SincTable::BLOCK_ROWS, scratch.memory)) {
        return false;
    }

    // Lane g holds input[mark - P, mark + P) of its grain, zeros around it
    // (and where the input view ends); unused lanes hold zeros.
    double* x = lanes.sources.get() + static_cast<std::ptrdiff_t>(lanes.source_reach) * SINC_LANES;
    // Lane g reads base[offset[g] + j]: the sample mark + j of the view
    // that holds its grain.
    const double* base = input.base();
    long long offset[SINC_LANES];
    int first[SINC_LANES], last[SINC_LANES];
    for (int g = 0; g < SINC_LANES; ++g) {
        const int mark = g < count ? cuts[g].mark : 0;
        const int P = g < count ? cuts[g].P : 0;
        const SampleSpan view = grain_view(input, mark, P);
        offset[g] = (view.origin - base) + mark;
        const SourcePart part = source_in_view(view, mark, P);
        first[g] = part.first;
        last[g] = part.last;
    }
    fill_lanes(best_vector_unit(), base, offset, first, last, rows, x);
    double* slots[SINC_LANES];
    for (int g = 0; g < SINC_LANES; ++g) slots[g] = lanes.slot(g).origin;
    sinc_resample_lanes(best_vector_unit(), *table, -H, H, x, slots);
    for (int g = 0; g < count; ++g) {
        const int Hg = grain_half(cuts[g].P, f);
        const int n = grain_window_length(cuts[g].P, f);
        if (n != lanes.window_length) {
            hann_weights(lanes.window.get(), n);
            lanes.window_length = n;
        }
        apply_window_weights(lanes.slot(g).shifted(-Hg), lanes.window.get(), n);
    }
    return true;
}

}  // namespace

double section_reads(const AnalysisResult& analysis, const NoteSettings& note, int S, int Ls, int output_end,
                     int Lo, double p0, std::vector<SampleRange>& reads) {
    return walk_section(
        analysis, note, S, Ls, output_end, Lo, p0, grain_scale(note),
        [&](const PitchMarkEntry& entry) {
            reads.push_back(SampleRange{entry.position - entry.period, entry.position + entry.period});
        },
        [](int, double) {}, false);
}

double synthesize_section(const SampleBuffer& input_samples, const AnalysisResult& analysis,
                          const NoteSettings& note, int S, int Ls, SampleSpan output, int Lo,
                          double p0, SectionScratch& scratch) {
    return synthesize_section(SampleSource{read_only_span(input_samples)}, analysis, note, S, Ls, output, Lo, p0,
                              scratch);
}

double synthesize_section(const SampleSource& input, const AnalysisResult& analysis, const NoteSettings& note,
                          int S, int Ls, SampleSpan output, int Lo, double p0, SectionScratch& scratch) {
    const double f = grain_scale(note);
    const double limit = static_cast<double>(Lo) + OUTPUT_TAIL;
    if (f == 1.0 || !scratch.side_by_side) {
        return walk_section(
            analysis, note, S, Ls, output.end, Lo, p0, f,
            [&](const PitchMarkEntry& entry) {
                const int mark = entry.position;
                extract_grain(grain_view(input, mark, entry.period), scratch, mark, entry.period, f);
            },
            [&](int H, double t) { overlap_add_grain(output, scratch.grain, H, p0, limit, t); });
    }
    // The walk first, then the grains, SINC_LANES at a time, each laid
    // where the walk put it, in the walk's order.
    std::vector<LaneCut> cuts;
    std::vector<LaneLay> lays;
    const double end = walk_section(
        analysis, note, S, Ls, output.end, Lo, p0, f,
        [&](const PitchMarkEntry& entry) { cuts.push_back(LaneCut{static_cast<int>(entry.position), entry.period}); },
        [&](int H, double t) { lays.push_back(LaneLay{cuts.size() - 1, H, t}); });
    std::size_t next_lay = 0;
    for (std::size_t first = 0; first < cuts.size(); first += SINC_LANES) {
        const int count = static_cast<int>(std::min<std::size_t>(SINC_LANES, cuts.size() - first));
        const bool together = cut_lanes(input, scratch, &cuts[first], count, f);
        for (; next_lay < lays.size() && lays[next_lay].cut < first + count; ++next_lay) {
            const LaneLay& lay = lays[next_lay];
            if (together) {
                overlap_add_grain(output, scratch.lanes.slot(static_cast<int>(lay.cut - first)), lay.H, p0, limit,
                                  lay.t);
                continue;
            }
            // Without the memory for the lanes, one grain at a time.
            if (next_lay == 0 || lays[next_lay - 1].cut != lay.cut) {
                const LaneCut& cut = cuts[lay.cut];
                extract_grain(grain_view(input, cut.mark, cut.P), scratch, cut.mark, cut.P, f);
            }
            overlap_add_grain(output, scratch.grain, lay.H, p0, limit, lay.t);
        }
    }
    return end;
}

}  // namespace qern
