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
    DecodedInput input;
    if (fuzz::load_audio(in, input) != 0) return 0;
    const int sample_count = input.samples.count();

    static const std::string cache = fuzz::scratch_folder() + "/analysis_wav.pmk";
    const int result = create_pitch_mark_file(input, cache);
    // Marks lie at least one unvoiced step (49 samples) apart, from 0 on: an
    // input of 49 samples or fewer has room for none, and its analysis
    // fails (logged). Every longer input must give marks.
    if (sample_count <= UNVOICED_T0) {
        fuzz::check(result != 0, "no marks in 49 samples or fewer");
        return 0;
    }
    fuzz::check(result == 0, "the analysis succeeds on any audio of 50 samples or more");

    const FileHandle file = open_file(cache, "rb");
    fuzz::check(file != nullptr, "the cache file exists");
    AnalysisResult analysis;
    fuzz::check(read_pitch_mark_file(file.get(), sample_count, analysis) == 0,
                "the reader accepts what the analysis wrote");
    fuzz::check(!analysis.marks.empty(), "marks");
    for (std::size_t k = 0; k < analysis.marks.size(); ++k) {
        const PitchMarkEntry e = analysis.marks[k];
        fuzz::check(e.position >= 0 && e.position < sample_count + 254,
                    "marks within the input");
        if (k > 0) {
            const int distance = e.position - analysis.marks[k - 1].position;
            fuzz::check(distance >= 49 && distance <= 512, "marks 49..512 samples apart");
        }
    }
    return 0;
}
