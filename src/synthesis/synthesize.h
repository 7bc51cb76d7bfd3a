// Synthesis of a whole note from the input samples and their pitch marks.
#pragma once

#include <cstddef>
#include <vector>

#include "analysis/sample_analysis.h"
#include "base/sample_buffer.h"
#include "wav/wav_reader.h"
#include "synthesis/note_settings.h"

namespace qern {

// Lays the fixed and the vowel section of `note` from the samples of `input`
// (its rate only names times in failure notes) and the marks of `analysis`, smooths (H), low-passes (g > 0) and
// normalises (P, volume) into a new buffer of required_length + OUTPUT_TAIL
// samples, which replaces `output`. The output and the working memory come
// from `memory` when given (which must then outlive `output`). Returns 0, or
// -1 after logging (`output` is then unchanged).
int synthesize(const DecodedInput& input, const AnalysisResult& analysis, const NoteSettings& note,
               SampleBuffer& output, BulkArena* memory = nullptr);

// About the memory a synthesis of `note` touches besides its input: the
// output and the scratch of its grains (sinc table, Hann windows, lanes).
std::size_t synthesis_working_bytes(const AnalysisResult& analysis, const NoteSettings& note);

// The input samples [first, last) a synthesis of `note` can read, for an
// input of `sample_count` samples: from the start of its first section to a
// grain's reach past the mark where the walk of each section ends. Samples
// outside it do not change the note.
SampleRange samples_the_note_reads(const AnalysisResult& analysis, const NoteSettings& note, int sample_count);

// The input samples a synthesis of `note` reads, exactly: the stretches its
// grains are cut from, in increasing order, disjoint and not touching,
// clamped to [0, sample_count). Samples outside them do not change the
// note. (When the list cannot be had, the one range of
// samples_the_note_reads.)
std::vector<SampleRange> samples_the_grains_read(const AnalysisResult& analysis, const NoteSettings& note,
                                                 int sample_count);

}  // namespace qern
