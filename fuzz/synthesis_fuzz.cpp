// The synthesis on arbitrary audio, with fuzzed note parameters, and with
// pitch marks either from the analysis of that audio or from a fuzzed cache
// file that the cache reader has accepted.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "analysis/pitch_mark_file.h"
#include "audio_input.h"
#include "driver/command_line.h"
#include "synthesis/synthesize.h"
#include "wav/wav_writer.h"

using namespace qern;

namespace {

std::string format(const char* f, double value) {
    char text[64];
    std::snprintf(text, sizeof text, f, value);
    return text;
}

std::string integer(int value) { return std::to_string(value); }

// Milliseconds from a signed 16-bit field, in 32nds: -1024 to 1023.97.
std::string milliseconds(std::uint16_t raw) {
    return format("%.5f", static_cast<std::int16_t>(raw) / 32.0);
}

}  // namespace

// Layout: mode (bit 0: marks from a fuzzed cache), note number, velocity
// (int16), g, H, P, t (bytes), left blank, length, consonant, right blank
// (int16, 32nds of a millisecond), volume, modulation, tempo (0: the bend
// string as the old form of argument 12), bend string length; the bend
// string; with mode bit 0 a 16-bit length and the cache file; then the audio
// (see audio_input.h).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::quiet_log();
    fuzz::ByteReader in{{data, size}};
    const std::uint8_t mode = in.byte();
    const std::uint8_t note = in.byte();
    const auto velocity = static_cast<std::int16_t>(in.u16());
    const auto g = static_cast<std::int8_t>(in.byte());
    const auto H = static_cast<std::int8_t>(in.byte());
    const std::uint8_t P = in.byte();
    const auto t = static_cast<std::int8_t>(in.byte());
    const std::uint16_t left = in.u16(), length = in.u16(), consonant = in.u16(), right = in.u16();
    const std::uint8_t volume = in.byte();
    const auto modulation = static_cast<std::int8_t>(in.byte());
    const std::uint8_t tempo = in.byte();
    std::string bend;
    for (int n = in.byte(); n > 0; --n) bend += static_cast<char>(in.byte());
    std::vector<std::uint8_t> cache_bytes;
    if (mode & 1) {
        for (int n = in.u16(); n > 0; --n) cache_bytes.push_back(in.byte());
    }

    DecodedInput loaded;
    if (fuzz::load_audio(in, loaded) != 0) return 0;
    // The command line loads the input from disk: write it there once more.
    const std::string& folder = fuzz::scratch_folder();
    const std::string input = folder + "/synthesis.wav";
    {
        std::vector<std::uint8_t> pcm(static_cast<std::size_t>(loaded.samples.count()) * 2);
        const double* s = loaded.samples.data();
        for (int i = 0; i < loaded.samples.count(); ++i) {
            // 16-bit copy of the loaded values (24/32-bit values keep their
            // low bits, which is noise enough); the reader's decoding of
            // every depth was exercised by load_audio.
            const auto v = static_cast<std::uint16_t>(static_cast<std::int64_t>(s[i]));
            pcm[2 * i] = static_cast<std::uint8_t>(v);
            pcm[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
        }
        fuzz::write_whole_file(input, fuzz::wav_file(1, 16, loaded.sample_rate, pcm));
    }

    std::vector<std::string> args = {
        folder + "/qern.exe", input, folder + "/out.wav", integer(note), integer(velocity),
        "g" + integer(g) + "H" + integer(H) + "P" + integer(P) + "t" + integer(t),
        milliseconds(left), milliseconds(length), milliseconds(consonant), milliseconds(right),
        integer(volume), integer(modulation)};
    if (tempo == 0) {
        args.push_back(bend);
    } else {
        args.push_back("!" + integer(tempo));
        args.push_back(bend);
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    RunArguments arguments;
    DecodedInput job_input;
    if (parse_arguments(static_cast<int>(args.size()), argv.data(), arguments, job_input) != 0) return 0;

    FileHandle marks_file;
    if (mode & 1) {
        marks_file = fuzz::memory_file(cache_bytes);
    } else {
        const std::string cache = folder + "/synthesis_wav.pmk";
        if (create_pitch_mark_file(job_input, cache) != 0) return 0;
        marks_file = open_file(cache, "rb");
    }
    fuzz::check(marks_file != nullptr, "the cache opens");
    AnalysisResult analysis;
    if (read_pitch_mark_file(marks_file.get(), job_input.samples.count(), analysis) != 0) return 0;
    marks_file.reset();

    const int required = arguments.note.required_length;
    SampleBuffer rendered;
    if (synthesize(job_input, analysis, arguments.note, rendered) != 0) return 0;
    fuzz::check(rendered.count() == required + OUTPUT_TAIL, "output of required_length + 1024 samples");
    const double* out = rendered.data();
    for (int i = 0; i < rendered.count(); ++i) {
        fuzz::check(out[i] >= -32768.0 && out[i] <= 32767.0, "output within 16 bits");
    }
    const std::string output = folder + "/out.wav";
    fuzz::check(write_wav_file(output, rendered, job_input.sample_rate) == 0, "the output is written");
    const FileHandle written = open_file(output, "rb");
    fuzz::check(written && std::fseek(written.get(), 0, SEEK_END) == 0 &&
                    std::ftell(written.get()) == 44 + 2L * rendered.count(),
                "the output file holds every sample");
    return 0;
}
