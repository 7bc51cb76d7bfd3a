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
#include "bench/bench_units.h"
#include "dsp/vector_unit.h"
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

// Unit -1 in these cases is the plain loops (one butterfly at a time, on
// the twiddle table).
using bench::skip_unavailable;
using bench::unit_args;

struct Twiddles {
    TwiddleTable table;
    StageTwiddles forward;
    StageTwiddles inverse;
};

std::unique_ptr<Twiddles> make_twiddles() {
    auto t = std::make_unique<Twiddles>();
    make_twiddle_table(t->table, 1);
    make_stage_twiddles(t->forward, t->table);
    t->inverse = t->forward;
    for (double& s : t->inverse.sin) s = -s;
    return t;
}

void BM_FftFilterBlock(benchmark::State& state) {
    if (skip_unavailable(state)) return;
    auto twiddles = make_twiddles();
    auto spectrum = std::make_unique<std::array<double, FFT_SIZE>>();
    make_highpass_kernel(*spectrum, 20.0 / SAMPLE_RATE);
    bit_reverse_permute(*spectrum);
    rfft_forward(*spectrum, twiddles->table);
    SampleBuffer signal = make_signal(FFT_SIZE);
    auto block = std::make_unique<std::array<double, FFT_SIZE>>();
    for (auto _ : state) {
        std::copy(signal.data(), signal.data() + FFT_SIZE, block->begin());
        if (state.range(0) < 0) {
            fft_filter_block(*block, *spectrum, twiddles->table);
        } else {
            fft_filter_block(static_cast<VectorUnit>(state.range(0)), *block, *spectrum, twiddles->forward,
                             twiddles->inverse);
        }
        benchmark::DoNotOptimize(block->data());
    }
}
BENCHMARK(BM_FftFilterBlock)->Apply(unit_args)->Unit(benchmark::kMicrosecond);

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

// The three steps of a transform, each on a fresh copy of a block; the
// transforms plain (unit -1) and on each vector unit.
template <int Step>
void BM_FftStep(benchmark::State& state) {
    if (skip_unavailable(state)) return;
    auto twiddles = make_twiddles();
    if (Step == 2) {
        for (Twiddle& t : twiddles->table) t.sin = -t.sin;
    }
    SampleBuffer signal = make_signal(FFT_SIZE);
    auto block = std::make_unique<std::array<double, FFT_SIZE>>();
    const auto unit = static_cast<VectorUnit>(state.range(0));
    for (auto _ : state) {
        std::copy(signal.data(), signal.data() + FFT_SIZE, block->begin());
        if constexpr (Step == 0) bit_reverse_permute(*block);
        if constexpr (Step == 1) {
            if (state.range(0) < 0) {
                rfft_forward(*block, twiddles->table);
            } else {
                rfft_forward(unit, *block, twiddles->forward);
            }
        }
        if constexpr (Step == 2) {
            if (state.range(0) < 0) {
                rfft_inverse(*block, twiddles->table);
            } else {
                rfft_inverse(unit, *block, twiddles->inverse);
            }
        }
        benchmark::DoNotOptimize(block->data());
    }
}
BENCHMARK(BM_FftStep<0>)->Name("BM_BitReversePermute")->Arg(-1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FftStep<1>)->Name("BM_RfftForward")->Apply(unit_args)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FftStep<2>)->Name("BM_RfftInverse")->Apply(unit_args)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qern
