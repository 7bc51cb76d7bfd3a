// The run sequence of one resampler process.
#pragma once

#include <cstdio>
#include <string>

#include "analysis/sample_analysis.h"
#include "base/file_io.h"
#include "base/sample_buffer.h"
#include "synthesis/note_settings.h"
#include "wav/wav_reader.h"

namespace qern {

inline constexpr int VERSION_MAJOR = 0;
inline constexpr int VERSION_MINOR = 19;

// The steps after the command line, replaceable in tests.
struct RunStages {
    FileHandle (*open_pitch_mark_cache)(DecodedInput& input, const std::string& input_path,
                                        int flag_R);
    int (*read_pitch_mark_file)(std::FILE* stream, int sample_count, AnalysisResult& result);
    int (*synthesize)(const DecodedInput& input, const AnalysisResult& analysis,
                      const NoteSettings& note, SampleBuffer& output, BulkArena* memory);
};

// The analysis and synthesis of this program.
RunStages default_run_stages();

// Runs one note: banner for fewer than four arguments; otherwise the error log
// beside the program (argv[0]), the command line, the pitch-mark cache (the
// output name "nul" or "NUL" stops there), synthesis, the output file and the
// processing time. argv[0..2] are UTF-8 paths; later arguments are bytes in
// the platform's command-line encoding. Returns the exit status: 0 for
// success, the banner and an analysis-only run; 1 for a failure, whose log
// then stays on disk and is also copied to standard error.
int run_resampler(int argc, char** argv);
int run_resampler(int argc, char** argv, const RunStages& stages);

}  // namespace qern
