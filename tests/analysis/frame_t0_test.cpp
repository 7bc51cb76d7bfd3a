#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "analysis/frame_t0.h"
#include "analysis/scratch_signal.h"
#include "support/signals.h"

namespace qern {
namespace {

// An autocorrelation r(0..512) that is 0 except for r(0) = 100 and the
// given isolated peaks.
struct Correlation {
    std::array<double, 513> r{};
    Correlation() { r[0] = 100.0; }
    Correlation& peak(int lag, double value) {
        r[static_cast<std::size_t>(lag)] = value;
        return *this;
    }
};

struct Picked {
    int t0;
    std::array<std::int32_t, T0_CANDIDATE_COUNT> slots;
};

Picked pick(Correlation& c) {
    Picked p{};
    p.t0 = pick_t0_peak(c.r, p.slots);
    return p;
}

using Slots = std::array<std::int32_t, T0_CANDIDATE_COUNT>;

// The T0 picked from a correlation with the given (lag, value) peaks.
int t0_of(std::initializer_list<std::pair<int, double>> peaks) {
    Correlation c;
    for (const auto& [lag, value] : peaks) c.peak(lag, value);
    return pick(c).t0;
}

TEST(PickT0Peak, FirstBestMustExceedSeventyPerCentOfEnergy) {
    EXPECT_EQ(t0_of({{60, 70.0}}), 49);  // equal to 0.7 r(0): not enough
    EXPECT_EQ(t0_of({{60, std::nextafter(70.0, 100.0)}}), 60);
    // From lag 73 (49 + 24) on, the first best needs 1.05 x 0.7 r(0).
    EXPECT_EQ(t0_of({{73, 73.0}}), 49);
    EXPECT_EQ(t0_of({{72, 73.0}}), 72);
}

TEST(PickT0Peak, LaterPeaksReplaceTheBestOnlyWhenClearlyStronger) {
    // Within 23 lags after the best, any larger value replaces it; an equal
    // one does not.
    EXPECT_EQ(t0_of({{100, 80.0}, {123, 80.0}}), 100);
    EXPECT_EQ(t0_of({{100, 80.0}, {123, 80.5}}), 123);
    // 24 lags or more after it, only more than 1.05 times the best value.
    const double exactly = 1.05 * 80.0;
    EXPECT_EQ(t0_of({{100, 80.0}, {124, exactly}}), 100);
    EXPECT_EQ(t0_of({{100, 80.0}, {124, std::nextafter(exactly, 1000.0)}}), 124);
    EXPECT_EQ(t0_of({{100, 80.0}, {300, 83.0}}), 100);  // 1.0375 x: an octave error is not taken
}

TEST(PickT0Peak, PeakTestIsNonStrictAndIgnoresLag512) {
    // A plateau: every lag of it is a peak, the first is best.
    EXPECT_EQ(t0_of({{200, 90.0}, {201, 90.0}, {202, 90.0}}), 200);
    // r(512) only serves as the right neighbour of 511.
    EXPECT_EQ(t0_of({{512, 95.0}}), 49);
    EXPECT_EQ(t0_of({{511, 95.0}, {512, 95.0}}), 511);
    EXPECT_EQ(t0_of({{511, 95.0}, {512, 96.0}}), 49);
}

TEST(PickT0Peak, CandidatesAreStrongestFirstWithTiesInLagOrder) {
    Correlation a;
    a.peak(100, 30.0).peak(150, 50.0).peak(200, 30.0).peak(250, 20.0).peak(300, 40.0);
    const Picked p = pick(a);
    EXPECT_EQ(p.t0, 49);  // no peak passes 0.7 r(0): no T0, candidates kept
    // 250 (exactly 0.2 r(0)) is no candidate.
    EXPECT_EQ(p.slots, (Slots{150, 300, 100, 200, 0, 0, 0, 0, 0, 0}));
}

TEST(PickT0Peak, KeepsTheTenStrongest) {
    Correlation a;
    for (int k = 0; k < 12; ++k) a.peak(60 + 30 * k, 30.0 + k);
    const Picked p = pick(a);
    EXPECT_EQ(p.slots, (Slots{390, 360, 330, 300, 270, 240, 210, 180, 150, 120}));
}

TEST(PickT0Peak, NeighbourRuleDeletesWeakerAndSuppressesStrongerCandidates) {
    // 110 (60) lies within 23 lags after 100 (40): the weaker 100 is deleted.
    Correlation a;
    a.peak(100, 40.0).peak(110, 60.0);
    EXPECT_EQ(pick(a).slots, (Slots{110, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    // 100 (30) lies within 23 lags after the stronger 80 (40): it is written
    // back as 0 and never becomes a candidate.
    Correlation b;
    b.peak(80, 40.0).peak(100, 30.0);
    EXPECT_EQ(pick(b).slots, (Slots{80, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(b.r[100], 0.0);

    // 24 lags apart, both stay; 130 then only neighbours 124, which goes.
    Correlation c;
    c.peak(100, 40.0).peak(124, 30.0).peak(130, 50.0);
    EXPECT_EQ(pick(c).slots, (Slots{130, 100, 0, 0, 0, 0, 0, 0, 0, 0}));

    // A deleted candidate also gives up its place to later ones: after 110
    // replaced 100, a peak at 125 (45) is within reach of 110 only.
    Correlation d;
    d.peak(100, 40.0).peak(110, 50.0).peak(125, 45.0);
    EXPECT_EQ(pick(d).slots, (Slots{110, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(d.r[125], 0.0);
}

TEST(PickT0Peak, TheBestLagNeedNotBeACandidate) {
    // 100 (80) is the best; 110 (79) cannot replace it and is suppressed as
    // a candidate, while 105 (81) replaces both as best and as candidate.
    Correlation a;
    a.peak(100, 80.0).peak(110, 79.0);
    const Picked p = pick(a);
    EXPECT_EQ(p.t0, 100);
    EXPECT_EQ(p.slots, (Slots{100, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    // A peak that deletes the best's candidate but is not better by 5 %.
    Correlation b;
    b.peak(100, 80.0).peak(120, 81.0).peak(150, 82.0);
    // 120 < 100 + 24 replaces the best (81 > 80); 150 >= 120 + 24 needs 85.05.
    const Picked q = pick(b);
    EXPECT_EQ(q.t0, 120);
    EXPECT_EQ(q.slots, (Slots{150, 120, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(PickT0Peak, ZeroWrittenBackMakesTheNextLagAPeak) {
    // 87 (80) suppresses 110 (60), which is written back as 0. 111 (50) is a
    // peak only because of that 0, and 87 is no neighbour of it (111 >= 87 + 24).
    Correlation a;
    a.peak(87, 80.0).peak(110, 60.0).peak(111, 50.0);
    const Picked p = pick(a);
    EXPECT_EQ(p.slots, (Slots{87, 111, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(a.r[110], 0.0);
    EXPECT_EQ(a.r[111], 50.0);
}

// A pulse train of `height` every 100 samples. At 1800 Hz the 900 Hz
// low-pass has the centre tap 1 and keeps each pulse at exactly `height`.
std::vector<double> pulses(int count, double height) {
    std::vector<double> x(static_cast<std::size_t>(count), 0.0);
    for (int n = 0; n < count; n += 100) x[static_cast<std::size_t>(n)] = height;
    return x;
}

TEST(EstimateFrameT0, SilenceThresholdIsExclusiveAt163) {
    for (const double height : {163.0, -163.0}) {
        DecodedInput job = test::make_input(pulses(4096, height), 1800);
        std::vector<std::int32_t> track(4096 / 256 + 2);
        T0CandidateTable table;
        const int frames = estimate_raw_frame_t0(job.samples.span(), 4096, 1800, track, table);
        ASSERT_EQ(frames, 17);
        // Analysed: a multiple of the pulse spacing, with candidates.
        for (int i = 0; i < 17; ++i) {
            EXPECT_EQ(track[static_cast<std::size_t>(i)] % 100, 0) << i;
            EXPECT_EQ(table.frames[static_cast<std::size_t>(i)][0] % 100, 0) << i;
            EXPECT_NE(table.frames[static_cast<std::size_t>(i)][0], 0) << i;
        }
    }
    DecodedInput quiet = test::make_input(pulses(4096, 162.9), 1800);
    std::vector<std::int32_t> track(4096 / 256 + 2);
    T0CandidateTable table;
    ASSERT_EQ(estimate_raw_frame_t0(quiet.samples.span(), 4096, 1800, track, table), 17);
    for (int i = 0; i < 17; ++i) {
        EXPECT_EQ(track[static_cast<std::size_t>(i)], 49);
        EXPECT_EQ(table.frames[static_cast<std::size_t>(i)], Slots{});
    }
}

// A lent buffer needs zero margins only: whatever its samples held before,
// the low-pass overwrites them, and the track and candidates are those of
// a buffer of the analysis's own.
TEST(EstimateFrameT0, ALentBufferNeedsZeroMarginsOnly) {
    const int n = 20000;
    auto period = [](int i) { return i < 9000 ? 150.0 : i < 12000 ? 0.0 : 260.0; };
    DecodedInput job = test::make_input(test::harmonic_signal(n, period), 44100);
    std::vector<std::int32_t> own_track(n / 256 + 2);
    T0CandidateTable own;
    const int frames = estimate_raw_frame_t0(job.samples.span(), n, 44100, own_track, own);
    ASSERT_EQ(frames, frame_count_for(n));

    ScratchSignal lent = allocate_scratch_signal(n);
    ASSERT_FALSE(lent.empty());
    const SampleSpan work = lent.span();
    for (int i = 0; i < n; ++i) work[i] = i % 2 == 0 ? 1e9 : -std::numeric_limits<double>::infinity();
    std::vector<std::int32_t> track(n / 256 + 2);
    T0CandidateTable table;
    EXPECT_EQ(estimate_raw_frame_t0(job.samples.span(), n, 44100, track, table, work), frames);
    EXPECT_EQ(track, own_track);
    EXPECT_EQ(table.frames, own.frames);
}

TEST(ScratchSignal, MarginsAreZeroWhateverTheHeapHeld) {
    for (int round = 0; round < 3; ++round) {
        ScratchSignal s = allocate_scratch_signal(5000);
        ASSERT_FALSE(s.empty());
        const SampleSpan v = s.span();
        ASSERT_EQ(v.begin, -SAMPLE_MARGIN);
        ASSERT_EQ(v.end, 5000 + SAMPLE_MARGIN);
        for (int i = -SAMPLE_MARGIN; i < 0; ++i) ASSERT_EQ(v[i], 0.0) << round << " " << i;
        for (int i = 5000; i < 5000 + SAMPLE_MARGIN; ++i) ASSERT_EQ(v[i], 0.0) << round << " " << i;
        // Dirty every value before the memory goes back to the heap.
        for (int i = v.begin; i < v.end; ++i) v[i] = 3.5;
    }
    EXPECT_TRUE(allocate_scratch_signal(-1).empty());
    EXPECT_TRUE(allocate_scratch_signal(-1).span().empty());
    ScratchSignal none = allocate_scratch_signal(0);
    ASSERT_FALSE(none.empty());
    EXPECT_EQ(none.span().end, SAMPLE_MARGIN);
}

TEST(EstimateFrameT0, FrameCount) {
    EXPECT_EQ(frame_count_for(1), 2);
    EXPECT_EQ(frame_count_for(256), 2);
    EXPECT_EQ(frame_count_for(257), 3);
    EXPECT_EQ(frame_count_for(44100), 174);
    for (const int n : {1, 256, 257}) {
        DecodedInput job = test::make_input(std::vector<double>(static_cast<std::size_t>(n), 1000.0), 44100);
        std::vector<std::int32_t> track(static_cast<std::size_t>(n / 256 + 2), -1);
        EXPECT_EQ(estimate_frame_t0(job.samples.span(), n, 44100, track), frame_count_for(n));
        for (int i = 0; i < frame_count_for(n); ++i) EXPECT_EQ(track[static_cast<std::size_t>(i)], 49);
    }
}

TEST(EstimateFrameT0, FindsThePeriodOfAVoicedSignal) {
    // Five harmonics of period 200 at 44100 Hz; 0.5 s.
    const std::vector<double> x = test::harmonic_signal(22050, [](int) { return 200.0; });
    DecodedInput job = test::make_input(x, 44100);
    std::vector<std::int32_t> track(22050 / 256 + 2);
    const int frames = estimate_frame_t0(job.samples.span(), 22050, 44100, track);
    ASSERT_EQ(frames, 88);
    for (int i = 3; i < frames - 3; ++i) EXPECT_EQ(track[static_cast<std::size_t>(i)], 200) << i;
    // The last frame (290 real samples) is reached by the forward pass and
    // keeps a candidate that continues the period.
    EXPECT_NEAR(track[static_cast<std::size_t>(frames - 1)], 200, 10);
}

}  // namespace
}  // namespace qern
