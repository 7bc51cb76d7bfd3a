#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "dsp/fft.h"
#include "dsp/vector_unit.h"
#include "support/vector_units.h"

namespace qern {
namespace {

using test::available_units;

constexpr int N = FFT_SIZE;
using Block = std::array<double, N>;

const TwiddleTable& forward_table() {
    static const std::unique_ptr<TwiddleTable> table = [] {
        auto t = std::make_unique<TwiddleTable>();
        make_twiddle_table(*t, 1);
        return t;
    }();
    return *table;
}

struct StageTables {
    TwiddleTable inverse_table;
    StageTwiddles forward;
    StageTwiddles inverse;
};

std::unique_ptr<StageTables> stage_tables() {
    auto t = std::make_unique<StageTables>();
    t->inverse_table = forward_table();
    for (Twiddle& w : t->inverse_table) w.sin = -w.sin;
    make_stage_twiddles(t->forward, forward_table());
    make_stage_twiddles(t->inverse, t->inverse_table);
    return t;
}

std::unique_ptr<Block> random_block(unsigned seed) {
    auto b = std::make_unique<Block>();
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    for (double& v : *b) v = dist(rng);
    return b;
}

// Forward transform of a block in natural order.
std::unique_ptr<Block> spectrum_of(const Block& x) {
    auto s = std::make_unique<Block>(x);
    bit_reverse_permute(*s);
    rfft_forward(*s, forward_table());
    return s;
}

// Packed half spectrum checked against a direct DFT, in long double, at the
// given bins.
void expect_matches_dft(const Block& x, const Block& packed, std::initializer_list<int> bins, double tolerance) {
    const long double two_pi = 6.283185307179586476925286766559L;
    for (int k : bins) {
        long double re = 0.0L, im = 0.0L;
        for (int n = 0; n < N; ++n) {
            const long double angle = two_pi * static_cast<long double>((static_cast<long long>(k) * n) % N) / N;
            re += x[n] * std::cos(angle);
            im -= x[n] * std::sin(angle);
        }
        EXPECT_NEAR(packed[k], static_cast<double>(re), tolerance) << "real part of bin " << k;
        if (k != 0 && k != N / 2) {
            EXPECT_NEAR(packed[N - k], static_cast<double>(-im), tolerance) << "imaginary part of bin " << k;
        } else {
            EXPECT_NEAR(static_cast<double>(im), 0.0, tolerance);
        }
    }
}

TEST(Fft, TwiddleTableDirections) {
    const TwiddleTable& f = forward_table();
    auto inverse = std::make_unique<TwiddleTable>();
    make_twiddle_table(*inverse, 0);
    EXPECT_EQ(f[0].cos, 1.0);
    EXPECT_EQ(f[0].sin, 0.0);
    EXPECT_NEAR(f[2048].cos, 0.0, 1e-15);
    EXPECT_NEAR(f[2048].sin, -1.0, 1e-15);  // forward: angle -pi/2
    EXPECT_NEAR(f[1024].cos, std::sqrt(0.5), 1e-15);
    EXPECT_NEAR(f[1024].sin, -std::sqrt(0.5), 1e-15);
    EXPECT_NEAR(f[1].sin, -0.0007669903187427045, 1e-18);
    for (int k = 0; k < N; ++k) {
        ASSERT_NEAR((*inverse)[k].cos, f[k].cos, 1e-16) << k;
        ASSERT_NEAR((*inverse)[k].sin, -f[k].sin, 1e-16) << k;
    }
}

TEST(Fft, BitReversePermutation) {
    auto b = std::make_unique<Block>();
    for (int i = 0; i < N; ++i) (*b)[i] = i;
    bit_reverse_permute(*b);
    for (int i = 0; i < N; ++i) {
        int r = 0;
        for (int bit = 0; bit < 13; ++bit) r |= ((i >> bit) & 1) << (12 - bit);
        ASSERT_EQ((*b)[i], r) << i;
    }
}

TEST(Fft, PackingOfSimpleSignals) {
    Block x{};
    auto check = [](const Block& s, auto expected) {
        for (int k = 0; k < N; ++k) ASSERT_NEAR(s[k], expected(k), 1e-9) << k;
    };

    x.fill(1.0);  // constant: all in bin 0
    check(*spectrum_of(x), [](int k) { return k == 0 ? 8192.0 : 0.0; });

    for (int n = 0; n < N; ++n) x[n] = n % 2 == 0 ? 1.0 : -1.0;  // Nyquist
    check(*spectrum_of(x), [](int k) { return k == 4096 ? 8192.0 : 0.0; });

    for (int n = 0; n < N; ++n) x[n] = std::cos(6.283185307179586 * 3 * n / N);
    check(*spectrum_of(x), [](int k) { return k == 3 ? 4096.0 : 0.0; });

    // Bin 1's imaginary part is -4096, stored negated at 8191.
    for (int n = 0; n < N; ++n) x[n] = std::sin(6.283185307179586 * n / N);
    check(*spectrum_of(x), [](int k) { return k == 8191 ? 4096.0 : 0.0; });

    x.fill(0.0);  // impulse: flat real spectrum, no imaginary part
    x[0] = 1.0;
    check(*spectrum_of(x), [](int k) { return k <= 4096 ? 1.0 : 0.0; });

    // An impulse at 1 gives X[k] = e^(-2 pi i k / N): the packing's sign
    // and order of the upper half.
    x[0] = 0.0;
    x[1] = 1.0;
    check(*spectrum_of(x), [](int k) {
        if (k <= 4096) return std::cos(6.283185307179586 * k / N);
        return std::sin(6.283185307179586 * (N - k) / N);  // -Im X[N - k]
    });
}

TEST(Fft, RandomBlockMatchesDirectTransform) {
    const auto x = random_block(21);
    const auto s = spectrum_of(*x);
    expect_matches_dft(*x, *s, {0, 1, 2, 3, 5, 100, 1023, 1024, 2047, 2048, 2049, 3000, 4094, 4095, 4096}, 1e-10);
}

TEST(Fft, InverseUndoesForward) {
    const auto x = random_block(22);
    auto inverse_table = std::make_unique<TwiddleTable>(forward_table());
    for (Twiddle& t : *inverse_table) t.sin = -t.sin;

    auto y = spectrum_of(*x);
    rfft_inverse(*y, *inverse_table);
    bit_reverse_permute(*y);
    for (int n = 0; n < N; ++n) ASSERT_NEAR((*y)[n], (*x)[n], 1e-14) << n;

    // The inverse's packing and scale: bin 5 with real part 1 and imaginary
    // part 2 (stored as -2 at 8192 - 5).
    Block s{};
    s[5] = 1.0;
    s[N - 5] = -2.0;
    rfft_inverse(s, *inverse_table);
    bit_reverse_permute(s);
    for (int n = 0; n < N; ++n) {
        const double a = 6.283185307179586 * 5 * n / N;
        // X[5] = 1 + 2i, X[N-5] its conjugate: x = (2/N)(cos a - 2 sin a).
        ASSERT_NEAR(s[n], (2.0 / N) * (std::cos(a) - 2.0 * std::sin(a)), 1e-15) << n;
    }
}

// Energy is kept (Parseval): sum x[n]^2 = (X[0]^2 + X[4096]^2 +
// 2 sum_{k=1}^{4095} |X[k]|^2) / N, to within the round-off of the sums.
TEST(Fft, KeepsTheEnergyOfRandomBlocks) {
    for (unsigned seed : {41u, 42u, 43u}) {
        const auto x = random_block(seed);
        const auto X = spectrum_of(*x);
        long double time_energy = 0.0L;
        for (const double v : *x) time_energy += static_cast<long double>(v) * v;
        long double bins = static_cast<long double>((*X)[0]) * (*X)[0] +
                           static_cast<long double>((*X)[N / 2]) * (*X)[N / 2];
        for (int k = 1; k < N / 2; ++k) {
            bins += 2.0L * (static_cast<long double>((*X)[k]) * (*X)[k] +
                            static_cast<long double>((*X)[N - k]) * (*X)[N - k]);
        }
        const double frequency_energy = static_cast<double>(bins / N);
        EXPECT_NEAR(frequency_energy, static_cast<double>(time_energy), 1e-12 * static_cast<double>(time_energy))
            << "seed " << seed;
    }
}

// The transform of a x + b y is a X + b Y, bin by bin, to within the
// round-off of the butterflies (values up to about sqrt(N) in magnitude).
TEST(Fft, IsLinear) {
    const auto x = random_block(44);
    const auto y = random_block(45);
    const double a = 0.75;
    const double b = -2.5;
    auto mix = std::make_unique<Block>();
    for (int n = 0; n < N; ++n) (*mix)[n] = a * (*x)[n] + b * (*y)[n];
    const auto X = spectrum_of(*x);
    const auto Y = spectrum_of(*y);
    const auto M = spectrum_of(*mix);
    for (int k = 0; k < N; ++k) ASSERT_NEAR((*M)[k], a * (*X)[k] + b * (*Y)[k], 1e-10) << k;
}

// Circular convolution with a kernel of few nonzero taps, directly.
std::unique_ptr<Block> circular_convolution(const Block& x, const Block& h) {
    auto y = std::make_unique<Block>();
    for (int m = 0; m < N; ++m) {
        if (h[m] == 0.0) continue;
        for (int n = 0; n < N; ++n) (*y)[(n + m) % N] += x[n] * h[m];
    }
    return y;
}

TEST(Fft, StageTwiddlesHoldEveryStagesEntriesInOrder) {
    const auto t = stage_tables();
    for (int L = 4; L <= N; L <<= 1) {
        for (int j = 0; j < L / 4; ++j) {
            ASSERT_EQ(t->forward.cos[L / 4 + j], forward_table()[j * (N / L)].cos) << L << " " << j;
            ASSERT_EQ(t->forward.sin[L / 4 + j], forward_table()[j * (N / L)].sin) << L << " " << j;
            ASSERT_EQ(t->inverse.sin[L / 4 + j], -forward_table()[j * (N / L)].sin) << L << " " << j;
        }
    }
}

// Every unit's transforms and block filter against the plain loops, bit for
// bit, on blocks of very different scales (the butterflies' roundings
// differ with the binade) and on a block with signed zeros and spikes.
TEST(Fft, EveryUnitEqualsThePlainTransformsBitForBit) {
    const auto t = stage_tables();
    std::vector<std::unique_ptr<Block>> blocks;
    blocks.push_back(random_block(51));
    blocks.push_back(random_block(52));
    for (double& v : *blocks.back()) v *= 3e4;
    blocks.push_back(random_block(53));
    for (double& v : *blocks.back()) v *= 1e-200;
    blocks.push_back(std::make_unique<Block>());
    for (int n = 0; n < N; n += 3) (*blocks.back())[n] = -0.0;
    (*blocks.back())[1] = 1e6;
    (*blocks.back())[N - 1] = -2.5;
    auto kernel = random_block(54);
    const auto spectrum = spectrum_of(*kernel);
    for (const VectorUnit unit : available_units()) {
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            auto plain = std::make_unique<Block>(*blocks[b]);
            auto fast = std::make_unique<Block>(*blocks[b]);
            rfft_forward(*plain, forward_table());
            rfft_forward(unit, *fast, t->forward);
            ASSERT_EQ(std::memcmp(plain.get(), fast.get(), sizeof(Block)), 0) << vector_unit_name(unit) << " " << b;

            *plain = *blocks[b];
            *fast = *blocks[b];
            rfft_inverse(*plain, t->inverse_table);
            rfft_inverse(unit, *fast, t->inverse);
            ASSERT_EQ(std::memcmp(plain.get(), fast.get(), sizeof(Block)), 0) << vector_unit_name(unit) << " " << b;

            *plain = *blocks[b];
            *fast = *blocks[b];
            auto table = std::make_unique<TwiddleTable>(forward_table());
            fft_filter_block(*plain, *spectrum, *table);
            fft_filter_block(unit, *fast, *spectrum, t->forward, t->inverse);
            ASSERT_EQ(std::memcmp(plain.get(), fast.get(), sizeof(Block)), 0) << vector_unit_name(unit) << " " << b;
        }
    }
}

TEST(FftFilterBlock, ImpulsesKeepAndRotate) {
    const auto x = random_block(23);
    auto table_copy = std::make_unique<TwiddleTable>(forward_table());
    TwiddleTable& table = *table_copy;

    Block h{};
    h[0] = 1.0;
    auto y = std::make_unique<Block>(*x);
    fft_filter_block(*y, *spectrum_of(h), table);
    for (int n = 0; n < N; ++n) ASSERT_NEAR((*y)[n], (*x)[n], 1e-14) << n;

    h[0] = 0.0;
    h[1] = 1.0;
    *y = *x;
    fft_filter_block(*y, *spectrum_of(h), table);
    EXPECT_NEAR((*y)[0], (*x)[N - 1], 1e-14);
    for (int n = 1; n < N; ++n) ASSERT_NEAR((*y)[n], (*x)[n - 1], 1e-14) << n;
}

TEST(FftFilterBlock, MatchesCircularConvolutionAndRestoresTheTable) {
    const auto x = random_block(24);
    // Taps at both ends (they wrap around) and scattered in between.
    Block h{};
    std::mt19937 rng(25);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    for (int i = 0; i < 40; ++i) h[i] = dist(rng);
    for (int i = N - 40; i < N; ++i) h[i] = dist(rng);
    for (int i : {777, 4095, 4096, 4097, 6000}) h[i] = dist(rng);
    const auto spectrum = spectrum_of(h);
    const auto expected = circular_convolution(*x, h);

    auto table = std::make_unique<TwiddleTable>(forward_table());
    const auto before = std::make_unique<TwiddleTable>(*table);
    auto y = std::make_unique<Block>(*x);
    fft_filter_block(*y, *spectrum, *table);
    for (int n = 0; n < N; ++n) ASSERT_NEAR((*y)[n], (*expected)[n], 1e-12) << n;
    EXPECT_EQ(std::memcmp(table.get(), before.get(), sizeof(TwiddleTable)), 0);
}

}  // namespace
}  // namespace qern
