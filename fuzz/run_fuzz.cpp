// The whole run on a fuzzed argument vector, over a few small WAV files,
// cache states and orders of the WAV's and the cache's modification times.
// Paths are chosen from a fixed set inside a private folder (the input
// itself and its cache among the outputs); everything else on the command
// line is fuzzed.
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/pitch_mark_file.h"
#include "base/error_log.h"
#include "base/numbers.h"
#include "driver/run.h"
#include "fuzz_support.h"
#include "wav/wav_reader.h"

using namespace qern;

namespace {

struct Input {
    std::string path;
    int sample_rate = 0;
    std::vector<std::uint8_t> warm_cache;  // the cache its analysis makes
};

std::vector<std::uint8_t> pcm(int count, int bits, int channels, int rate, int kind) {
    std::vector<std::uint8_t> out;
    const double top = std::ldexp(1.0, bits - 1) - 1.0;
    for (int i = 0; i < count; ++i) {
        const double x = 2.0 * 3.141592653589793 * 220.0 * i / rate;
        double v = kind == 0 ? top / 3.0 * (std::sin(x) + 0.5 * std::sin(2 * x)) : (i % 97 < 48 ? top : -top);
        for (int c = 0; c < channels; ++c) {
            auto value = static_cast<std::int64_t>(c == 0 ? v : -v / 2);
            if (bits == 8) value += 128;
            for (int b = 0; b < bits / 8; ++b) out.push_back(static_cast<std::uint8_t>(value >> (8 * b)));
        }
    }
    return out;
}

std::vector<std::uint8_t> read_all(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (const FileHandle f = open_file(path, "rb")) {
        int c;
        while ((c = std::fgetc(f.get())) != EOF) bytes.push_back(static_cast<std::uint8_t>(c));
    }
    return bytes;
}

bool exists(const std::string& path) { return std::filesystem::exists(path); }

struct Setup {
    std::string folder;
    std::string program;
    std::string log;
    std::vector<Input> inputs;
    std::array<std::string, 6> outputs;

    Setup() {
        folder = fuzz::scratch_folder();
        program = folder + "/qern.exe";
        log = folder + "/qern.log";
        auto add = [&](const std::string& name, int rate, const std::vector<std::uint8_t>& bytes) {
            inputs.push_back({folder + "/" + name, rate, {}});
            if (!bytes.empty()) fuzz::write_whole_file(inputs.back().path, bytes);
        };
        add("voice.wav", 44100, fuzz::wav_file(1, 16, 44100, pcm(1100, 16, 1, 44100, 0)));
        add("voice48.WAV", 48000, fuzz::wav_file(1, 16, 48000, pcm(1000, 16, 1, 48000, 0)));
        add("low8.wav", 22050, fuzz::wav_file(2, 8, 22050, pcm(800, 8, 2, 22050, 0)));
        add("square24.wav", 48000, fuzz::wav_file(2, 24, 48000, pcm(800, 24, 2, 48000, 1)));
        add("one32.wav", 44100, fuzz::wav_file(1, 32, 44100, pcm(1, 32, 1, 44100, 1)));
        {
            auto hostile = fuzz::wav_file(1, 16, 44100, pcm(1000, 16, 1, 44100, 0));
            hostile[40] = 0xf0, hostile[41] = 0xff, hostile[42] = 0xff, hostile[43] = 0x7f;
            add("hostile.wav", 44100, hostile);
        }
        add("garbage.wav", 44100, std::vector<std::uint8_t>(300, 0x5a));
        add("voice.txt", 44100, fuzz::wav_file(1, 16, 44100, pcm(600, 16, 1, 44100, 0)));
        add("missing.wav", 44100, {});
        outputs = {folder + "/out.wav", "nul", "NUL", folder + "/no/such/folder/out.wav",
                   folder + "/Nul", folder};
        // The cache each readable input's analysis makes, for the warm state.
        fuzz::quiet_log();
        for (Input& in : inputs) {
            DecodedInput input;
            const std::string cache = pitch_mark_cache_name(in.path);
            if (read_wav_file(in.path, input) != 0) continue;  // no cache for a broken input
            FileHandle f = open_pitch_mark_cache(input, in.path, 1);
            (void)f;
            in.warm_cache = read_all(cache);
            std::filesystem::remove(cache);
        }
    }
};

Setup& setup() {
    static Setup s;
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setup();
    return 0;
}

// Three control bytes: the input (an entry of the set above), the output
// (one of six names, or the input, its cache, or the input spelled with
// "./"), the cache state (bit 0: none; bit 1: a damaged one; bit 4: the one
// another input's analysis makes; else the input's own; bits 2-3: the
// cache's modification time as written, an hour before the WAV's, the same,
// an hour after); then the arguments
// from the note name on, each ended by a zero byte. Fewer than two of them
// give the banner.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Setup& s = setup();
    fuzz::ByteReader in{{data, size}};
    const Input& input = s.inputs[in.byte() % s.inputs.size()];
    const std::string cache = pitch_mark_cache_name(input.path);
    const std::size_t output_choice = in.byte() % (s.outputs.size() + 3);
    const std::string input_name = std::filesystem::path(input.path).filename().string();
    const std::string output = output_choice < s.outputs.size() ? s.outputs[output_choice]
                               : output_choice == s.outputs.size()     ? input.path
                               : output_choice == s.outputs.size() + 1 ? cache
                                                                       : s.folder + "/./" + input_name;
    const bool names_input_or_cache = output_choice >= s.outputs.size();
    const std::uint8_t state = in.byte();

