#include "driver/pitch_bend.h"

#include <cmath>
#include <cstring>
#include <new>

#include "base/error_log.h"

namespace qern {

namespace {

// The Base64 value of a letter, or -1 outside the alphabet.
int base64_value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

int decode_letter(char c) {
    const int value = base64_value(c);
    if (value >= 0) return value;
    log_error(MSG_INVALID_BEND_LETTER, ERROR_PREFIX);
    return 0;
}

// One step of the walk over the string: a pair (one point) or a run "#n#"
// (n points, capped above MAX_BEND_POINTS). `next` is where the following
// item starts; a run consumes the character after its digits, whatever it is.
struct BendItem {
    bool is_run = false;
    long long points = 0;
    std::size_t next = 0;
};

BendItem read_item(const char* text, std::size_t i) {
    if (text[i] != '#') return BendItem{false, 1, i + 2};
    std::size_t j = i + 1;
    long long n = 0;
    for (; text[j] >= '0' && text[j] <= '9'; ++j) {
        n = n * 10 + (text[j] - '0');
        if (n > MAX_BEND_POINTS) n = MAX_BEND_POINTS + 1;
    }
    return BendItem{true, n, j + 1};
}

}  // namespace

int decode_bend_pair(const char* pair) {
    const int high = decode_letter(pair[0]);
    const int low = decode_letter(pair[0] == '\0' ? '\0' : pair[1]);
    const int value = high * 64 + low;
    return value > 2047 ? value - 4096 : value;
}

int decode_pitch_bend(const char* text, PitchBend& bend) {
    const std::size_t length = std::strlen(text);

    long long count = 0;
    for (std::size_t i = 0; i < length;) {
        const BendItem item = read_item(text, i);
        count += item.points;
        if (count > MAX_BEND_POINTS) break;
        i = item.next;
    }

    bend.bend_curve.clear();
    bend.bend_count = 0;
    bool allocated = false;
    if (count <= MAX_BEND_POINTS) {
        try {
            bend.bend_curve.reserve(static_cast<std::size_t>(count) + 1);
            allocated = true;
        } catch (const std::bad_alloc&) {
        }
    }
    if (!allocated) {
        log_error(MSG_BEND_MEMORY, ERROR_PREFIX);
        return -1;
    }

    int last = 0;
    for (std::size_t i = 0; i < length;) {
        const BendItem item = read_item(text, i);
        if (!item.is_run) last = decode_bend_pair(text + i);
        bend.bend_curve.insert(bend.bend_curve.end(), static_cast<std::size_t>(item.points),
                              static_cast<double>(last));
        i = item.next;
    }
    for (double& cents : bend.bend_curve) cents = std::pow(2.0, cents / -1200.0);
    bend.bend_curve.push_back(1.0);
    bend.bend_count = static_cast<int>(count);
    return 0;
}

}  // namespace qern
