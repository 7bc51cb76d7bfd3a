// The run sequence of one resampler process.
#pragma once

#include <cstdio>
#include <string>

#include "driver/file_io.h"
#include "driver/resample_job.h"

namespace qern {

inline constexpr int VERSION_MAJOR = 0;
inline constexpr int VERSION_MINOR = 19;

// The banner printed for a command line of fewer than four arguments.
inline constexpr const char* BANNER_FORMAT =
    "QERN Ver%d.%d\n"
    "このプログラムは、「歌声合成ツール　ＵＴＡＵ」用に\n"
    "作られた歌声合成エンジンです。\n"
    "コマンドラインオプションの仕様は、resampler Ver10.42に準じます。\n";

// The steps after the command line, replaceable in tests.
struct RunStages {
    FileHandle (*open_pitch_mark_cache)(ResampleJob& job, const std::string& input_path,
                                        int flag_R);
    int (*read_pitch_mark_file)(std::FILE* stream, ResampleJob& job);
    int (*synthesize)(ResampleJob& job);
};

// The analysis and synthesis of this program.
RunStages default_run_stages();

// Runs one job: banner for fewer than four arguments; otherwise the error log
// beside the program (argv[0]), the command line, the pitch-mark cache (the
// output name "nul" or "NUL" stops there), synthesis, the output file and the
// processing time. argv[0..2] are UTF-8 paths; later arguments are bytes in
// the platform's command-line encoding. Returns the exit status: 0 for
// success, the banner and an analysis-only run; 1 for a failure, whose log
// then stays on disk and is also copied to standard error.
int run_resampler(int argc, char** argv);
int run_resampler(int argc, char** argv, const RunStages& stages);

}  // namespace qern
