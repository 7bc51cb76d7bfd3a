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

#include "analysis/frame_t0.h"
#include "analysis/pitch_mark_file.h"
#include "analysis/pitch_marks.h"
#include "analysis/t0_correction.h"
#include "driver/file_io.h"
#include "driver/resample_job.h"
#include "wav/wav_reader.h"

namespace {

using namespace qern;

bool write_track(const std::string& path, std::span<const std::int32_t> track) {
    FileHandle f = open_file(path, "w");
    if (!f) return false;
    for (const std::int32_t t : track) std::fprintf(f.get(), "%d\n", static_cast<int>(t));
    return std::fclose(f.release()) == 0;
}

bool write_marks(const std::string& path, const PitchMarkArrays& marks, int last) {
    FileHandle f = open_file(path, "w");
    if (!f) return false;
    std::fprintf(f.get(), "# entry0 %d %d\n", static_cast<int>(marks.positions[0]),
                 static_cast<int>(marks.periods[0]));
    for (int i = 1; i <= last; ++i) {
        std::fprintf(f.get(), "%d %d\n", static_cast<int>(marks.positions[i]),
                     static_cast<int>(marks.periods[i]));
    }
    return std::fclose(f.release()) == 0;
}

int run(const std::string& input, const std::string& out_dir) {
    ResampleJob job;
    if (read_wav_file(input, job) != 0) {
        std::fprintf(stderr, "cannot read %s\n", input.c_str());
        return 1;
    }
    const int count = job.sample_count;
    const auto started = std::chrono::steady_clock::now();

    std::vector<std::int32_t> frame_periods(static_cast<std::size_t>(count / FRAME_HOP + 2));
    T0CandidateTable candidates;
    const int frames = estimate_raw_frame_t0(job.samples.span(), count, job.sample_rate,
                                             frame_periods, candidates);
    if (frames == 0) {
        std::fprintf(stderr, "frame T0 estimation failed\n");
        return 1;
    }
    const std::span<std::int32_t> track(frame_periods.data(), static_cast<std::size_t>(frames));
    const std::vector<std::int32_t> raw(track.begin(), track.end());
    correct_t0_track(track, candidates);

    const std::size_t capacity = static_cast<std::size_t>(mark_capacity_for(count));
    std::vector<std::int32_t> periods(capacity), positions(capacity);
    const PitchMarkArrays marks{periods, positions};
    periods[0] = UNVOICED_T0;
    positions[0] = 0;
    const int last = place_pitch_marks(job, track, marks);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::fprintf(stderr, "%s: %d samples at %d Hz (%.3f s), %d frames, %d marks, %.3f s analysis\n",
                 input.c_str(), count, job.sample_rate,
                 static_cast<double>(count) / job.sample_rate, frames, last, seconds);

    bool ok = write_track(out_dir + "/t0_raw.txt", raw) && write_track(out_dir + "/t0.txt", track);
    if (last == 0) {
        std::fprintf(stderr, "pitch-mark placement failed\n");
        return 1;
    }
    ok = ok && write_marks(out_dir + "/marks.txt", marks, last);
    ok = ok && write_pitch_mark_file(out_dir + "/in_wav.pmk", periods, positions, last) == 0;
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
