#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include "analysis/frame_t0.h"
#include "analysis/pitch_mark_file.h"
#include "analysis/pitch_marks.h"
#include "support/files.h"
#include "support/console.h"
#include "support/signals.h"

namespace qern {
namespace {

constexpr double TWO_PI = 6.283185307179586;

SampleSpan view_of(std::vector<double>& v) { return SampleSpan{v.data(), 0, static_cast<int>(v.size())}; }

TEST(RisingZeroSearch, Forward) {
    // Index:           0    1    2    3    4    5    6    7
    std::vector<double> w{1.0, -1.0, 0.0, -2.0, -1.0, 3.0, -0.5, 0.5};
    const SampleSpan s = view_of(w);
    EXPECT_EQ(find_rising_zero_forward(s, 1, 8), 2);  // w[1] < 0 <= w[2]: 0 counts as rising
    EXPECT_EQ(find_rising_zero_forward(s, 3, 8), 5);
    EXPECT_EQ(find_rising_zero_forward(s, 3, 5), 5);  // none in [3, 5): returns `to`
    EXPECT_EQ(find_rising_zero_forward(s, 6, 8), 7);
    EXPECT_EQ(find_rising_zero_forward(s, 6, 6), 6);  // from >= to: from
    EXPECT_EQ(find_rising_zero_forward(s, 7, 4), 7);
    EXPECT_EQ(find_rising_zero_forward(s, 0, 8), 0);  // from < 1
    EXPECT_EQ(find_rising_zero_forward(s, -5, 8), 0);
}

TEST(RisingZeroSearch, Backward) {
    std::vector<double> w{1.0, -1.0, 0.0, -2.0, -1.0, 3.0, -0.5, 0.5};
    const SampleSpan s = view_of(w);
    EXPECT_EQ(find_rising_zero_backward(s, 7, 0), 7);
    EXPECT_EQ(find_rising_zero_backward(s, 6, 0), 5);
    EXPECT_EQ(find_rising_zero_backward(s, 4, 0), 2);
    EXPECT_EQ(find_rising_zero_backward(s, 4, 2), 2);  // the low end itself is excluded: none, low
    EXPECT_EQ(find_rising_zero_backward(s, 5, 5), 5);  // from <= low: from
    EXPECT_EQ(find_rising_zero_backward(s, 3, 6), 3);
}

// A sample buffer holding pulses of 1000 at `phase` + 200 k.
SampleBuffer pulse_buffer(int count, int phase, int spacing = 200) {
    SampleBuffer b = SampleBuffer::allocate(count);
    for (int n = phase; n < count; n += spacing) b[n] = 1000.0;
    return b;
}

// A sine of period `period` with its rising zero crossings at c0 + k period.
SampleBuffer sine_wave(int count, int period, int c0 = 0) {
    SampleBuffer b = SampleBuffer::allocate(count);
    for (int n = -SAMPLE_MARGIN; n < count + SAMPLE_MARGIN; ++n) {
        b[n] = std::sin(TWO_PI * (n - c0 + 0.5) / period);
    }
    return b;
}

TEST(PeriodAt, InterpolatesTheFrameT0AndSearchesTenLags) {
    // Pulse trains correlate only at their spacing, so the result shows which
    // lags were searched: the spacing when it is among them, else the low end.
    const int n = 8000;
    SampleBuffer p250 = pulse_buffer(n, 0, 250);
    SampleBuffer p300 = pulse_buffer(n, 0, 300);
    std::vector<std::int32_t> frames{200, 300, 300, 49, 49, 300, 49, 49};
    const MarkSources s250{p250.span(), n, SampleSpan{}, frames};
    const MarkSources s300{p300.span(), n, SampleSpan{}, frames};
    EXPECT_EQ(period_at(s250, -1), 0);
    // Halfway between frames 0 and 1: T = (128 x 200 + 128 x 300) / 256 = 250.
    EXPECT_EQ(period_at(s250, 128), 250);
    EXPECT_EQ(period_at(s300, 128), 245);
    // One sample after frame 0's centre: T = (255 x 200 + 300) / 256 = 200.39,
    // truncated to 200: 195..204 searched.
    EXPECT_EQ(period_at(s250, 1), 195);
    // Exactly on frame 1's centre (r = 0) T is frame 1's 300 alone.
    EXPECT_EQ(period_at(s300, 256), 300);
    // The search covers T - 5 .. T + 4: spacing 305 is out of reach of 300.
    SampleBuffer p305 = pulse_buffer(n, 0, 305);
    SampleBuffer p304 = pulse_buffer(n, 0, 304);
    EXPECT_EQ(period_at(MarkSources{p305.span(), n, SampleSpan{}, frames}, 512), 295);
    EXPECT_EQ(period_at(MarkSources{p304.span(), n, SampleSpan{}, frames}, 512), 304);
    // Between a voiced and an unvoiced frame: the voiced one, either side.
    EXPECT_EQ(period_at(s300, 2 * 256 + 200), 300);
    EXPECT_EQ(period_at(s300, 4 * 256 + 10), 300);
    // Both unvoiced: 49 without any search; past the last frame likewise.
    EXPECT_EQ(period_at(s300, 3 * 256 + 5), 49);
    EXPECT_EQ(period_at(s300, 7 * 256 + 100), 49);
    EXPECT_EQ(period_at(s300, 20 * 256), 49);
}

TEST(PeriodAt, NeverReturns511Or512) {
    const int n = 8000;
    SampleBuffer sine = sine_wave(n, 530);
    std::vector<std::int32_t> frames(10, 511);
    MarkSources s{sine.span(), n, SampleSpan{}, frames};
    EXPECT_EQ(period_at(s, 2000), 510);  // searches 506..510 only

    SampleBuffer silent = SampleBuffer::allocate(n);
    std::vector<std::int32_t> low(10, 50);
    MarkSources z{silent.span(), n, SampleSpan{}, low};
    EXPECT_EQ(period_at(z, 2000), 50);  // all equal: the lowest lag, 50..54 searched
}

// The fundamental wave computed plainly from its definition.
std::vector<double> reference_wave(SampleBuffer& x, int n, const std::vector<std::int32_t>& t0) {
    std::vector<double> w(static_cast<std::size_t>(n + 2 * SAMPLE_MARGIN), 0.0);
    auto at = [&](int p) -> double& { return w[static_cast<std::size_t>(p + SAMPLE_MARGIN)]; };
    const int m = static_cast<int>(t0.size());
    for (int i = 0; i < m; ++i) {
        const int t = t0[static_cast<std::size_t>(i)];
        if (t == 49) continue;
        std::vector<double> h(static_cast<std::size_t>(4 * t));
        const double s = TWO_PI / (4 * t);
        for (int k = 1; k < 4 * t; ++k) {
            h[static_cast<std::size_t>(k)] = std::cos((k * TWO_PI) / t) * (0.5 - 0.5 * std::cos(k * s));
        }
        std::vector<double> c(512);
        for (int u = -256; u < 256; ++u) {
            double sum = 0.0;
            for (int k = 1; k < 4 * t; ++k) sum += h[static_cast<std::size_t>(k)] * x[i * 256 + u + 2 * t - k];
            c[static_cast<std::size_t>(u + 256)] = sum;
        }
        for (int q = 1; q < 256; ++q) {
            const int p = i * 256 - 256 + q;
            if (i > 0 && t0[static_cast<std::size_t>(i - 1)] != 49) {
                at(p) = at(p) + q * c[static_cast<std::size_t>(q)] / 256;
            } else {
                at(p) = c[static_cast<std::size_t>(q)];
            }
        }
        for (int q = 0; q < 256; ++q) {
            const int p = i * 256 + q;
            const double v = c[static_cast<std::size_t>(256 + q)];
            at(p) = (i < m - 1 && t0[static_cast<std::size_t>(i + 1)] != 49) ? (256 - q) * v / 256 : v;
        }
    }
    return w;
}

TEST(FundamentalWave, EqualsTheFrameByFrameDefinitionExactly) {
    const int n = 3000;
    SampleBuffer x = SampleBuffer::allocate(n);
    std::uint32_t state = 12345;
    for (int i = -SAMPLE_MARGIN; i < n + SAMPLE_MARGIN; ++i) {  // margins filled, as after filtering
        state = state * 1664525u + 1013904223u;
        x[i] = static_cast<double>(state >> 8) / 65536.0 - 128.0;
    }
    // Kernel reuse (100, 100 and 300 x3), changes, unvoiced neighbours on
    // both sides, the longest and shortest periods, a voiced last frame.
    const std::vector<std::int32_t> t0{49, 100, 100, 120, 49, 300, 300, 300, 511, 50, 49, 200, 200};
    ASSERT_EQ(static_cast<int>(t0.size()), frame_count_for(n));
    SampleBuffer wave = SampleBuffer::allocate(n);
    for (int i = -SAMPLE_MARGIN; i < n + SAMPLE_MARGIN; ++i) wave[i] = 7.0;  // must be cleared
    ASSERT_EQ(compute_fundamental_wave(wave.span(), x.span(), n, t0), 0);
    const std::vector<double> expected = reference_wave(x, n, t0);
    for (int p = -1024; p < n + 1024; ++p) {
        ASSERT_EQ(wave[p], expected[static_cast<std::size_t>(p + SAMPLE_MARGIN)]) << p;
    }
    // Far from voiced frames the wave is 0; beside frame 4 (unvoiced) the
    // neighbours' own outputs stand at full weight.
    EXPECT_EQ(wave[-1024], 0.0);
    EXPECT_EQ(wave[-256], 0.0);
    EXPECT_NE(wave[3 * 256 + 255], 0.0);
}

TEST(FundamentalWave, APeriodOutsideTheRangeFailsBeforeTouchingTheWave) {
    const int n = 1000;
    SampleBuffer x = SampleBuffer::allocate(n);
    for (const std::int32_t bad : {48, 512, 0, -200}) {
        const std::vector<std::int32_t> t0{100, 100, bad, 100, 100};
        SampleBuffer wave = SampleBuffer::allocate(n);
        for (int i = -SAMPLE_MARGIN; i < n + SAMPLE_MARGIN; ++i) wave[i] = 7.0;
        EXPECT_EQ(compute_fundamental_wave(wave.span(), x.span(), n, t0), -1) << bad;
        for (int i = -SAMPLE_MARGIN; i < n + SAMPLE_MARGIN; ++i) ASSERT_EQ(wave[i], 7.0) << bad << " " << i;
    }
}

// Marks 0, 49, 98, ... up to and including `last`, as gap marks.
PitchMarkArrays gap_marks(std::vector<std::int32_t>& periods, std::vector<std::int32_t>& positions, int count) {
    for (int k = 0; k <= count; ++k) {
        positions[static_cast<std::size_t>(k)] = 49 * k;
        periods[static_cast<std::size_t>(k)] = 49;
    }
    return PitchMarkArrays{periods, positions};
}

struct RunFixture {
    static constexpr int N = 20000;
    SampleBuffer samples;
    SampleBuffer wave = sine_wave(N, 200);
    std::vector<std::int32_t> frames = std::vector<std::int32_t>(static_cast<std::size_t>(frame_count_for(N)), 49);
    std::vector<std::int32_t> periods = std::vector<std::int32_t>(static_cast<std::size_t>(mark_capacity_for(N)), 0);
    std::vector<std::int32_t> positions = periods;

