#include "driver/run.h"

#include <chrono>
#include <exception>
#include <new>

#include "analysis/pitch_mark_file.h"
#include "driver/command_line.h"
#include "driver/note_memory.h"
#include "base/error_log.h"
#include "base/failure_summary.h"
#include "synthesis/synthesize.h"
#include "wav/wav_writer.h"

namespace qern {

namespace {

using Clock = std::chrono::steady_clock;

enum class RunResult { SYNTHESIZED, ANALYSED_ONLY, FAILED };

// False, after logging, when the output would replace the input (under any
// spelling of its name, or through a link) or the input's cache: the note
// would be written over the recording or its analysis.
bool output_spares_input(const RunArguments& arguments) {
    const std::string& output = arguments.output_path;
    if (output == "nul" || output == "NUL") return true;
    if (names_same_file(output, arguments.input_path)) {
        log_error(MSG_OUTPUT_IS_INPUT, ERROR_PREFIX, output.c_str());
        note_failure("output file \"%s\" is the input file \"%s\" (it would be overwritten)",
                     output.c_str(), arguments.input_path.c_str());
        return false;
    }
    const std::string cache = pitch_mark_cache_name(arguments.input_path);
    if (!cache.empty() && names_same_file(output, cache)) {
        log_error(MSG_OUTPUT_IS_CACHE, ERROR_PREFIX, output.c_str());
        note_failure("output file \"%s\" is the cache file \"%s\" of the input (it would be overwritten)",
                     output.c_str(), cache.c_str());
        return false;
    }
    return true;
}

// Steps from the command line to the output file; each stage takes what it
// needs and gives back what it makes.
RunResult run_note(int argc, char** argv, const RunStages& stages) {
    // Declared first: it holds the samples below.
    std::optional<BulkArena> arena;
    RunArguments arguments;
    DecodedInput input;
    // Nothing is written before the output is known to spare the input.
    // The samples are decoded when it is known which of them are wanted: all
    // of them for an analysis, else the stretch the note's grains read.
    if (parse_arguments(argc, argv, arguments, input, InputReading::deferred) != 0 ||
        !output_spares_input(arguments)) {
        log_error(MSG_COMMAND_LINE_FAILED, ERROR_PREFIX);
        note_failure("invalid command line");
        return RunResult::FAILED;
    }
    FileHandle cache = stages.open_pitch_mark_cache(input, arguments.input_path, arguments.flag_R);
    if (!cache) {
        log_error(MSG_CACHE_NOT_OBTAINED, ERROR_PREFIX);
        note_failure("cannot analyse input file \"%s\"", arguments.input_path.c_str());
        return RunResult::FAILED;
    }
    if (arguments.output_path == "nul" || arguments.output_path == "NUL") return RunResult::ANALYSED_ONLY;
    AnalysisResult analysis;
    const int read_result = stages.read_pitch_mark_file(cache.get(), input.samples.count(), analysis);
    cache.reset();
    if (read_result != 0) {
        log_error(MSG_CACHE_NOT_READ, ERROR_PREFIX);
        note_failure("cannot use cache file \"%s\" (delete it or use the R flag)",
                     pitch_mark_cache_name(arguments.input_path).c_str());
        return RunResult::FAILED;
    }
    const std::size_t working = synthesis_working_bytes(analysis, arguments.note);
    BulkArena* memory = nullptr;
    if (input.source != nullptr) {
        // Only the stretches the grains are cut from: a note that runs
        // faster than its recording skips much of it.
        std::vector<SampleRange> ranges = samples_the_grains_read(analysis, arguments.note, input.samples.count());
        std::size_t samples = 0;
        for (const SampleRange& r : ranges) samples += static_cast<std::size_t>(r.last - r.first);
        memory = take_note_arena(arena, samples, working);
        decode_sample_stretches(input, std::move(ranges), memory);
    } else {
        // Decoded whole for the analysis.
        memory = take_note_arena(arena, input, SampleRange{}, working);
    }
    input.source.reset();  // the note reads nothing else: the input file is closed
    SampleBuffer output;
    if (stages.synthesize(input, analysis, arguments.note, output, memory) != 0) {
        log_error(MSG_SYNTHESIS_FAILED, ERROR_PREFIX);
        note_failure("cannot synthesise the note from input file \"%s\"", arguments.input_path.c_str());
        return RunResult::FAILED;
    }
    if (write_wav_file(arguments.output_path, output, input.sample_rate) != 0) {
        log_error(MSG_OUTPUT_NOT_WRITTEN, ERROR_PREFIX);
        note_failure("cannot write output file \"%s\"", arguments.output_path.c_str());
        return RunResult::FAILED;
    }
    return RunResult::SYNTHESIZED;
}

}  // namespace

RunStages default_run_stages() {
    return RunStages{&open_pitch_mark_cache, &read_pitch_mark_file, &synthesize};
}

int run_resampler(int argc, char** argv) { return run_resampler(argc, argv, default_run_stages()); }

int run_resampler(int argc, char** argv, const RunStages& stages) {
    const Clock::time_point run_start_time = Clock::now();
    if (argc < 5) {
        print_formatted(BANNER_FORMAT, VERSION_MAJOR, VERSION_MINOR);
        return 0;
    }
    // A log that cannot be created does not stop the run: its messages go to
    // standard error instead.
    if (!open_error_log(error_log_path_for(argv[0]))) {
        print_error_text(TEXT_LOG_NOT_CREATED);
    }
    RunResult result = RunResult::FAILED;
    try {
        result = run_note(argc, argv, stages);
    } catch (const std::bad_alloc&) {
        // Nothing in the run throws by design; should memory for a name or a
        // message run out, the run still ends as a failure with its log kept.
        note_failure("out of memory");
    } catch (const std::exception&) {
        note_failure("unexpected error");
    }
    if (result == RunResult::FAILED) {
        close_error_log();
        print_failure_line();
        return 1;
    }
    if (result == RunResult::SYNTHESIZED) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            Clock::now() - run_start_time);
        print_formatted(TEXT_PROCESSING_TIME, static_cast<int>(elapsed.count()));
    }
    delete_error_log();
    return 0;
}

}  // namespace qern
