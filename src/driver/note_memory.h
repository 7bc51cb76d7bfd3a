// Where one note's memory comes from. A note touches its decoded input, its
// output and the scratch of its grains; when that is enough memory that 2 MiB
// pages save more than they waste, it all comes from one arena whose first
// pages are huge (base/bulk_memory.h), else each buffer is taken on its own.
#pragma once

#include <cstddef>
#include <optional>

#include "base/bulk_memory.h"
#include "synthesis/synthesize.h"
#include "wav/wav_reader.h"

namespace qern {

// Before any sample of `input` is decoded: the note reads the samples
// `wanted` and touches `other_bytes` more (its output and scratch). When
// that is at least half a huge page (rounded to whole huge pages, at most
// half of one left unused), emplaces `arena` with the
// huge pages first and returns it, having moved the input's samples into it
// when the note reads most of the file (decoding then fills them there);
// else returns nullptr and changes nothing. `arena` must outlive `input`.
BulkArena* take_note_arena(std::optional<BulkArena>& arena, DecodedInput& input, SampleRange wanted,
                           std::size_t other_bytes);

// The same for a note that decodes only stretches of its input, of
// `stretch_samples` samples in all (SampleStretches): their bytes and
// `other_bytes` are what it touches.
BulkArena* take_note_arena(std::optional<BulkArena>& arena, std::size_t stretch_samples, std::size_t other_bytes);

}  // namespace qern
