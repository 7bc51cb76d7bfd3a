#include "driver/run.h"

#include <chrono>
#include <exception>
#include <new>

#include "analysis/pitch_mark_file.h"
#include "driver/command_line.h"
#include "driver/error_log.h"
#include "driver/failure_summary.h"
#include "synthesis/synthesize.h"
#include "wav/wav_writer.h"

namespace qern {

namespace {

using Clock = std::chrono::steady_clock;

enum class RunResult { SYNTHESIZED, ANALYSED_ONLY, FAILED };

// False, after logging, when the output would replace the input (under any
// spelling of its name, or through a link) or the input's cache: the note
// would be written over the recording or its analysis.
bool output_spares_input(const ResampleJob& job) {
    if (job.output_path == "nul" || job.output_path == "NUL") return true;
    if (names_same_file(job.output_path, job.input_path)) {
        log_error("%s出力ファイル%sが入力音声ファイルと同じです\n", ERROR_PREFIX,
                  job.output_path.c_str());
        note_failure("output file \"%s\" is the input file \"%s\" (it would be overwritten)",
                     job.output_path.c_str(), job.input_path.c_str());
        return false;
    }
    const std::string cache = pitch_mark_cache_name(job.input_path);
    if (!cache.empty() && names_same_file(job.output_path, cache)) {
        log_error("%s出力ファイル%sがpmkファイルと同じです\n", ERROR_PREFIX, job.output_path.c_str());
        note_failure("output file \"%s\" is the cache file \"%s\" of the input (it would be overwritten)",
                     job.output_path.c_str(), cache.c_str());
        return false;
    }
    return true;
}

// Steps from the command line to the output file; the job lives, and is
// released, within.
RunResult run_job(int argc, char** argv, const RunStages& stages) {
    ResampleJob job;
    // Nothing is written before the output is known to spare the input.
    if (parse_arguments(argc, argv, job) != 0 || !output_spares_input(job)) {
        log_error("%sコマンドラインオプションの処理に失敗しました\n", ERROR_PREFIX);
        note_failure("invalid command line");
        return RunResult::FAILED;
    }
    FileHandle pitch_marks = stages.open_pitch_mark_cache(job, job.input_path, job.flag_R);
    if (!pitch_marks) {
        log_error("%spmkファイルの取得に失敗\n", ERROR_PREFIX);
        note_failure("cannot analyse input file \"%s\"", job.input_path.c_str());
        return RunResult::FAILED;
    }
    if (job.output_path == "nul" || job.output_path == "NUL") return RunResult::ANALYSED_ONLY;
    const int read_result = stages.read_pitch_mark_file(pitch_marks.get(), job);
    pitch_marks.reset();
    if (read_result != 0) {
        log_error("%sパラメータファイル読み込みに失敗しました\n", ERROR_PREFIX);
        note_failure("cannot use cache file \"%s\" (delete it or use the R flag)",
                     pitch_mark_cache_name(job.input_path).c_str());
        return RunResult::FAILED;
    }
    if (stages.synthesize(job) != 0) {
        log_error("%s音声の合成に失敗しました\n", ERROR_PREFIX);
        note_failure("cannot synthesise the note from input file \"%s\"", job.input_path.c_str());
        return RunResult::FAILED;
    }
    if (write_wav_file(job.output_path, job) != 0) {
        log_error("%sファイルの書き出しに失敗しました\n", ERROR_PREFIX);
        note_failure("cannot write output file \"%s\"", job.output_path.c_str());
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
        print_error_text("エラーログ出力用ファイルの作成に失敗\n");
    }
    RunResult result = RunResult::FAILED;
    try {
        result = run_job(argc, argv, stages);
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
        print_formatted("処理時間=%dmsec\n", static_cast<int>(elapsed.count()));
    }
    delete_error_log();
    return 0;
}

}  // namespace qern
