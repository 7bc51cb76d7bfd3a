#include "driver/note_memory.h"

#include <utility>

namespace qern {

namespace {

// An arena for a note that touches `touched` bytes, or nullptr when small
// pages serve it better.
BulkArena* take_arena(std::optional<BulkArena>& arena, std::size_t touched) {
    // Half a huge page in small pages costs several times a whole huge
    // page's time (each small page is mapped on its own), so a huge page
    // is taken from half of one on.
    const std::size_t huge = (touched + HUGE_PAGE_BYTES / 2) / HUGE_PAGE_BYTES * HUGE_PAGE_BYTES;
    if (huge == 0) return nullptr;
    arena.emplace(touched + NOTE_SCRATCH_BYTES, huge);
    return &*arena;
}

}  // namespace

BulkArena* take_note_arena(std::optional<BulkArena>& arena, std::size_t stretch_samples, std::size_t other_bytes) {
    return take_arena(arena, SampleStretches::bytes_for(stretch_samples) + other_bytes);
}

BulkArena* take_note_arena(std::optional<BulkArena>& arena, DecodedInput& input, SampleRange wanted,
                           std::size_t other_bytes) {
    const int count = input.samples.count();
    // The input buffer holds the whole file: it is worth moving when most of
    // it is read (and nothing is decoded yet).
    const bool with_input = input.source != nullptr &&
                            static_cast<long long>(wanted.last - wanted.first) * 4 >= static_cast<long long>(count) * 3;
    const std::size_t touched = (with_input ? SampleBuffer::bytes_for(static_cast<std::size_t>(count)) : 0) + other_bytes;
    if (take_arena(arena, touched) == nullptr) return nullptr;
    if (with_input) {
        // Zeros, as the buffer it replaces.
        SampleBuffer samples = SampleBuffer::allocate_in(&*arena, count, Presence::on_touch);
        if (!samples.empty()) input.samples = std::move(samples);
    }
    return &*arena;
}

}  // namespace qern
