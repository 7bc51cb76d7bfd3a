#include "tools/voicebank_prep.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

#include "analysis/pitch_mark_file.h"
#include "base/error_log.h"
#include "base/file_io.h"
#include "tools/joined_threads.h"
#include "tools/utf8_paths.h"
#include "wav/wav_reader.h"

namespace qern {

namespace {

namespace fs = std::filesystem;

bool has_wav_ending(const std::string& name) {
    if (name.size() < 4) return false;
    const std::string ending = name.substr(name.size() - 4);
    return ending == ".wav" || ending == ".WAV";
}

}  // namespace

std::vector<std::string> find_wav_files(const std::string& folder) {
    std::vector<std::string> found;
    for (const fs::path& file : regular_files_under(path_of(folder))) {
        std::string path = utf8_of(file);
        if (has_wav_ending(path)) found.push_back(std::move(path));
    }
    std::sort(found.begin(), found.end());
    return found;
}

bool has_current_pitch_mark_cache(const std::string& input_path) {
    const std::string cache = pitch_mark_cache_name(input_path);
    if (cache.empty()) return false;
    const FileHandle file = open_file(cache, "rb");
    if (!file) return false;
    unsigned char version[2];
    if (std::fread(version, 1, 2, file.get()) != 2) return false;
    const auto value = static_cast<std::int16_t>(static_cast<std::uint16_t>(version[0] | (version[1] << 8)));
    return value >= PMK_MIN_REUSE_VERSION && !modified_before(cache, input_path);
}

PrepResult prepare_pitch_mark_cache(const std::string& input_path, bool redo) {
    PrepResult result;
    result.path = input_path;
    const MessageCapture capture;
    if (!redo && has_current_pitch_mark_cache(input_path)) {
        remove_file(input_path + ".pmk");
        result.outcome = PrepOutcome::SKIPPED;
        return result;
    }
    DecodedInput input;
    if (read_wav_file(input_path, input) != 0) {
        result.messages = capture.messages();
        return result;
    }
    const FileHandle cache = open_pitch_mark_cache(input, input_path, redo ? 1 : 0);
    if (!cache) {
        log_error(MSG_CACHE_NOT_OBTAINED, ERROR_PREFIX);
        result.messages = capture.messages();
        return result;
    }
    result.outcome = PrepOutcome::ANALYSED;
    result.messages = capture.messages();
    return result;
}

std::vector<PrepResult> prepare_voicebank(const std::vector<std::string>& inputs, int thread_count,
                                          bool redo, const PrepProgress& progress) {
    const int total = static_cast<int>(inputs.size());
    std::vector<PrepResult> results(inputs.size());
    if (total == 0) return results;
    const int workers = std::clamp(thread_count, 1, total);

    std::atomic<int> next{0};
    std::mutex mutex;
    std::condition_variable finished_one;
    std::vector<int> finished;  // indices done and not yet reported, under `mutex`

    auto work = [&] {
        for (int i = next++; i < total; i = next++) {
            PrepResult r = prepare_pitch_mark_cache(inputs[static_cast<std::size_t>(i)], redo);
            const std::lock_guard lock(mutex);
            results[static_cast<std::size_t>(i)] = std::move(r);
            finished.push_back(i);
            finished_one.notify_one();
        }
    };
    JoinedThreads pool;
    pool.threads.reserve(static_cast<std::size_t>(workers));
    for (int t = 0; t < workers; ++t) pool.threads.emplace_back(work);

    // Reports on this thread, in the order the files finish.
    for (int done = 0; done < total;) {
        std::vector<int> batch;
        {
            std::unique_lock lock(mutex);
            finished_one.wait(lock, [&] { return !finished.empty(); });
            batch.swap(finished);
        }
        for (const int i : batch) {
            ++done;
            // A reported slot is no longer written by its worker.
            if (progress) progress(done, total, results[static_cast<std::size_t>(i)]);
        }
    }
    return results;
}

}  // namespace qern
