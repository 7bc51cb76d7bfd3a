// Timings of the signal-processing primitives on realistic sizes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <random>

#include "dsp/fft.h"
#include "dsp/fft_filter.h"
#include "dsp/kernels.h"
#include "base/sample_buffer.h"

namespace qern {
namespace {

constexpr int SAMPLE_RATE = 44100;

// Voice-like test signal at the 16-bit scale: a few harmonics of 220 Hz
// with a little noise.
SampleBuffer make_signal(int count) {
    SampleBuffer b = SampleBuffer::allocate(count);
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> noise(-300.0, 300.0);
    for (int i = 0; i < count; ++i) {
        const double t = 6.283185307179586 * 220.0 * i / SAMPLE_RATE;
        b[i] = 8000.0 * std::sin(t) + 3000.0 * std::sin(2 * t + 0.3) + 1500.0 * std::sin(3 * t + 1.1) + noise(rng);
    }
    return b;
}

void BM_FftFilterSignal10s(benchmark::State& state) {
    const int count = 10 * SAMPLE_RATE;
    const SampleBuffer source = make_signal(count);
    SampleBuffer work = SampleBuffer::allocate(count);
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(source.data() - SAMPLE_MARGIN, source.data() + count + SAMPLE_MARGIN, work.data() - SAMPLE_MARGIN);
        state.ResumeTiming();
        fft_filter_signal(work.span(), count, SAMPLE_RATE);
        benchmark::DoNotOptimize(work.data());
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_FftFilterSignal10s)->Unit(benchmark::kMillisecond);

void BM_FftFilterBlock(benchmark::State& state) {
    auto table = std::make_unique<TwiddleTable>();
    make_twiddle_table(*table, 1);
    auto spectrum = std::make_unique<std::array<double, FFT_SIZE>>();
    make_highpass_kernel(*spectrum, 20.0 / SAMPLE_RATE);
    bit_reverse_permute(*spectrum);
    rfft_forward(*spectrum, *table);
    SampleBuffer signal = make_signal(FFT_SIZE);
    auto block = std::make_unique<std::array<double, FFT_SIZE>>();
    for (auto _ : state) {
        std::copy(signal.data(), signal.data() + FFT_SIZE, block->begin());
        fft_filter_block(*block, *spectrum, *table);
        benchmark::DoNotOptimize(block->data());
    }
}
BENCHMARK(BM_FftFilterBlock)->Unit(benchmark::kMicrosecond);

void BM_AutocorrelateFullFrame(benchmark::State& state) {
    SampleBuffer signal = make_signal(1024);
    SampleBuffer frame = SampleBuffer::allocate(1024);
    for (auto _ : state) {
        copy_samples(frame.span(), 1024, signal.span(), 0);
        autocorrelate(0, frame.span(), SampleSpan{}, 512);
        benchmark::DoNotOptimize(frame.data());
    }
}
BENCHMARK(BM_AutocorrelateFullFrame)->Unit(benchmark::kMicrosecond);

void BM_FirLowpass5s(benchmark::State& state) {
    const int count = 5 * SAMPLE_RATE;
    SampleBuffer signal = make_signal(count);
    SampleBuffer out = SampleBuffer::allocate(count);
    for (auto _ : state) {
        fir_lowpass(signal.span(), count, out.span(), 900.0 / SAMPLE_RATE);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_FirLowpass5s)->Unit(benchmark::kMillisecond);

// One grain: two periods of 511 samples around a mark, flag g = +-100.
void BM_SincResampleGrain(benchmark::State& state) {
    const double ratio = std::pow(10.0, static_cast<double>(state.range(0)) / 200.0);
    const int period = 511, centre = 2000;
    SampleBuffer signal = make_signal(4000);
    SampleBuffer grain = SampleBuffer::allocate(4000);
    for (auto _ : state) {
        sinc_resample(centre - period, centre + period, grain.span().shifted(2000), ratio, centre, signal.span());
        benchmark::DoNotOptimize(grain.data());
    }
}
BENCHMARK(BM_SincResampleGrain)->Arg(100)->Arg(-100)->Unit(benchmark::kMicrosecond);

void BM_NormalizeAndClip5s(benchmark::State& state) {
    const int count = 5 * SAMPLE_RATE;
    const SampleBuffer source = make_signal(count);
    SampleBuffer work = SampleBuffer::allocate(count);
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(source.data(), source.data() + count, work.data());
        state.ResumeTiming();
        normalize_and_clip(work.span(), count, 100, 100);
        benchmark::DoNotOptimize(work.data());
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_NormalizeAndClip5s)->Unit(benchmark::kMillisecond);

// The three steps of a transform, each on a fresh copy of a block.
template <int Step>
void BM_FftStep(benchmark::State& state) {
    auto table = std::make_unique<TwiddleTable>();
    make_twiddle_table(*table, Step == 2 ? 0 : 1);
    SampleBuffer signal = make_signal(FFT_SIZE);
    auto block = std::make_unique<std::array<double, FFT_SIZE>>();
    for (auto _ : state) {
        std::copy(signal.data(), signal.data() + FFT_SIZE, block->begin());
        if constexpr (Step == 0) bit_reverse_permute(*block);
        if constexpr (Step == 1) rfft_forward(*block, *table);
        if constexpr (Step == 2) rfft_inverse(*block, *table);
        benchmark::DoNotOptimize(block->data());
    }
}
BENCHMARK(BM_FftStep<0>)->Name("BM_BitReversePermute")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FftStep<1>)->Name("BM_RfftForward")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FftStep<2>)->Name("BM_RfftInverse")->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qern
