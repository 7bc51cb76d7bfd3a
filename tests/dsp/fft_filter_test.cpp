#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "dsp/fft_filter.h"
#include "base/sample_buffer.h"

namespace qern {
namespace {

constexpr int N = FFT_SIZE;
constexpr int REACH = 2048;

std::unique_ptr<std::array<double, N>> kernel_for(int sample_rate) {
    auto k = std::make_unique<std::array<double, N>>();
    make_highpass_kernel(*k, 20.0 / sample_rate);
    return k;
}

// Tap i (-2048..2048) of the zero-phase kernel.
double tap(const std::array<double, N>& k, int i) { return k[static_cast<std::size_t>(i >= 0 ? i : N + i)]; }

double response(const std::array<double, N>& k, double frequency_hz, int sample_rate) {
    double sum = k[0];
    for (int i = 1; i <= REACH; ++i) sum += 2.0 * k[i] * std::cos(6.283185307179586 * frequency_hz * i / sample_rate);
    return sum;
}

TEST(HighpassKernel, LayoutAndResponse) {
    const auto k = kernel_for(44100);
    EXPECT_EQ((*k)[0], 1.0 - 2.0 * (20.0 / 44100));
    for (int i = 1; i <= REACH; ++i) ASSERT_EQ((*k)[i], (*k)[N - i]) << i;
    for (int i = REACH + 1; i < N - REACH; ++i) ASSERT_EQ((*k)[i], 0.0) << i;
    EXPECT_EQ((*k)[REACH], 0.0);       // weight 0 at the ends
    EXPECT_LT(std::fabs((*k)[1]), 1e-8);  // and next to the centre

    EXPECT_NEAR(response(*k, 0.0, 44100), 0.71, 0.01);
    EXPECT_NEAR(response(*k, 20.0, 44100), 1.0, 0.01);
    EXPECT_NEAR(response(*k, 30.0, 44100), 1.31, 0.01);
    for (double f : {100.0, 150.0, 440.0, 1000.0, 5000.0, 22050.0}) EXPECT_NEAR(response(*k, f, 44100), 1.0, 0.001) << f;
}

// A signal of `count` samples inside a buffer with `guard` extra samples
// beyond each margin. Signal and margins are random; the guards hold a
// sentinel that must survive.
struct GuardedSignal {
    static constexpr int guard = 32;
    static constexpr double sentinel = 12345.0;
    SampleBuffer storage;
    SampleSpan values;  // index 0 is sample 0, [-2048, count + 2048)
    int count = 0;

