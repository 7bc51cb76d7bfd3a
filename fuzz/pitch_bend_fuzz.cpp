// The pitch-bend string decoder on arbitrary text.
#include <cmath>
#include <cstdint>
#include <string>

#include "driver/pitch_bend.h"
#include "fuzz_support.h"

using namespace qern;

namespace {

// The number of points `text` describes, by the decoder's stepping, capped
// at `cap` + 1.
long long point_count(const std::string& text, long long cap) {
    long long count = 0;
    std::size_t i = 0;
    while (i < text.size() && text[i] != '\0' && count <= cap) {
        if (text[i] != '#') {
            ++count;
            i += 2;
            continue;
        }
        long long n = 0;
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && n <= cap) {
            n = n * 10 + (text[i] - '0');
            ++i;
        }
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        count += n;
        i += 1;
    }
    return count > cap ? cap + 1 : count;
}

// Curves between this size and the decoder's limit take tens of
// milliseconds each and would slow the campaign a hundredfold; they are
// skipped here (the unit tests decode curves of the limit's size). Strings
// beyond the limit still run: they must be refused without allocating.
constexpr long long SKIPPED_FROM = 1 << 10;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::quiet_log();
    const std::string text(reinterpret_cast<const char*>(data), size);
    const long long points = point_count(text, MAX_BEND_POINTS);
    if (points > SKIPPED_FROM && points <= MAX_BEND_POINTS) return -1;
    PitchBend bend;
    const int result = decode_pitch_bend(text.c_str(), bend);
    if (result != 0) {
        fuzz::check(bend.bend_count == 0 && bend.bend_curve.empty(), "a failed decode leaves no curve");
        return 0;
    }
    fuzz::check(bend.bend_count >= 0 && bend.bend_count <= MAX_BEND_POINTS, "point count in range");
    fuzz::check(bend.bend_curve.size() == static_cast<std::size_t>(bend.bend_count) + 1,
                "curve holds bend_count + 1 factors");
    fuzz::check(bend.bend_curve.back() == 1.0, "curve ends with 1.0");
    // Offsets are 12-bit cents, -2048..2047: factors 2^(-2047/1200)..2^(2048/1200).
    const double low = std::pow(2.0, -2047.0 / 1200.0);
    const double high = std::pow(2.0, 2048.0 / 1200.0);
    for (const double factor : bend.bend_curve) {
        fuzz::check(factor >= low && factor <= high, "factor within the 12-bit range");
    }
    return 0;
}
