#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "dsp/kernels.h"
#include "base/sample_buffer.h"

namespace qern {
namespace {

constexpr double PI = 3.141592653589793;
constexpr double TWO_PI = 6.283185307179586;

double sinc(double d) { return d == 0.0 ? 1.0 : std::sin(d) / d; }

// A buffer with margins whose samples (margins included) are uniform in
// [-scale, scale).
SampleBuffer random_buffer(int count, unsigned seed, double scale = 1.0) {
    SampleBuffer b = SampleBuffer::allocate(count);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> dist(-scale, scale);
    for (int i = -SAMPLE_MARGIN; i < count + SAMPLE_MARGIN; ++i) b[i] = dist(rng);
    return b;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// ---- one_pole_smooth ------------------------------------------------------

TEST(OnePoleSmooth, NonPositiveCoefficientOrShortInputLeavesSamples) {
    SampleBuffer b = random_buffer(16, 1);
    const std::vector<double> before(b.data(), b.data() + 16);
    one_pole_smooth(0.0, b.span(), 16);
    one_pole_smooth(-0.5, b.span(), 16);
    one_pole_smooth(0.7, b.span(), 1);
    one_pole_smooth(0.7, b.span(), 0);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(b[i], before[i]) << i;
}

TEST(OnePoleSmooth, CoefficientOneOrAboveCopiesTheFirstSample) {
    for (double a : {1.0, 3.5}) {
        SampleBuffer b = random_buffer(20, 2);
        const double first = b[0];
        const double margin = b[20];
        one_pole_smooth(a, b.span(), 20);
        for (int i = 0; i < 20; ++i) EXPECT_EQ(b[i], first) << i;
        EXPECT_EQ(b[20], margin);  // stops at count
    }
}

TEST(OnePoleSmooth, RecursesOnTheSmoothedSample) {
    SampleBuffer b = SampleBuffer::allocate(4);
    b[0] = 8.0;  // an impulse decays geometrically: 8, 4, 2, 1
    one_pole_smooth(0.5, b.span(), 4);
    EXPECT_EQ(b[1], 4.0);
    EXPECT_EQ(b[2], 2.0);
    EXPECT_EQ(b[3], 1.0);
}

// ---- sinc_resample --------------------------------------------------------

TEST(SincResample, RatioOneReproducesTheSpan) {
    SampleBuffer src = random_buffer(400, 3, 1000.0);
    SampleBuffer dst = SampleBuffer::allocate(400);
    const int centre = 200, period = 100;
    EXPECT_EQ(sinc_resample(centre - period, centre + period, dst.span().shifted(200), 1.0, centre, src.span()), 0);
    for (int i = -period; i < period; ++i) EXPECT_NEAR(dst[200 + i], src[centre + i], 1e-9) << i;
    // Exactly [-H, H) is written.
    EXPECT_EQ(dst[200 - period - 1], 0.0);
    EXPECT_EQ(dst[200 + period], 0.0);
}

TEST(SincResample, WritesTruncatedRangeAndReadsOnlyTheSpan) {
    // Samples outside [first, last) are NaN: any read of them would show.
    const int centre = 300, period = 97;
    SampleBuffer src = random_buffer(600, 4);
    for (int i = -SAMPLE_MARGIN; i < centre - period; ++i) src[i] = NAN;
    for (int i = centre + period; i < 600 + SAMPLE_MARGIN; ++i) src[i] = NAN;
    for (double ratio : {std::pow(10.0, 100 / 200.0), std::pow(10.0, -100 / 200.0), 1.37}) {
        SampleBuffer dst = SampleBuffer::allocate(1000);
        for (int i = -SAMPLE_MARGIN; i < 1000 + SAMPLE_MARGIN; ++i) dst[i] = -7.0;
        SampleSpan out = dst.span().shifted(500);
        sinc_resample(centre - period, centre + period, out, ratio, centre, src.span());
        const int h = static_cast<int>(period * ratio);
        EXPECT_EQ(out[-h - 1], -7.0) << ratio;
        EXPECT_EQ(out[h], -7.0) << ratio;
        for (int i = -h; i < h; ++i) {
            ASSERT_FALSE(std::isnan(out[i])) << ratio << " " << i;
            // The direct formula: taps t-15..t+15 inside the span.
            const double u = (1.0 / ratio) * i;
            const int t = static_cast<int>(u);
            double sum = 0.0;
            double magnitude = 0.0;
            for (int j = t - 15; j <= t + 15; ++j) {
                if (j >= -period && j < period) {
                    sum += sinc(PI * (u - j)) * src[centre + j];
                    magnitude += std::fabs(src[centre + j]);
                }
            }
            // One sine per output sample instead of one per tap: equal up to
            // the rounding of the sines.
            ASSERT_NEAR(out[i], sum, 1e-13 * magnitude) << ratio << " " << i;
        }
    }
}

// ---- apply_hann_window ----------------------------------------------------

TEST(HannWindow, PeriodicWeights) {
    SampleBuffer one = SampleBuffer::allocate(2);
    one[0] = 5.0;
    one[1] = 5.0;
    apply_hann_window(one.span(), 1);
    EXPECT_EQ(one[0], 0.0);
    EXPECT_EQ(one[1], 5.0);

    SampleBuffer four = SampleBuffer::allocate(4);
    for (int i = 0; i < 4; ++i) four[i] = 2.0;
    apply_hann_window(four.span(), 4);
    EXPECT_EQ(four[0], 0.0);
    EXPECT_NEAR(four[1], 1.0, 1e-15);
    EXPECT_EQ(four[2], 2.0);
    EXPECT_NEAR(four[3], 1.0, 1e-15);

    SampleBuffer odd = SampleBuffer::allocate(7);
    for (int i = 0; i < 7; ++i) odd[i] = 1.0;
    apply_hann_window(odd.span(), 7);
    for (int i = 1; i < 7; ++i) EXPECT_NEAR(odd[i], odd[7 - i], 1e-15) << i;  // last weight equals i = 1

    SampleBuffer untouched = random_buffer(3, 5);
    const double v = untouched[0];
    apply_hann_window(untouched.span(), 0);
    apply_hann_window(untouched.span(), -3);
    EXPECT_EQ(untouched[0], v);
}

// ---- fir_lowpass ----------------------------------------------------------

// The low-pass written as its formula, one output at a time, from a copy.
std::vector<double> reference_lowpass(const SampleBuffer& in, int count, double cutoff) {
    double h[23];
    for (int k = 0; k <= 22; ++k) h[k] = (0.5 + 0.5 * std::cos(TWO_PI * k / 45)) * 2 * cutoff * sinc(TWO_PI * cutoff * k);
    const double* x = in.data();
    std::vector<double> y(static_cast<std::size_t>(count));
    for (int n = 0; n < count; ++n) {
        double acc = h[0] * x[n];
        for (int k = 1; k <= 22; ++k) acc += h[k] * (x[n - k] + x[n + k]);
        y[static_cast<std::size_t>(n)] = acc;
    }
    return y;
}

TEST(FirLowpass, InPlaceAndSeparateMatchTheFormulaBitForBit) {
    // Lengths around the kernel's internal chunk size, margins random so the
    // 22 samples read on each side count.
    for (int count : {1, 21, 22, 23, 511, 512, 513, 1100, 3000}) {
        for (double cutoff : {900.0 / 44100.0, 0.5 * std::pow(10.0, -50 / 200.0)}) {
            SampleBuffer in = random_buffer(count, 10 + static_cast<unsigned>(count), 3000.0);
            const std::vector<double> expected = reference_lowpass(in, count, cutoff);

            SampleBuffer out = SampleBuffer::allocate(count);
            ASSERT_EQ(fir_lowpass(in.span(), count, out.span(), cutoff), 0);
            ASSERT_EQ(fir_lowpass(in.span(), count, in.span(), cutoff), 0);
            for (int n = 0; n < count; ++n) {
                ASSERT_TRUE(same_bits(out[n], expected[static_cast<std::size_t>(n)])) << count << " " << n;
                ASSERT_TRUE(same_bits(in[n], expected[static_cast<std::size_t>(n)])) << count << " " << n;
            }
            EXPECT_EQ(out[count], 0.0);  // nothing past count
        }
    }
}

TEST(FirLowpass, CountZeroWritesNothing) {
    SampleBuffer in = random_buffer(8, 6);
    SampleBuffer out = SampleBuffer::allocate(8);
    EXPECT_EQ(fir_lowpass(in.span(), 0, out.span(), 0.1), 0);
    for (int i = -SAMPLE_MARGIN; i < 8 + SAMPLE_MARGIN; ++i) ASSERT_EQ(out[i], 0.0);
}

TEST(FirLowpass, GainAtZeroFrequency) {
    // A constant passes with the taps' sum: about 1 from cutoff 0.04 up,
    // short of 1 at 900 Hz / 44.1 kHz where the window cuts the main lobe.
    SampleBuffer in = SampleBuffer::allocate(100);
    for (int i = -SAMPLE_MARGIN; i < 100 + SAMPLE_MARGIN; ++i) in[i] = 1.0;
    SampleBuffer out = SampleBuffer::allocate(100);
    fir_lowpass(in.span(), 100, out.span(), 0.25);
    EXPECT_NEAR(out[50], 1.0, 0.01);
    fir_lowpass(in.span(), 100, out.span(), 900.0 / 44100.0);
    EXPECT_NEAR(out[50], 0.77, 0.01);
}

// ---- autocorrelate ---------------------------------------------------------

double reference_lag(const SampleBuffer& frame, int k) {
    const double* x = frame.data();
    double sum = 0.0;
    for (int j = 0; j <= 1023 - k; ++j) sum += x[j] * x[j + k];
    return 512 * sum / (1024 - k);
}

TEST(Autocorrelate, AllLagsMatchTheFormulaBitForBit) {
    SampleBuffer frame = random_buffer(1024, 7, 20000.0);
    SampleBuffer out = SampleBuffer::allocate(1024);
    for (int i = 0; i < 1024; ++i) out[i] = -1.0;
    SampleBuffer copy = SampleBuffer::allocate(1024);
    for (int i = -SAMPLE_MARGIN; i < 1024 + SAMPLE_MARGIN; ++i) copy[i] = frame[i];

    ASSERT_EQ(autocorrelate(0, copy.span(), out.span(), 0), 0);  // 0, 0 means 0..512
    for (int k = 0; k <= 512; ++k) ASSERT_TRUE(same_bits(out[k], reference_lag(frame, k))) << k;
    for (int k = 513; k < 1024; ++k) ASSERT_EQ(out[k], -1.0) << k;
    for (int i = 0; i < 1024; ++i) ASSERT_EQ(copy[i], frame[i]);  // frame kept
    EXPECT_NEAR(out[0], 0.5 * [&] {
        double e = 0.0;
        for (int j = 0; j < 1024; ++j) e += frame[j] * frame[j];
        return e;
    }(), 1e-6 * out[0]);
}

TEST(Autocorrelate, NarrowRangesTouchOnlyTheirLags) {
    SampleBuffer frame = random_buffer(1024, 8);
    // Ranges of every length around the kernel's grouping of lags.
    for (int first : {0, 1, 50, 95, 505}) {
        for (int width = 1; width <= 10; ++width) {
            const int last = std::min(512, first + width - 1);
            if (first == 0 && last == 0) continue;  // means 0..512
            SampleBuffer out = SampleBuffer::allocate(1024);
            ASSERT_EQ(autocorrelate(first, frame.span(), out.span(), last), 0);
            for (int k = 0; k < 1024; ++k) {
                if (k >= first && k <= last) {
                    ASSERT_TRUE(same_bits(out[k], reference_lag(frame, k))) << first << " " << k;
                } else {
                    ASSERT_EQ(out[k], 0.0) << first << " " << k;
                }
            }
        }
    }
}

TEST(Autocorrelate, LagLimits) {
    SampleBuffer frame = random_buffer(1024, 9);
    SampleBuffer out = SampleBuffer::allocate(1024);
    const double kept = frame[5];
    EXPECT_EQ(autocorrelate(513, frame.span(), out.span(), 513), -1);
    EXPECT_EQ(autocorrelate(0, frame.span(), out.span(), 513), -1);
    EXPECT_EQ(autocorrelate(-1, frame.span(), out.span(), 10), -1);
    EXPECT_EQ(autocorrelate(513, frame.span(), SampleSpan{}, 0), -1);
    for (int k = 0; k < 1024; ++k) ASSERT_EQ(out[k], 0.0);
    EXPECT_EQ(frame[5], kept);

    // Lag 512 is allowed; a reversed range computes nothing.
    EXPECT_EQ(autocorrelate(512, frame.span(), out.span(), 512), 0);
    EXPECT_TRUE(same_bits(out[512], reference_lag(frame, 512)));
    EXPECT_EQ(autocorrelate(10, frame.span(), out.span(), 5), 0);
    for (int k = 0; k < 512; ++k) ASSERT_EQ(out[k], 0.0);
}

TEST(Autocorrelate, NullModeReplacesTheFrame) {
    SampleBuffer original = random_buffer(1024, 11);
    SampleBuffer frame = random_buffer(1024, 11);
    ASSERT_EQ(autocorrelate(0, frame.span(), SampleSpan{}, 0), 0);
    for (int k = 0; k <= 512; ++k) ASSERT_TRUE(same_bits(frame[k], reference_lag(original, k))) << k;
    for (int k = 513; k < 1024; ++k) ASSERT_EQ(frame[k], 0.0) << k;
    EXPECT_EQ(frame[1024], original[1024]);  // only the 1024 samples

    SampleBuffer narrow = random_buffer(1024, 11);
    ASSERT_EQ(autocorrelate(100, narrow.span(), SampleSpan{}, 102), 0);
    for (int k = 0; k < 1024; ++k) {
        if (k >= 100 && k <= 102) {
            ASSERT_TRUE(same_bits(narrow[k], reference_lag(original, k)));
        } else {
            ASSERT_EQ(narrow[k], 0.0) << k;
        }
    }
}

TEST(Autocorrelate, PulseTrainPeaksAtItsPeriod) {
    SampleBuffer frame = SampleBuffer::allocate(1024);
    for (int i = 0; i < 1024; i += 137) frame[i] = 1000.0;
    SampleBuffer out = SampleBuffer::allocate(1024);
    autocorrelate(50, frame.span(), out.span(), 200);
    EXPECT_EQ(find_extreme(1, 50, out.span(), 201), 137);
}

// ---- copy_samples ----------------------------------------------------------

TEST(CopySamples, CopiesFromTheOffset) {
    SampleBuffer src = random_buffer(50, 12);
    SampleBuffer dst = SampleBuffer::allocate(50);
    copy_samples(dst.span().shifted(10), 20, src.span(), -5);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(dst[10 + i], src[-5 + i]);
    EXPECT_EQ(dst[9], 0.0);
    EXPECT_EQ(dst[30], 0.0);
    copy_samples(dst.span(), 0, src.span(), 0);
    copy_samples(dst.span(), -4, src.span(), 0);
    EXPECT_EQ(dst[0], 0.0);
}

// ---- find_extreme ----------------------------------------------------------

TEST(FindExtreme, ModesTiesAndEmptyRanges) {
    SampleBuffer b = SampleBuffer::allocate(8);
    b[0] = 1.0;
    b[1] = -5.0;
    b[2] = 5.0;
    EXPECT_EQ(find_extreme(0, 0, b.span(), 3), 1);  // first of equal magnitudes
    EXPECT_EQ(find_extreme(1, 0, b.span(), 3), 2);
    EXPECT_EQ(find_extreme(-1, 0, b.span(), 3), 1);
    EXPECT_EQ(find_extreme(7, 0, b.span(), 3), 2);  // any positive mode is the maximum
    EXPECT_EQ(find_extreme(-3, 0, b.span(), 3), 1);

    b[4] = 3.0;
    b[5] = 3.0;
    EXPECT_EQ(find_extreme(1, 4, b.span(), 6), 4);

    // Empty and reversed ranges give start, reading values[start] only.
    EXPECT_EQ(find_extreme(1, 2, b.span(), 2), 2);
    EXPECT_EQ(find_extreme(0, 5, b.span(), 1), 5);
    EXPECT_EQ(find_extreme(-1, 7, b.span(), 0), 7);

    // Negative indices reach the margin.
    b[-3] = -9.0;
    EXPECT_EQ(find_extreme(0, -4, b.span(), 3), -3);
}

// ---- normalize_and_clip ----------------------------------------------------

TEST(NormalizeAndClip, ScalesThePeakAndClips) {
    SampleBuffer b = SampleBuffer::allocate(4);
    b[0] = 100.0;
    b[1] = -200.0;
    b[2] = 50.0;
    b[3] = 0.0;
    normalize_and_clip(b.span(), 4, 100, 100);  // peak to 16384
    EXPECT_DOUBLE_EQ(b[1], -16384.0);
    EXPECT_DOUBLE_EQ(b[0], 8192.0);
    EXPECT_DOUBLE_EQ(b[2], 4096.0);
    EXPECT_EQ(b[3], 0.0);

    SampleBuffer c = SampleBuffer::allocate(4);
    c[0] = 3.0;
    c[1] = -2.5;
    c[2] = 0.25;
    c[3] = -2.0;
    normalize_and_clip(c.span(), 4, 1500000, 0);  // strength 0: volume only, x15000
    EXPECT_EQ(c[0], 32767.0);
    EXPECT_EQ(c[1], -32768.0);
    EXPECT_EQ(c[2], 3750.0);
    EXPECT_EQ(c[3], -30000.0);
    EXPECT_EQ(c[4], 0.0);

    // Half strength moves the peak half way to 16384 on a log scale.
    SampleBuffer d = SampleBuffer::allocate(1);
    d[0] = 1024.0;
    normalize_and_clip(d.span(), 1, 100, 50);
    EXPECT_DOUBLE_EQ(d[0], 4096.0);
}

TEST(NormalizeAndClip, AllZeroIsUnchanged) {
    SampleBuffer b = SampleBuffer::allocate(16);
    normalize_and_clip(b.span(), 16, 100, 100);
    for (int i = -SAMPLE_MARGIN; i < 16 + SAMPLE_MARGIN; ++i) {
        ASSERT_EQ(b[i], 0.0);
        ASSERT_FALSE(std::signbit(b[i]));
    }
}

}  // namespace
}  // namespace qern
