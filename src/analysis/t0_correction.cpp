#include "analysis/t0_correction.h"

#include <algorithm>


namespace qern {

namespace {

// Shortest run that is kept voiced and may anchor a correction.
constexpr int MIN_ANCHOR_LENGTH = 5;
// A candidate c continues the reference period R when R / c lies strictly
// between 1/1.1 and 1.1.
constexpr double CONTINUE_LOW = 1.0 / 1.1;  // 0.9090909090909091
constexpr double CONTINUE_HIGH = 1.1;

// The first candidate of `slots`, in slot order, that continues `reference`;
// 0 when there is none (empty slots never qualify).
std::int32_t acceptable_candidate(int reference,
                                  const std::array<std::int32_t, T0_CANDIDATE_COUNT>& slots) {
    for (const std::int32_t c : slots) {
        if (c == 0) continue;
        const double q = static_cast<double>(reference) / static_cast<double>(c);
        if (q > CONTINUE_LOW && q < CONTINUE_HIGH) return c;
    }
    return 0;
}

}  // namespace

int find_run_end(int start, std::span<const std::int32_t> t0) {
    const int n = static_cast<int>(t0.size());
    if (start >= n) return 0;
    if (t0[start] == UNVOICED_T0) return start + 1;
    for (int k = start + 1; k <= n - 2; ++k) {
        const double previous = static_cast<double>(t0[k - 1]);
        const double current = static_cast<double>(t0[k]);
        if (t0[k] == UNVOICED_T0 || current > 1.1 * previous || current < 0.9 * previous) return k;
    }
    return std::max(n - 1, start + 1);
}

void correct_t0_track(std::span<std::int32_t> t0, const T0CandidateTable& candidates) {
    const int n = static_cast<int>(t0.size());
    if (n <= 0) return;
    const std::span<const std::int32_t> track = t0;
    const auto& slots = candidates.frames;

    // The current run is frames begin .. end-1; frames previous .. begin-1
    // are the region before it.
    int previous = 0;
    int begin = 0;
    int end = find_run_end(0, track);
    while (begin < n) {
        const int next_end = find_run_end(end, track);
        const int length = end - begin;

        if (length < MIN_ANCHOR_LENGTH) {
            std::fill(t0.begin() + begin, t0.begin() + end, UNVOICED_T0);
            previous = begin;
            begin = end;
            end = next_end;
            continue;
        }
        if (length < begin - previous || length < next_end - end) {
            previous = begin;
            begin = end;
            end = next_end;
            continue;
        }

        // An anchor: carry its period backwards as far as candidates allow.
        int j = begin;
        while (j > 0) {
            const std::int32_t c = acceptable_candidate(t0[j], slots[j - 1]);
            if (c == 0) break;
            t0[j - 1] = c;
            --j;
        }
        const int corrected_from = j;
        if (next_end == 0) return;

        // Then forwards, re-judging the runs it reaches.
        int run_start = end;
        int run_end = next_end;
        int p = end;
        for (;;) {
            if (p == run_end) {
                const int reach = find_run_end(run_start - 1, track);
                const int following = find_run_end(reach, track);
                if (following == 0) return;
                run_start = reach;
                run_end = following;
                if (reach - corrected_from < following - reach) {
                    previous = corrected_from;
                    begin = reach;
                    end = following;
                    break;
                }
                p = reach;
            }
            const std::int32_t c = acceptable_candidate(t0[p - 1], slots[p]);
            if (c == 0) {
                previous = corrected_from;
                begin = p;
                end = run_end;
                break;
            }
            t0[p] = c;
            ++p;
            if (p == n) return;
        }
    }
}

}  // namespace qern