    std::vector<std::string> args = {s.program, input.path, output};
    const auto rest = in.rest();
    std::string current;
    for (const std::uint8_t b : rest) {
        if (b == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(b);
        }
    }
    if (!current.empty()) args.push_back(current);
    if (args.size() > 16) return -1;
    // Notes of more than a second only take longer (and a few thousand
    // seconds take gigabytes, as asked).
    if (args.size() > 7 && read_leading_real(args[7].c_str()) * input.sample_rate / 1000.0 > 48000.0) {
        return -1;
    }

    std::error_code ignored;
    std::filesystem::remove(cache, ignored);
    if (state & 1) {
        // no cache
    } else if (state & 2) {
        fuzz::write_whole_file(cache, std::vector<std::uint8_t>{19, 0, 1, 2, 3, 4, 5, 6, 7, 8, 200, 0, 0, 0, 1});
    } else if (state & 16) {
        // As if the sample had been re-recorded since its analysis.
        fuzz::write_whole_file(cache, s.inputs[&input == &s.inputs[0] ? 1 : 0].warm_cache);
    } else if (!input.warm_cache.empty()) {
        fuzz::write_whole_file(cache, input.warm_cache);
    }
    const int time_order = (state >> 2) & 3;
    const bool had_cache = exists(cache);
    if (had_cache && time_order != 0 && exists(input.path)) {
        const auto wav_time = std::filesystem::last_write_time(input.path);
        std::filesystem::last_write_time(cache, wav_time + std::chrono::hours(time_order - 2));
    }
    const bool stale = had_cache && time_order == 1 && exists(input.path);
    const std::vector<std::uint8_t> cache_before = read_all(cache);
    const std::vector<std::uint8_t> input_before = read_all(input.path);

    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int status = run_resampler(static_cast<int>(args.size()), argv.data());
    clear_logged_messages();

    const bool banner = args.size() < 5;
    const bool writes_output = !banner && output != "nul" && output != "NUL";
    fuzz::check(status == 0 || status == 1, "exit status 0 or 1");
    fuzz::check(exists(s.log) == (status != 0), "the log stays exactly when the run failed");
    if (writes_output && output != s.folder && output_choice < s.outputs.size()) {
        fuzz::check(exists(output) == (status == 0), "an output file exactly when the run succeeded");
        if (status == 0) {
            const auto bytes = std::filesystem::file_size(output);
            fuzz::check(bytes >= 44 + 2 * OUTPUT_TAIL && bytes % 2 == 0, "a whole output file");
        }
    }
    if (exists(cache) && (state & 3) != 2) {
        fuzz::check(is_complete_pitch_mark_file(cache), "no partial cache");
    }
    if (names_input_or_cache && !banner) {
        fuzz::check(status == 1, "an output naming the input or its cache fails");
        fuzz::check(read_all(input.path) == input_before, "the input stays untouched");
        fuzz::check(read_all(cache) == cache_before, "the cache stays untouched");
    }
    // A run that got past the cache lookup analysed a stale cache again and
    // reused a current one unchanged (unless an R flag asked otherwise).
    const bool flag_R = args.size() > 5 && args[5].find('R') != std::string::npos;
    if (status == 0 && !banner && had_cache && !input.warm_cache.empty()) {
        if (stale) {
            fuzz::check(read_all(cache) == input.warm_cache, "a stale cache is replaced by a new analysis");
        } else if (!flag_R) {
            fuzz::check(read_all(cache) == cache_before, "a current cache is reused unchanged");
        }
    }
    // No temporary file is left behind in the folder.
    for (const auto& entry : std::filesystem::directory_iterator(s.folder)) {
        const std::string name = entry.path().filename().string();
        fuzz::check(name.find(".tmp") == std::string::npos, "no temporary file left");
    }

    std::filesystem::remove(s.log, ignored);
    std::filesystem::remove(s.outputs[0], ignored);
    std::filesystem::remove(s.outputs[4], ignored);
    // An input overwritten by mistake would change every later input.
    if (read_all(input.path) != input_before) fuzz::write_whole_file(input.path, input_before);
    return 0;
}