    RunFixture(int pulse_phase, int first_frame, int end_frame) : samples(pulse_buffer(N, pulse_phase)) {
        for (int i = first_frame; i < end_frame; ++i) frames[static_cast<std::size_t>(i)] = 200;
    }
    MarkSources sources() { return MarkSources{samples.span(), N, wave.span(), frames}; }
};

TEST(PlaceRunMarks, JoinsTheRunToTheGapMarksBeforeIt) {
    // Voiced frames 10..40; the wave crosses zero upwards at multiples of 200
    // and the energy sits 37 samples later, so every mark moves by +37.
    RunFixture f(37, 10, 41);
    const PitchMarkArrays marks = gap_marks(f.periods, f.positions, 52);  // up to 2548
    const int last = place_run_marks(f.sources(), 10, 41, marks, 52);

    // The run starts one frame early at g = 2304, shifted to 2341: gap marks
    // after it or less than 50 before it (2303 and later) are dropped.
    ASSERT_EQ(last, 87);
    for (int k = 1; k <= 46; ++k) EXPECT_EQ(f.positions[static_cast<std::size_t>(k)], 49 * k);
    EXPECT_EQ(f.positions[47], 2341);
    EXPECT_EQ(f.periods[47], 200);
    // Then one mark per rising crossing, until the next period would reach
    // the centre of the run's last frame (10240).
    for (int k = 48; k <= 87; ++k) {
        EXPECT_EQ(f.positions[static_cast<std::size_t>(k)], 2437 + 200 * (k - 48)) << k;
        EXPECT_EQ(f.periods[static_cast<std::size_t>(k)], 200) << k;
    }
}

TEST(PlaceRunMarks, BridgesAGapOfMoreThan512WithUnvoicedMarks) {
    RunFixture f(37, 10, 41);
    f.positions[0] = 0;
    f.positions[1] = 100;  // the last mark so far, replaced by the run
    const PitchMarkArrays marks{f.periods, f.positions};
    const int last = place_run_marks(f.sources(), 10, 41, marks, 1);
    ASSERT_EQ(last, 39 + 40);
    for (int k = 1; k <= 38; ++k) {
        EXPECT_EQ(f.positions[static_cast<std::size_t>(k)], 49 * k);
        EXPECT_EQ(f.periods[static_cast<std::size_t>(k)], 49);
    }
    EXPECT_EQ(f.positions[39], 2341);  // 479 after 1862
}

TEST(PlaceRunMarks, ARunInTheFirstFramesReplacesTheStartEntry) {
    RunFixture f(37, 0, 31);
    const PitchMarkArrays marks = gap_marks(f.periods, f.positions, 0);
    const int last = place_run_marks(f.sources(), 0, 31, marks, 0);
    ASSERT_EQ(last, 38);
    EXPECT_EQ(f.positions[0], 37);
    EXPECT_EQ(f.periods[0], 200);
    EXPECT_EQ(f.positions[1], 237);
    EXPECT_EQ(f.positions[38], 7637);
}

TEST(PlaceRunMarks, ANegativeShiftAtTheStartMovesToTheNextCrossing) {
    RunFixture f(163, 0, 31);  // energy 37 before each crossing
    const PitchMarkArrays marks = gap_marks(f.periods, f.positions, 0);
    const int last = place_run_marks(f.sources(), 0, 31, marks, 0);
    ASSERT_GT(last, 0);
    EXPECT_EQ(f.positions[0], 163);  // g = 200, the first crossing after 0
    EXPECT_EQ(f.positions[1], 363);
}

TEST(PlaceRunMarks, RefusesAnEmptyRange) {
    RunFixture f(37, 10, 41);
    const PitchMarkArrays marks = gap_marks(f.periods, f.positions, 3);
    test::LogCapture log;
    EXPECT_EQ(place_run_marks(f.sources(), 10, 10, marks, 3), 0);
    EXPECT_EQ(log.text(), "エラー:有声区間の範囲指定が不正\n");
}

// The whole placement on a signal: frame T0, then marks. Returns n.
struct Analysis {
    std::vector<std::int32_t> track;
    std::vector<std::int32_t> periods;
    std::vector<std::int32_t> positions;
    int last = 0;
};

Analysis analyse(const std::vector<double>& signal, int rate) {
    DecodedInput job = test::make_input(signal, rate);
    const int n = job.samples.count();
    Analysis a;
    a.track.assign(static_cast<std::size_t>(n / 256 + 2), 0);
    a.periods.assign(static_cast<std::size_t>(mark_capacity_for(n)), 0);
    a.positions = a.periods;
    a.periods[0] = 49;
    const int frames = estimate_frame_t0(job.samples.span(), n, rate, a.track);
    if (frames == 0) return a;
    a.track.resize(static_cast<std::size_t>(frames));
    a.last = place_pitch_marks(job, a.track, PitchMarkArrays{a.periods, a.positions});
    return a;
}

// The marks pass the writer's checks.
void expect_writable(const Analysis& a) {
    test::TempDir dir;
    EXPECT_EQ(write_pitch_mark_file(dir.file("x.pmk"), a.periods, a.positions, a.last), 0);
}

TEST(PlacePitchMarks, WithoutVoicedFramesGapMarksEvery49) {
    const Analysis a = analyse(std::vector<double>(1000, 0.0), 44100);
    ASSERT_EQ(a.last, 20);
    for (int k = 0; k <= 20; ++k) EXPECT_EQ(a.positions[static_cast<std::size_t>(k)], 49 * k);
    for (int k = 1; k <= 20; ++k) EXPECT_EQ(a.periods[static_cast<std::size_t>(k)], 49);

    EXPECT_EQ(analyse(std::vector<double>(50, 0.0), 44100).last, 1);
    EXPECT_EQ(analyse(std::vector<double>(49, 0.0), 44100).last, 0);  // no mark: failure
}

TEST(PlacePitchMarks, VoicedMarksFollowTheLocalPeriod) {
    struct Case {
        const char* name;
        int count;
        std::function<double(int)> period;
        double tolerance;
        int min_voiced;
    };
    const Case cases[] = {
        {"steady 200", 22050, [](int) { return 200.0; }, 1.0, 100},
        // The period glides from 150 to 250 samples over 1 s.
        {"glide", 44100, [](int n) { return 150.0 + 100.0 * n / 44100.0; }, 3.0, 200},
    };
    for (const Case& c : cases) {
        const Analysis a = analyse(test::harmonic_signal(c.count, c.period), 44100);
        ASSERT_GT(a.last, c.min_voiced) << c.name;
        expect_writable(a);
        int voiced = 0;
        for (int k = 1; k < a.last; ++k) {
            const auto i = static_cast<std::size_t>(k);
            if (a.periods[i] == 49 || a.periods[i + 1] == 49) continue;
            ++voiced;
            const double local = c.period(a.positions[i]);
            EXPECT_NEAR(a.positions[i + 1] - a.positions[i], local, c.tolerance) << c.name << " " << k;
            EXPECT_NEAR(a.periods[i], local, c.tolerance) << c.name << " " << k;
        }
        EXPECT_GT(voiced, c.min_voiced) << c.name;
    }
}

TEST(PlacePitchMarks, VoicedUnvoicedVoiced) {
    // 0.3 s of period 180, 0.2 s of silence, 0.3 s of period 220.
    auto period = [](int n) { return n < 13230 ? 180.0 : n < 22050 ? 0.0 : 220.0; };
    const Analysis a = analyse(test::harmonic_signal(35280, period), 44100);
    ASSERT_GT(a.last, 100);
    expect_writable(a);
    int first = 0, gap = 0, second = 0;
    for (int k = 1; k < a.last; ++k) {
        const auto i = static_cast<std::size_t>(k);
        const int pos = a.positions[i];
        const int step = a.positions[i + 1] - pos;
        if (a.periods[i] == 49) {
            // Unvoiced marks only in the silence (and at the start and end).
            EXPECT_TRUE(pos < 1024 || (pos > 12200 && pos < 23100) || pos > 34000) << pos;
            if (a.periods[i + 1] == 49) {
                EXPECT_EQ(step, 49);
            }
            if (pos > 13500 && pos < 21500) ++gap;
        } else if (a.periods[i + 1] != 49 && ((pos > 1024 && pos < 12500) || (pos > 23000 && pos < 34000))) {
            // Away from the onsets, where a run's first marks start one frame
            // early and are not yet on the period grid.
            const double expected = pos < 18000 ? 180.0 : 220.0;
            EXPECT_NEAR(step, expected, 1.0) << pos;
            EXPECT_NEAR(a.periods[i], expected, 1.0) << pos;
            ++(pos < 18000 ? first : second);
        }
    }
    EXPECT_GT(first, 50);
    EXPECT_GT(gap, 120);
    EXPECT_GT(second, 40);
}

// The analysis can lend both steps one buffer: frame T0 takes it freshly
// zeroed, the placement as frame T0 left it. The results are the same as
// with memory of their own.
TEST(PlacePitchMarks, ABufferSharedWithTheFrameT0GivesTheSameMarks) {
    auto period = [](int n) { return n < 9000 ? 170.0 : n < 14000 ? 0.0 : 230.0; };
    const int n = 26000;
    const std::vector<double> signal = test::harmonic_signal(n, period);
    const Analysis own = analyse(signal, 44100);
    ASSERT_GT(own.last, 50);

    DecodedInput job = test::make_input(signal, 44100);
    SampleBuffer work = SampleBuffer::allocate(n);
    std::vector<std::int32_t> track(static_cast<std::size_t>(n / 256 + 2), 0);
    T0CandidateTable candidates;
    std::vector<std::int32_t> raw;
    const int frames = estimate_frame_t0(job.samples.span(), n, 44100, track, &candidates, &raw, work.span());
    ASSERT_EQ(frames, static_cast<int>(own.track.size()));
    track.resize(static_cast<std::size_t>(frames));
    EXPECT_EQ(track, own.track);
    std::vector<std::int32_t> periods(static_cast<std::size_t>(mark_capacity_for(n)), 0);
    std::vector<std::int32_t> positions = periods;
    periods[0] = 49;
    const int last = place_pitch_marks(job, track, PitchMarkArrays{periods, positions}, work.span());
    EXPECT_EQ(last, own.last);
    EXPECT_EQ(periods, own.periods);
    EXPECT_EQ(positions, own.positions);
}

TEST(PlacePitchMarks, ShortInputsStayInsideTheirBuffers) {
    // Run under the sanitizers: every read and write near both ends of short
    // inputs must stay inside the buffers.
    for (const int n : {1, 49, 50, 256, 1024, 8192}) {
        for (const bool loud : {false, true}) {
            std::vector<double> x = loud ? test::harmonic_signal(n, [](int) { return 120.0; }, 20000.0)
                                         : std::vector<double>(static_cast<std::size_t>(n), 0.0);
            const Analysis a = analyse(x, 44100);
            if (n <= 49) {
                EXPECT_EQ(a.last, 0) << n;
            } else {
                EXPECT_GE(a.last, 1) << n;
                expect_writable(a);
                EXPECT_LT(a.positions[static_cast<std::size_t>(a.last)], n + 254);
            }
        }
    }
}

}  // namespace
}  // namespace qern