    GuardedSignal(int n, unsigned seed, bool random_margins) : count(n) {
        storage = SampleBuffer::allocate(n + 2 * guard);
        values = SampleSpan{storage.data() + guard, -SAMPLE_MARGIN, n + SAMPLE_MARGIN};
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> dist(-1000.0, 1000.0);
        for (int p = -SAMPLE_MARGIN - guard; p < n + SAMPLE_MARGIN + guard; ++p) {
            const bool inside = p >= -SAMPLE_MARGIN && p < n + SAMPLE_MARGIN;
            const bool margin = p < 0 || p >= n;
            double v = inside ? dist(rng) : sentinel;
            if (inside && margin && !random_margins) v = 0.0;
            storage[p + guard] = v;
        }
    }
    double at(int p) { return storage[p + guard]; }
};

// values[n] for n = -2048 .. count + 2047: the kernel applied directly to
// the extended signal (zero outside it).
std::vector<double> direct_convolution(GuardedSignal& s, const std::array<double, N>& k) {
    const int first = -SAMPLE_MARGIN, last = s.count + SAMPLE_MARGIN;
    const double* x = s.values.origin;
    std::vector<double> y;
    for (int n = first; n < last; ++n) {
        double sum = 0.0;
        const int i_lo = std::max(-REACH, n - last + 1);
        const int i_hi = std::min(REACH, n - first);
        for (int i = i_lo; i <= i_hi; ++i) sum += tap(k, i) * x[n - i];
        y.push_back(sum);
    }
    return y;
}

void expect_filtered(int count, unsigned seed, bool random_margins, int sample_rate) {
    GuardedSignal s(count, seed, random_margins);
    const std::vector<double> expected = direct_convolution(s, *kernel_for(sample_rate));
    fft_filter_signal(s.values, count, sample_rate);
    for (int n = -SAMPLE_MARGIN; n < count + SAMPLE_MARGIN; ++n) {
        ASSERT_NEAR(s.at(n), expected[static_cast<std::size_t>(n + SAMPLE_MARGIN)], 1e-9) << count << " at " << n;
    }
    for (int g = 1; g <= GuardedSignal::guard; ++g) {
        ASSERT_EQ(s.at(-SAMPLE_MARGIN - g), GuardedSignal::sentinel);
        ASSERT_EQ(s.at(count + SAMPLE_MARGIN - 1 + g), GuardedSignal::sentinel);
    }
}

// Every position of the extended range equals the direct convolution, across
// block boundaries and in the partial final blocks; nothing beyond is touched.
TEST(FftFilterSignal, EqualsDirectConvolutionOverTheExtendedRange) {
    expect_filtered(8192, 31, true, 44100);  // three blocks, 10240 - 2048 positions rewritten
    expect_filtered(12345, 32, true, 48000);
    expect_filtered(12288, 33, false, 22050);  // count a multiple of 4096, zero margins
}

// The overlap-save of fft_filter_signal done with the plain transforms (one
// butterfly at a time, natural order between permutations, whole copies):
// the filter's vector units and its folded permutations must give the same
// bits at every position.
std::vector<double> plain_overlap_save(GuardedSignal& s, int sample_rate) {
    auto table = std::make_unique<TwiddleTable>();
    make_twiddle_table(*table, 1);
    auto spectrum = kernel_for(sample_rate);
    bit_reverse_permute(*spectrum);
    rfft_forward(*spectrum, *table);
    const std::int64_t end = s.count + SAMPLE_MARGIN;
    std::vector<double> x(s.values.origin - SAMPLE_MARGIN, s.values.origin + end);  // x[p + 2048]
    auto at = [&](std::int64_t p) { return p < end ? x[static_cast<std::size_t>(p + SAMPLE_MARGIN)] : 0.0; };
    std::vector<double> y = x;
    auto block = std::make_unique<std::array<double, N>>();
    for (std::int64_t base = 0; base - 4096 < s.count; base += 4096) {
        for (int m = 0; m < N; ++m) {
            const std::int64_t p = base - 4096 + m;
            (*block)[m] = p < -SAMPLE_MARGIN ? 0.0 : at(p);
        }
        fft_filter_block(*block, *spectrum, *table);
        for (int m = 2048; m < 6144 && base - 4096 + m < end; ++m) {
            y[static_cast<std::size_t>(base - 4096 + m + SAMPLE_MARGIN)] = (*block)[m];
        }
    }
    return y;
}

TEST(FftFilterSignal, EqualsThePlainOverlapSaveBitForBit) {
    for (const auto& [count, rate] : {std::pair{8192, 44100}, std::pair{12345, 48000}, std::pair{12288, 22050},
                                      std::pair{30001, 44100}}) {
        GuardedSignal s(count, 35, true);
        const std::vector<double> expected = plain_overlap_save(s, rate);
        fft_filter_signal(s.values, count, rate);
        const double* got = s.values.origin - SAMPLE_MARGIN;
        EXPECT_EQ(std::memcmp(got, expected.data(), expected.size() * sizeof(double)), 0) << count;
    }
}

// Fewer than 8192 samples, or no usable rate (the kernel would be NaN):
// samples and margins stay as they are.
TEST(FftFilterSignal, ShortSignalOrNoRateIsUntouched) {
    for (auto [count, rate] : {std::pair{8191, 44100}, std::pair{9000, 0}, std::pair{9000, -44100}}) {
        GuardedSignal s(count, 34, true);
        const std::vector<double> before(s.storage.data() - SAMPLE_MARGIN, s.storage.data() + s.storage.count() + SAMPLE_MARGIN);
        fft_filter_signal(s.values, count, rate);
        EXPECT_EQ(std::memcmp(before.data(), s.storage.data() - SAMPLE_MARGIN, before.size() * sizeof(double)), 0) << count << " " << rate;
    }
}

TEST(FftFilterSignal, LeadingMarginTakesTheResponseToAStep) {
    SampleBuffer b = SampleBuffer::allocate(9000);
    for (int i = 0; i < 9000; ++i) b[i] = 1.0;
    fft_filter_signal(b.span(), 9000, 44100);
    for (int n = -2047; n < 0; ++n) ASSERT_NE(b[n], 0.0) << n;
    EXPECT_LT(std::fabs(b[-2047]), 1e-8);  // the outermost tap is almost 0
    EXPECT_NEAR(b[4500], 0.71, 0.01);       // a constant passes at the DC gain
}

}  // namespace
}  // namespace qern
