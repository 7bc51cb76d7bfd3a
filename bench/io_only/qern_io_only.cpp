// qern-io-only: the floor any note can reach. Takes qern's command line,
// reads the arguments and the input WAV's headers exactly as qern does,
// decodes the samples of the region the note uses (from the left blank to
// the right blank: all that a program that plays the region reads; qern
// decodes only the stretches its grains are cut from) into memory taken
// as qern takes a note's whole input (driver/note_memory.h), and writes a
// 16-bit WAV of the note's length (the requested length plus the tail, the
// region's samples where it has them, silence after) without any analysis
// or synthesis. scripts/bench.sh runs every note case paired against it.
//
//   qern-io-only INPUT.wav OUTPUT.wav NOTE VELOCITY [FLAGS ...]   (as qern)
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <utility>

#include "driver/command_line.h"
#include "driver/note_memory.h"
#include "wav/wav_writer.h"

int main(int argc, char** argv) {
    using namespace qern;
    if (argc < 5) {
        std::fprintf(stderr, "usage: qern-io-only INPUT.wav OUTPUT.wav NOTE VELOCITY [qern's other arguments]\n");
        return 2;
    }
    std::optional<BulkArena> arena;  // as qern's note: first, it may hold the samples
    RunArguments arguments;
    DecodedInput input;
    if (parse_arguments(argc, argv, arguments, input, InputReading::deferred) != 0) return 1;
    const NoteSettings& note = arguments.note;
    const int region_end = input.samples.count() - note.right_blank;
    const long long length = static_cast<long long>(arguments.note.required_length) + OUTPUT_TAIL;
    if (length > INT_MAX - 2 * SAMPLE_MARGIN) return 1;
    // Its memory as qern takes a note's: from huge pages when the input
    // read and the output are large enough.
    BulkArena* memory = take_note_arena(arena, input, SampleRange{note.left_blank, region_end},
                                        SampleBuffer::bytes_for(static_cast<std::size_t>(length)));
    decode_samples(input, note.left_blank, region_end);
    SampleBuffer output = SampleBuffer::allocate_in(memory, static_cast<int>(length));
    if (output.empty()) return 1;
    const int first = std::clamp(note.left_blank, 0, input.samples.count());
    const int copied = std::clamp(region_end - first, 0, output.count());
    std::copy(input.samples.data() + first, input.samples.data() + first + copied, output.data());
    return write_wav_file(arguments.output_path, output, input.sample_rate) == 0 ? 0 : 1;
}
