// The .pmk reader on arbitrary bytes, against inputs of several lengths.
#include <array>
#include <cstdint>

#include "analysis/pitch_mark_file.h"
#include "fuzz_support.h"
#include "base/sample_buffer.h"

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
    // The reader checks the marks against the length alone; no samples needed.
    const int sample_count = (selector & 0x8000) ? 1 + (selector & 0x7fff) : INPUT_LENGTHS[selector & 7];
    const FileHandle file = fuzz::memory_file(in.rest());
    fuzz::check(file != nullptr, "memory stream opens");
    AnalysisResult analysis;
    if (read_pitch_mark_file(file.get(), sample_count, analysis) != 0) return 0;

    fuzz::check(analysis.marks.size() <= (in.rest().size() - PMK_HEADER_SIZE) / PMK_ENTRY_SIZE,
                "no more entries than the file holds");
    for (const PitchMarkEntry& e : analysis.marks) {
        fuzz::check(e.period >= 49 && e.period <= 511, "period within 49..511");
        const std::int64_t from = static_cast<std::int64_t>(e.position) - e.period;
        const std::int64_t to = static_cast<std::int64_t>(e.position) + e.period;
        fuzz::check(from >= -SAMPLE_MARGIN && to <= sample_count + SAMPLE_MARGIN,
                    "grain source inside the samples and their margins");
    }
    return 0;
}
