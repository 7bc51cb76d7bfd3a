// qern-io-only: the floor any note can reach. Takes qern's command line,
// reads the input WAV and the arguments exactly as qern does, and writes a
// 16-bit WAV of the note's length (the requested length plus the tail, the
// input's samples where it has them, silence after) without any analysis or
// synthesis. scripts/bench.sh runs every note case paired against it.
//
//   qern-io-only INPUT.wav OUTPUT.wav NOTE VELOCITY [FLAGS ...]   (as qern)
#include <algorithm>
#include <climits>
#include <cstdio>
#include <utility>

#include "driver/command_line.h"
#include "wav/wav_writer.h"

int main(int argc, char** argv) {
    using namespace qern;
    if (argc < 5) {
        std::fprintf(stderr, "usage: qern-io-only INPUT.wav OUTPUT.wav NOTE VELOCITY [qern's other arguments]\n");
        return 2;
    }
    RunArguments arguments;
    DecodedInput input;
    if (parse_arguments(argc, argv, arguments, input) != 0) return 1;
    const long long length = static_cast<long long>(arguments.note.required_length) + OUTPUT_TAIL;
    if (length > INT_MAX - 2 * SAMPLE_MARGIN) return 1;
    SampleBuffer output = SampleBuffer::allocate(static_cast<int>(length));
    if (output.empty()) return 1;
    const int copied = std::min(output.count(), input.samples.count());
    std::copy(input.samples.data(), input.samples.data() + copied, output.data());
    return write_wav_file(arguments.output_path, output, input.sample_rate) == 0 ? 0 : 1;
}
