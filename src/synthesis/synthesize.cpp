#include "synthesis/synthesize.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <new>
#include <utility>

#include "base/error_log.h"
#include "base/failure_summary.h"
#include "dsp/kernels.h"
#include "synthesis/grain_engine.h"

namespace qern {

namespace {

int clamp_to_int(long long value) {
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

// Samples of the input as milliseconds, for messages.
double milliseconds(double samples, const DecodedInput& input) {
    return input.sample_rate > 0 ? samples * 1000.0 / input.sample_rate : 0.0;
}

// The first sample past every grain the walk of a section ending at E can
// cut: the walk takes the marks in order and stops after the first one at or
// beyond E (or at the end entry).
long long walk_reach(const std::vector<PitchMarkEntry>& marks, long long E) {
    long long reach = 0;
    for (const PitchMarkEntry& entry : marks) {
        if (entry.period == 0) break;
        reach = std::max(reach, static_cast<long long>(entry.position) + std::min(entry.period, GRAIN_MAX_PERIOD));
        if (entry.position >= E) break;
    }
    return reach;
}

// A section as synthesize_section takes it: the input range [S, S + Ls)
// laid into Lo output samples.
struct Section {
    int S = 0;
    int Ls = 0;
    int Lo = 0;
};

// The fixed part (the consonant), re-timed by the velocity factor only,
// and the vowel part: the rest of the used region, up to the right blank,
// filling what is left of the required length from where the first part
// ended.
struct NoteSections {
    Section fixed;
    Section vowel;
    long long vowel_start = 0;  // unclamped, for messages
};

NoteSections note_sections(const NoteSettings& note, int sample_count) {
    NoteSections sections;
    sections.fixed = Section{note.left_blank, note.consonant_length, note.consonant_out_length};
    sections.vowel_start = static_cast<long long>(note.left_blank) + note.consonant_length;
    const long long vowel_length = static_cast<long long>(sample_count) - note.right_blank - sections.vowel_start;
    sections.vowel = Section{clamp_to_int(sections.vowel_start), clamp_to_int(vowel_length),
                             clamp_to_int(static_cast<long long>(note.required_length) - note.consonant_out_length)};
    return sections;
}

// Whether a section that returned `reached` failed: it had output to fill
// and laid no grain.
bool section_failed(double reached, const Section& section) { return reached == 0.0 && section.Lo > 0; }

// The length of a note's output buffer, or -1 when it cannot have one.
long long note_buffer_length(const NoteSettings& note) {
    const long long length = static_cast<long long>(note.required_length) + OUTPUT_TAIL;
    return length >= 0 && length <= INT_MAX - 2 * SAMPLE_MARGIN ? length : -1;
}

}  // namespace

std::vector<SampleRange> samples_the_grains_read(const AnalysisResult& analysis, const NoteSettings& note,
                                                 int sample_count) {
    const SampleRange hull = samples_the_note_reads(analysis, note, sample_count);
    // The one range, when the walks cannot be had (a note that fails, or
    // no memory for the list).
    auto hull_only = [&] {
        return hull.first < hull.last ? std::vector<SampleRange>{hull} : std::vector<SampleRange>{};
    };
    const long long length = note_buffer_length(note);
    if (length < 0) return hull_only();
    try {
        // The walks synthesize makes, on an output view of the same end.
        const int output_end = static_cast<int>(length) + SAMPLE_MARGIN;
        const NoteSections sections = note_sections(note, sample_count);
        std::vector<SampleRange> reads;
        const Section& a = sections.fixed;
        const double p1 = section_reads(analysis, note, a.S, a.Ls, output_end, a.Lo, 0.0, reads);
        if (!section_failed(p1, a)) {
            const Section& b = sections.vowel;
            section_reads(analysis, note, b.S, b.Ls, output_end, b.Lo, p1, reads);
        }
        return merged_ranges(std::move(reads), sample_count);
    } catch (const std::bad_alloc&) {
        return hull_only();
    }
}

SampleRange samples_the_note_reads(const AnalysisResult& analysis, const NoteSettings& note, int sample_count) {
    // The sections as synthesize lays them; a grain of a section never reads
    // before the section's start.
    const long long fixed_start = note.left_blank;
    const long long fixed_end = fixed_start + note.consonant_length;
    const long long vowel_start = clamp_to_int(fixed_end);
    const long long vowel_end =
        vowel_start + clamp_to_int(static_cast<long long>(sample_count) - note.right_blank - fixed_end);
    const long long first = std::min(fixed_start, vowel_start);
    const long long last = std::max(walk_reach(analysis.marks, fixed_end), walk_reach(analysis.marks, vowel_end));
    return SampleRange{static_cast<int>(std::clamp<long long>(first, 0, sample_count)),
                       static_cast<int>(std::clamp<long long>(last, 0, sample_count))};
}

std::size_t synthesis_working_bytes(const AnalysisResult& analysis, const NoteSettings& note) {
    const double f = grain_scale(note);
    const std::size_t output = SampleBuffer::bytes_for(
        static_cast<std::size_t>(std::max(0LL, static_cast<long long>(note.required_length) + OUTPUT_TAIL)));
    // Grains of half length H: at scale 1, Hann windows of a dozen lengths
    // or so; else the sinc table's 31 weights per output index (per index
    // i >= 0 where the grains are cut side by side: a mirrored table), the
    // lanes' grains and sources, and one window.
    const auto H = static_cast<std::size_t>(longest_grain_half(analysis.marks, f));
    std::size_t scratch = 12 * (2 * H + 1);
    if (f != 1.0) {
        const std::size_t rows = grains_side_by_side() ? H + SincTable::BLOCK_ROWS : 2 * H;
        scratch = rows * SINC_TAPS + (SINC_LANES + 1) * (2 * H + 1) + SINC_LANES * 2 * (H + 64);
    }
    return output + scratch * sizeof(double);
}

int synthesize(const DecodedInput& input, const AnalysisResult& analysis, const NoteSettings& note,
               SampleBuffer& output, BulkArena* memory) {
    const long long length = note_buffer_length(note);
    SampleBuffer note_samples;
    if (length >= 0) note_samples = SampleBuffer::allocate_in(memory, static_cast<int>(length));
    if (note_samples.empty()) {
        log_error(MSG_OUTPUT_MEMORY, ERROR_PREFIX);
        note_failure_reason("out of memory for an output of %lld samples",
                            static_cast<long long>(note.required_length) + OUTPUT_TAIL);
        return -1;
    }
    const int L = note_samples.count();
    const SampleSpan out = note_samples.span();
    SectionScratch scratch = memory != nullptr ? SectionScratch(*memory) : SectionScratch();
    scratch.longest_half = longest_grain_half(analysis.marks, grain_scale(note));

    const NoteSections sections = note_sections(note, input.samples.count());
    // The stretches, when the note decoded only those of its grains.
    const SampleSource source = input.stretches.empty() ? SampleSource{read_only_span(input.samples)}
                                                        : SampleSource{SampleSpan{}, &input.stretches};
    const Section& a = sections.fixed;
    const double p1 = synthesize_section(source, analysis, note, a.S, a.Ls, out, a.Lo, 0.0, scratch);
    if (section_failed(p1, a)) {
        log_error(MSG_FIXED_PART_FAILED, ERROR_PREFIX);
        note_failure_reason("no pitch marks for the consonant part from %.0f ms (the input lasts %.0f ms)",
                            milliseconds(note.left_blank, input), milliseconds(input.samples.count(), input));
        return -1;
    }

    const Section& b = sections.vowel;
    const double p2 = synthesize_section(source, analysis, note, b.S, b.Ls, out, b.Lo, p1, scratch);
    if (section_failed(p2, b)) {
        log_error(MSG_VOWEL_PART_FAILED, ERROR_PREFIX);
        note_failure_reason("no pitch marks for the vowel part from %.0f ms (the input lasts %.0f ms)",
                            milliseconds(static_cast<double>(sections.vowel_start), input),
                            milliseconds(input.samples.count(), input));
        return -1;
    }

    one_pole_smooth(note.flag_H / 100.0, out, L);
    if (note.flag_g > 0) {
        // The grains were stretched by 10^(g/200): cut what lies above the
        // Nyquist frequency divided by that factor.
        const double cutoff = 0.5 * std::pow(10.0, -note.flag_g / 200.0);
        if (fir_lowpass(out, L, out, cutoff) != 0) {
            log_error(MSG_G_LOWPASS_FAILED, ERROR_PREFIX);
            note_failure_reason("the low-pass filter of the g flag failed (out of memory?)");
            return -1;
        }
    }
    normalize_and_clip(out, L, note.volume, note.flag_P);
    output = std::move(note_samples);
    return 0;
}

}  // namespace qern
