// Preparing a voicebank: the .pmk cache of every WAV file under a folder,
// made on several threads, each file exactly as an analysis-only run of the
// resampler ("nul" output) would make it.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qern {

enum class PrepOutcome { ANALYSED, SKIPPED, FAILED };

// What became of one input file.
struct PrepResult {
    std::string path;      // UTF-8
    PrepOutcome outcome = PrepOutcome::FAILED;
    std::string messages;  // the errors and warnings logged for it, UTF-8
};

// The WAV files under `folder` (UTF-8), in all its subfolders: regular files
// whose names end in ".wav" or ".WAV" (the endings the resampler accepts),
// as UTF-8 paths in sorted order. Folders that cannot be read are passed
// over. Empty when `folder` is not a folder.
std::vector<std::string> find_wav_files(const std::string& folder);

// True when the cache beside `input_path` would be reused by a run without
// the R flag: it opens, starts with a version of PMK_MIN_REUSE_VERSION or
// more, and was not last modified before the input file.
bool has_current_pitch_mark_cache(const std::string& input_path);

// Prepares the cache of one input as an analysis-only run does: loads the
// samples and gets the cache (analysing when it is missing or outdated, or
// always with `redo`). A current cache is left as it is (SKIPPED) without
// loading the input. Either way the old-style cache name (input + ".pmk") is
// removed, as every run does. The messages of the calling thread are
// captured into the result and reach neither the log nor the consoles.
PrepResult prepare_pitch_mark_cache(const std::string& input_path, bool redo);

// Called on the calling thread of prepare_voicebank each time a file is
// done: files done so far, the total, and the result just finished.
using PrepProgress = std::function<void(int done, int total, const PrepResult& result)>;

// Prepares every file of `inputs` on `thread_count` threads (at least one,
// at most one per file); the results in the order of `inputs`. One failure
// does not stop the others.
std::vector<PrepResult> prepare_voicebank(const std::vector<std::string>& inputs, int thread_count,
                                          bool redo, const PrepProgress& progress);

}  // namespace qern
