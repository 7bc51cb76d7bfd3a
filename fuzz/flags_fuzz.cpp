// The flag string and the number readers on arbitrary text.
#include <cmath>
#include <cstdint>
#include <string>

#include "driver/command_line.h"
#include "base/numbers.h"
#include "fuzz_support.h"

using namespace qern;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::quiet_log();
    const std::string text(reinterpret_cast<const char*>(data), size);
    const FlagValues flags = parse_flags(text.c_str());
    fuzz::check(flags.flag_g >= -100 && flags.flag_g <= 100, "g clamped to -100..100");
    fuzz::check(flags.flag_P >= 0 && flags.flag_P <= 100, "P clamped to 0..100");
    fuzz::check(flags.flag_R == 0 || flags.flag_R == 1, "R is 0 or 1");

    const double real = read_leading_real(text.c_str());
    fuzz::check(!std::isnan(real), "a leading real is never NaN");
    (void)read_leading_int(text.c_str());
    (void)truncate_to_int(real);
    (void)truncate_to_int(real * 44100.0 / 1000.0);
    return 0;
}
