// The .pmk reader on arbitrary bytes, against inputs of several lengths.
#include <array>
#include <cstdint>

#include "analysis/pitch_mark_file.h"
#include "fuzz_support.h"
#include "wav/sample_buffer.h"

using namespace qern;

namespace {

constexpr std::array<int, 8> INPUT_LENGTHS = {1, 48, 512, 4096, 10000, 22050, 44100, 200000};

}  // namespace

// Two bytes choose the length of the input the cache belongs to (bit 15 set:
// 1 + the low 15 bits; else an entry of INPUT_LENGTHS); the rest is the file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::quiet_log();
    fuzz::ByteReader in{{data, size}};
    const std::uint16_t selector = in.u16();
    ResampleJob job;
    // The reader checks the marks against the length alone; no samples needed.
    job.sample_count = (selector & 0x8000) ? 1 + (selector & 0x7fff) : INPUT_LENGTHS[selector & 7];
    job.sample_rate = 44100;
    const FileHandle file = fuzz::memory_file(in.rest());
    fuzz::check(file != nullptr, "memory stream opens");
    if (read_pitch_mark_file(file.get(), job) != 0) return 0;

    fuzz::check(!job.marks.empty(), "marks hold at least the terminator");
    fuzz::check(job.marks.size() <= 1 + (in.rest().size() - PMK_HEADER_SIZE) / PMK_ENTRY_SIZE,
                "no more entries than the file holds");
    const PitchMarkEntry last = job.marks.back();
    fuzz::check(last.position == 0 && last.period == 0, "marks end with (0, 0)");
    for (std::size_t k = 0; k + 1 < job.marks.size(); ++k) {
        const PitchMarkEntry e = job.marks[k];
        fuzz::check(e.period >= 49 && e.period <= 511, "period within 49..511");
        const std::int64_t from = static_cast<std::int64_t>(e.position) - e.period;
        const std::int64_t to = static_cast<std::int64_t>(e.position) + e.period;
        fuzz::check(from >= -SAMPLE_MARGIN && to <= job.sample_count + SAMPLE_MARGIN,
                    "grain source inside the samples and their margins");
    }
    return 0;
}
