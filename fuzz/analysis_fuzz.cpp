// The pitch analysis on arbitrary audio: every input the WAV reader loads
// (of 50 samples or more) must give a cache file that the reader then accepts.
#include <cstdint>
#include <string>

#include "analysis/pitch_mark_file.h"
#include "audio_input.h"

using namespace qern;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::quiet_log();
    fuzz::ByteReader in{{data, size}};
    ResampleJob job;
    if (fuzz::load_audio(in, job) != 0) return 0;

    static const std::string cache = fuzz::scratch_folder() + "/analysis_wav.pmk";
    const int result = create_pitch_mark_file(job, cache);
    // Marks lie at least one unvoiced step (49 samples) apart, from 0 on: an
    // input of 49 samples or fewer has room for none, and its analysis
    // fails (logged). Every longer input must give marks.
    if (job.sample_count <= UNVOICED_T0) {
        fuzz::check(result != 0, "no marks in 49 samples or fewer");
        return 0;
    }
    fuzz::check(result == 0, "the analysis succeeds on any audio of 50 samples or more");

    const FileHandle file = open_file(cache, "rb");
    fuzz::check(file != nullptr, "the cache file exists");
    fuzz::check(read_pitch_mark_file(file.get(), job) == 0, "the reader accepts what the analysis wrote");
    fuzz::check(!job.marks.empty() && job.marks.back().period == 0, "terminated marks");
    for (std::size_t k = 0; k + 1 < job.marks.size(); ++k) {
        const PitchMarkEntry e = job.marks[k];
        fuzz::check(e.position >= 0 && e.position < job.sample_count + 254,
                    "marks within the input");
        if (k > 0) {
            const int distance = e.position - job.marks[k - 1].position;
            fuzz::check(distance >= 49 && distance <= 512, "marks 49..512 samples apart");
        }
    }
    return 0;
}
