#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "analysis/frame_t0.h"
#include "analysis/t0_correction.h"

namespace qern {
namespace {

using Track = std::vector<std::int32_t>;

// A candidate table of `frames` frames, all slots empty.
T0CandidateTable empty_table(std::size_t frames) {
    T0CandidateTable t;
    t.frames.assign(frames, {});
    return t;
}

void set_slots(T0CandidateTable& t, std::size_t frame, std::initializer_list<std::int32_t> lags) {
    std::size_t k = 0;
    for (const std::int32_t lag : lags) t.frames[frame][k++] = lag;
}

Track repeat(std::int32_t value, int count) { return Track(static_cast<std::size_t>(count), value); }

Track join(std::initializer_list<Track> parts) {
    Track all;
    for (const Track& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(FindRunEnd, ContinuesWithinTenPerCentInclusive) {
    EXPECT_EQ(find_run_end(0, Track{100, 110, 100, 100}), 3);  // 110 = 1.1 x 100 continues
    EXPECT_EQ(find_run_end(0, Track{100, 90, 99, 100}), 3);    // 90 = 0.9 x 100 continues
    EXPECT_EQ(find_run_end(0, Track{100, 111, 100, 100}), 1);
    EXPECT_EQ(find_run_end(0, Track{100, 89, 100, 100}), 1);
    EXPECT_EQ(find_run_end(0, Track{100, 100, 49, 100, 100}), 2);
}

TEST(FindRunEnd, UnvoicedFramesAndTheLastFrameStandAlone) {
    const Track t{49, 100, 100, 100, 100};
    EXPECT_EQ(find_run_end(0, t), 1);
    EXPECT_EQ(find_run_end(1, t), 4);  // frame 4, the last, is never part of a run
    EXPECT_EQ(find_run_end(3, t), 4);
    EXPECT_EQ(find_run_end(4, t), 5);
    EXPECT_EQ(find_run_end(5, t), 0);
    EXPECT_EQ(find_run_end(9, t), 0);
}

TEST(CorrectT0Track, ShortRunsBecomeUnvoiced) {
    Track t = join({repeat(100, 4), {49}, repeat(200, 3), {300}, repeat(49, 2)});
    correct_t0_track(t, empty_table(t.size()));
    EXPECT_EQ(t, repeat(49, static_cast<int>(t.size())));

    // Five frames or fewer: the last one stands alone, so no run reaches 5.
    Track five = repeat(100, 5);
    correct_t0_track(five, empty_table(5));
    EXPECT_EQ(five, repeat(49, 5));

    Track none;
    correct_t0_track(none, empty_table(0));
    EXPECT_TRUE(none.empty());
}

TEST(CorrectT0Track, RunOfFiveIsKeptAndFourIsNot) {
    Track five = join({{49}, repeat(100, 5), repeat(49, 2)});
    correct_t0_track(five, empty_table(five.size()));
    EXPECT_EQ(five, join({{49}, repeat(100, 5), repeat(49, 2)}));

    Track four = join({{49}, repeat(100, 4), repeat(49, 3)});
    correct_t0_track(four, empty_table(four.size()));
    EXPECT_EQ(four, repeat(49, 8));
}

TEST(CorrectT0Track, BackwardPassTakesTheFirstAcceptableCandidateInSlotOrder) {
    // Frame 0 stands alone (300 does not continue into 100), so it is first
    // set to 49; the anchor 1..5 then gives it a period from its candidates.
    Track t = join({{300}, repeat(100, 5), repeat(49, 2)});
    T0CandidateTable c = empty_table(t.size());
    set_slots(c, 0, {90, 110, 108, 99});  // 100/90 > 1.1, 100/110 = 1/1.1: both refused
    correct_t0_track(t, c);
    EXPECT_EQ(t[0], 108);  // the first acceptable one, not the closest (99)

    Track u = join({{300}, repeat(100, 5), repeat(49, 2)});
    T0CandidateTable d = empty_table(u.size());
    set_slots(d, 0, {90, 110, 91});
    correct_t0_track(u, d);
    EXPECT_EQ(u[0], 91);
}

TEST(CorrectT0Track, BackwardPassRevoicesAnEarlierShortRun) {
    Track t = join({repeat(300, 3), repeat(100, 7), {49}});
    T0CandidateTable c = empty_table(t.size());
    for (std::size_t f = 0; f < 3; ++f) set_slots(c, f, {300, 104});
    correct_t0_track(t, c);
    // Frame 2 continues 100, frame 1 continues 104, frame 0 continues 104.
    EXPECT_EQ(t, join({repeat(104, 3), repeat(100, 7), {49}}));
}

TEST(CorrectT0Track, TiesMakeAnAnchorButAShorterRunDoesNot) {
    // 100 x5, then 200 x6 (anchor when its successor has 6 frames too).
    Track t = join({repeat(100, 5), repeat(200, 6), repeat(400, 6), {49}});
    T0CandidateTable c = empty_table(t.size());
    set_slots(c, 4, {200});
    set_slots(c, 3, {199});
    correct_t0_track(t, c);
    EXPECT_EQ(t, join({repeat(100, 3), {199, 200}, repeat(200, 6), repeat(400, 6), {49}}));

    // With a successor of 7 frames the 200-run is no anchor: no correction.
    Track u = join({repeat(100, 5), repeat(200, 6), repeat(400, 7), {49}});
    T0CandidateTable d = empty_table(u.size());
    set_slots(d, 4, {200});
    set_slots(d, 3, {199});
    correct_t0_track(u, d);
    EXPECT_EQ(u, join({repeat(100, 5), repeat(200, 6), repeat(400, 7), {49}}));
}

TEST(CorrectT0Track, ForwardPassContinuesThroughTheLastFrame) {
    // Anchor 0..4; the octave jump 5..9 and the last frame are corrected.
    Track t = join({repeat(100, 5), repeat(200, 5), {49}});
    T0CandidateTable c = empty_table(t.size());
    for (std::size_t f = 5; f < t.size(); ++f) set_slots(c, f, {200, 101});
    correct_t0_track(t, c);
    EXPECT_EQ(t, join({repeat(100, 5), repeat(101, 6)}));

    // Without candidates the last frame stands alone and becomes 49.
    Track u = join({repeat(100, 6), {120}});
    correct_t0_track(u, empty_table(u.size()));
    EXPECT_EQ(u, join({repeat(100, 6), {49}}));
}

TEST(CorrectT0Track, ForwardPassHandsOverToALongerFollowingRun) {
    // Anchor 0..4 (100), a 2-frame octave error 5..6 (corrected to 100), then a
    // 300-run. When that run is longer than the corrected region 0..6 it is
    // judged as a run of its own (and kept); otherwise the pass goes on into it.
    auto run_with = [](int following) {
        Track t = join({repeat(100, 5), repeat(200, 2), repeat(300, following), repeat(49, 2)});
        T0CandidateTable c = empty_table(t.size());
        set_slots(c, 5, {100});
        set_slots(c, 6, {100});
        for (int f = 7; f < 7 + following; ++f) set_slots(c, static_cast<std::size_t>(f), {300, 100});
        correct_t0_track(t, c);
        return t;
    };
    EXPECT_EQ(run_with(8), join({repeat(100, 7), repeat(300, 8), repeat(49, 2)}));
    EXPECT_EQ(run_with(7), join({repeat(100, 14), repeat(49, 2)}));
}

TEST(CorrectT0Track, AForwardPassStopsAtAFrameWithoutCandidates) {
    // The uncorrected rest of a run becomes the current run: here 3 frames
    // of 200 after one corrected frame, too short, so 49.
    Track t = join({repeat(100, 5), repeat(200, 4), repeat(49, 2)});
    T0CandidateTable c = empty_table(t.size());
    set_slots(c, 5, {100});
    correct_t0_track(t, c);
    EXPECT_EQ(t, join({repeat(100, 6), repeat(49, 5)}));
}

}  // namespace
}  // namespace qern
