#include "synthesis/grain_engine.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "base/error_log.h"
#include "dsp/kernels.h"
#include "dsp/vector_kernels.h"
#include "synthesis/note_settings.h"

namespace qern {

namespace {

// Copies input[mark - P, mark + P) into the grain's source window, with zeros
// where the input view ends (a cache whose marks lie beyond the samples).
// Returns the window, index 0 at the mark.
SampleSpan load_source_window(SampleSpan input, GrainBuffer& grain, int mark, int P) {
    const SampleSpan window{grain.source.data() + P, -P, P};
    // The part of [mark - P, mark + P) inside the view, as k from the mark.
    const long long first = std::clamp<long long>(static_cast<long long>(input.begin) - mark, -P, P);
    const long long last = std::clamp<long long>(static_cast<long long>(input.end) - mark, first, P);
    double* out = window.origin;
    std::fill(out - P, out + first, 0.0);
    if (first < last) std::copy(input.origin + mark + first, input.origin + mark + last, out + first);
    std::fill(out + last, out + P, 0.0);
    return window;
}

// Whether a grain of period P at scale f can be cut: P in
// 1..GRAIN_MAX_PERIOD and its resampled half not longer than the buffer's.
bool grain_fits(int P, double f) {
    return P >= 1 && P <= GRAIN_MAX_PERIOD && static_cast<double>(P) * f < GRAIN_MAX_HALF + 1;
}

// The scratch's sinc table with the rows of a grain of half length H, made
// for f on first use (from `memory` when given); nullptr when its memory
// cannot be had.
const SincTable* sinc_rows(SectionScratch& scratch, double f, int H, BulkArena* memory) {
    SincTable& table = scratch.sinc;
    if (table.capacity == 0 || table.ratio != f) {
        table = make_sinc_table(f, std::max(H, scratch.longest_half), memory);
    } else if (H > table.capacity) {
        table = make_sinc_table(f, GRAIN_MAX_HALF, memory);
    }
    return prepare_sinc_rows(table, H) ? &table : nullptr;
}

// apply_hann_window(values, n), with the weights from the scratch's windows
// (new ones taken from `memory` when given) when there is a scratch and it
// has them.
void apply_window(SectionScratch* scratch, SampleSpan values, int n, BulkArena* memory) {
    const double* weights = scratch != nullptr ? hann_window(scratch->windows, n, memory) : nullptr;
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
    const int H = static_cast<int>(static_cast<double>(P) * f);
    const SampleSpan source = load_source_window(input, grain, mark, P);
    const SampleSpan centre = grain.centre();
    if (f == 1.0) {
        copy_samples(centre.shifted(-P), 2 * P, source, -P);
        apply_window(scratch, centre.shifted(-P), 2 * P, nullptr);
        return 0;
    }
    // Element j takes the source at j / f from the mark: f > 1 stretches the
    // grain (formants down), f < 1 compresses it (formants up). Stretched
    // grains make the sinc table and the windows large enough that they are
    // worth a huge page.
    BulkArena* memory = scratch != nullptr && f > 1.0 ? &scratch->memory : nullptr;
    const SincTable* table = scratch != nullptr ? sinc_rows(*scratch, f, H, memory) : nullptr;
    if (table != nullptr) {
        sinc_resample(*table, -P, P, centre, 0, source);
    } else {
        sinc_resample(-P, P, centre, f, 0, source);
    }
    apply_window(scratch, centre.shifted(-H), static_cast<int>(static_cast<double>(2 * P) * f), memory);
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
    return static_cast<int>(static_cast<double>(longest) * f);
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

void overlap_add_grain(SampleSpan output, const GrainBuffer& grain, int H, double p0, double limit,
                       double t) {
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
    add_into(best_vector_unit(), &output[begin], &grain.grain[static_cast<std::size_t>(begin - offset + GrainBuffer::HALF_SPAN)],
             end - begin);
}

double synthesize_section(const SampleBuffer& input, const AnalysisResult& analysis,
                          const NoteSettings& note, int S, int Ls, SampleSpan output, int Lo,
                          double p0) {
    SectionScratch scratch;
    return synthesize_section(input, analysis, note, S, Ls, output, Lo, p0, scratch);
}

double synthesize_section(const SampleBuffer& input_samples, const AnalysisResult& analysis,
                          const NoteSettings& note, int S, int Ls, SampleSpan output, int Lo,
                          double p0, SectionScratch& scratch) {
    const double f = std::pow(10.0, note.flag_g / 200.0);
    const long long E = static_cast<long long>(S) + Ls;
    double t = 0.0;
    if (E <= 0) return p0;
    // An empty source range cannot fill any output (its time ratio is
    // infinite): lay nothing.
    if (Ls == 0 || !std::isfinite(p0)) return p0;
    const double r = static_cast<double>(Lo) / static_cast<double>(Ls);

    const double limit = static_cast<double>(Lo) + OUTPUT_TAIL;
    // Once the output time is this far past the buffer, neither this section
    // nor the next one can reach it any more.
    const double beyond_reach = static_cast<double>(output.end) + GRAIN_MAX_HALF + 1;
    const SampleSpan input = read_only_span(input_samples);
    const std::vector<PitchMarkEntry>& marks = analysis.marks;

    for (std::size_t k = 0;; ++k) {
        if (!(t < Lo)) break;
        // Past the last mark the walk meets the end entry (0, 0).
        const PitchMarkEntry entry = k < marks.size() ? marks[k] : PitchMarkEntry{};
        const long long m = entry.position;
        const int P = entry.period;
        if (P == 0) {
            log_error(MSG_MARKS_RAN_OUT, ERROR_PREFIX);
            return p0 + t;
        }
        if (static_cast<long long>(S) + P > m) {
            // Its grain would reach in front of the range.
            if (m < E) continue;
            break;
        }
        const long long rel = m - S;
        if (!grain_fits(P, f)) {
            log_error(MSG_GRAIN_FAILED, ERROR_PREFIX);
            return p0 + t;
        }
        const int H = static_cast<int>(static_cast<double>(P) * f);
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
                extract_grain(input, scratch, entry.position, P, f);
                cut = true;
            }
            overlap_add_grain(output, scratch.grain, H, p0, limit, t);
            if (p0 + t >= beyond_reach) return p0 + t;
        }
        if (Ls < rel) break;
        if (!(m < E)) break;
    }
    return p0 + t;
}

}  // namespace qern
