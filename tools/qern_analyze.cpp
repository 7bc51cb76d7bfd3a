// Developer tool: analyses one WAV file as the .pmk creation does and dumps
// the intermediate tracks as text, for comparison with reference results.
//
//   qern-analyze INPUT.wav OUTPUT_DIR
//
// writes OUTPUT_DIR/t0_raw.txt (frame T0 before the track correction, one per
// line), t0.txt (after it), marks.txt (the start entry as "# entry0 POS
// PERIOD", then one "POS PERIOD" line per mark 1..n) and in_wav.pmk, and
// prints the analysis time to standard error.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "analysis/pitch_mark_file.h"
#include "analysis/sample_analysis.h"
#include "base/file_io.h"
#include "wav/wav_reader.h"

namespace {

using namespace qern;

bool write_track(const std::string& path, std::span<const std::int32_t> track) {
    FileHandle f = open_file(path, "w");
    if (!f) return false;
    for (const std::int32_t t : track) std::fprintf(f.get(), "%d\n", static_cast<int>(t));
    return std::fclose(f.release()) == 0;
}

bool write_marks(const std::string& path, const AnalysisTrace& trace) {
    FileHandle f = open_file(path, "w");
    if (!f) return false;
    std::fprintf(f.get(), "# entry0 %d %d\n", static_cast<int>(trace.mark_positions[0]),
                 static_cast<int>(trace.mark_periods[0]));
    for (std::size_t i = 1; i < trace.mark_positions.size(); ++i) {
        std::fprintf(f.get(), "%d %d\n", static_cast<int>(trace.mark_positions[i]),
                     static_cast<int>(trace.mark_periods[i]));
    }
    return std::fclose(f.release()) == 0;
}

int run(const std::string& input_path, const std::string& out_dir) {
    DecodedInput input;
    if (read_wav_file(input_path, input) != 0) {
        std::fprintf(stderr, "cannot read %s\n", input_path.c_str());
        return 1;
    }
    const int count = input.samples.count();
    const auto started = std::chrono::steady_clock::now();
    AnalysisResult result;
    AnalysisTrace trace;
    const int analysed = analyse_sample(input, result, &trace);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (trace.raw_frame_periods.empty()) {
        std::fprintf(stderr, "frame T0 estimation failed\n");
        return 1;
    }
    const int last = static_cast<int>(result.marks.size());
    std::fprintf(stderr, "%s: %d samples at %d Hz (%.3f s), %d frames, %d marks, %.3f s analysis\n",
                 input_path.c_str(), count, input.sample_rate,
                 static_cast<double>(count) / input.sample_rate,
                 static_cast<int>(trace.frame_periods.size()), last, seconds);

    bool ok = write_track(out_dir + "/t0_raw.txt", trace.raw_frame_periods) &&
              write_track(out_dir + "/t0.txt", trace.frame_periods);
    if (analysed != 0) {
        std::fprintf(stderr, "pitch-mark placement failed\n");
        return 1;
    }
    ok = ok && write_marks(out_dir + "/marks.txt", trace);
    ok = ok && write_pitch_mark_file(out_dir + "/in_wav.pmk", trace.mark_periods,
                                     trace.mark_positions, last) == 0;
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: qern-analyze INPUT.wav OUTPUT_DIR\n");
        return 2;
    }
    return run(argv[1], argv[2]);
}
