// The note-name parser on arbitrary text, sample rates and t values.
#include <cmath>
#include <cstdint>
#include <string>

#include "driver/command_line.h"
#include "fuzz_support.h"

using namespace qern;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::quiet_log();
    fuzz::ByteReader in{{data, size}};
    // Any rate the WAV reader accepts (1 .. 2^31 - 1), any t value.
    std::uint32_t rate = in.u16() | (static_cast<std::uint32_t>(in.u16()) << 16);
    rate &= 0x7fffffffu;
    const auto t = static_cast<std::int32_t>(in.u16() | (static_cast<std::uint32_t>(in.u16()) << 16));
    const auto rest = in.rest();
    const std::string name(reinterpret_cast<const char*>(rest.data()), rest.size());

    const int sample_rate = rate == 0 ? 1 : static_cast<int>(rate);
    double period = 0.0;
    if (note_name_to_period(name.c_str(), sample_rate, t, period) == 0) {
        fuzz::check(std::isfinite(period) && period >= 1.0,
                    "an accepted name gives a finite period of at least one sample");
    }
    return 0;
}
