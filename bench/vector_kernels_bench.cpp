// The vectorised kernels on every vector unit this processor runs, against
// the plain loops they reproduce, on the sizes the analysis and the g flag
// use.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "dsp/kernels.h"
#include "dsp/reference_kernels.h"
#include "dsp/sinc.h"
#include "dsp/sinc_table.h"
#include "dsp/vector_kernels.h"
#include "bench/bench_units.h"
#include "dsp/vector_unit.h"
#include "synthesis/hann_window_cache.h"

namespace qern {
namespace {

// Random samples at the 16-bit scale with `margin` extra values on both sides.
std::vector<double> random_samples(int count, int margin) {
    std::vector<double> v(static_cast<std::size_t>(count + 2 * margin));
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> d(-20000.0, 20000.0);
    for (double& s : v) s = d(rng);
    return v;
}

using bench::skip_unavailable;
using bench::unit_args;

// One analysis frame: lags 0..512 of 1024 samples.
void BM_LaggedProducts(benchmark::State& state) {
    if (skip_unavailable(state)) return;
    const std::vector<double> x = random_samples(1024, 0);
    std::vector<double> r(1024);
    for (auto _ : state) {
        if (state.range(0) < 0) {
            lagged_products_plain(x.data(), 0, 512, r.data());
        } else {
            lagged_products(static_cast<VectorUnit>(state.range(0)), x.data(), 0, 512, r.data());
        }
        benchmark::DoNotOptimize(r.data());
    }
    state.SetItemsProcessed(state.iterations() * 393984);
}
BENCHMARK(BM_LaggedProducts)->Apply(unit_args)->Unit(benchmark::kMicrosecond);

// The lags of one frame T0 frame, 0 and 49..512: lag 0 in a pass of its own
// (range 0: plain loop; 1: lagged_products) against alongside the first group
// (range 2: lagged_products_and_zero), on the chosen unit.
void BM_FrameLagSums(benchmark::State& state) {
    const std::vector<double> x = random_samples(1024, 0);
    std::vector<double> r(1024);
    const VectorUnit unit = best_vector_unit();
    for (auto _ : state) {
        if (state.range(0) == 0) {
            lagged_products_plain(x.data(), 0, 0, r.data());
            lagged_products_plain(x.data(), 49, 512, r.data());
        } else if (state.range(0) == 1) {
            lagged_products(unit, x.data(), 0, 0, r.data());
            lagged_products(unit, x.data(), 49, 512, r.data());
        } else {
            lagged_products_and_zero(unit, x.data(), 49, 512, r.data());
        }
        benchmark::DoNotOptimize(r.data());
    }
}
BENCHMARK(BM_FrameLagSums)->ArgName("way")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// One fundamental-wave frame of period 200: 512 outputs of 799 taps.
void BM_TappedSums(benchmark::State& state) {
    if (skip_unavailable(state)) return;
    constexpr int kernel_end = 800;
    const std::vector<double> h = random_samples(kernel_end, 0);
    const std::vector<double> x = random_samples(512, kernel_end);
    std::vector<double> y(512);
    const double* x0 = x.data() + kernel_end;
    for (auto _ : state) {
        if (state.range(0) < 0) {
            tapped_sums_plain(h.data(), kernel_end, x0, y.data(), 512);
        } else {
            tapped_sums(static_cast<VectorUnit>(state.range(0)), h.data(), kernel_end, x0, y.data(), 512);
        }
        benchmark::DoNotOptimize(y.data());
    }
    state.SetItemsProcessed(state.iterations() * 512 * (kernel_end - 1));
}
BENCHMARK(BM_TappedSums)->Apply(unit_args)->Unit(benchmark::kMicrosecond);

// One chunk of the 45-tap low-pass.
void BM_SymmetricTaps(benchmark::State& state) {
    if (skip_unavailable(state)) return;
    const std::vector<double> h = random_samples(23, 0);
    const std::vector<double> x = random_samples(512, 22);
    std::vector<double> y(512);
    for (auto _ : state) {
        if (state.range(0) < 0) {
            symmetric_taps_plain(h.data(), x.data() + 22, y.data(), 512);
        } else {
            symmetric_taps(static_cast<VectorUnit>(state.range(0)), h.data(), x.data() + 22, y.data(), 512);
        }
        benchmark::DoNotOptimize(y.data());
    }
    state.SetItemsProcessed(state.iterations() * 512);
}
BENCHMARK(BM_SymmetricTaps)->Apply(unit_args)->Unit(benchmark::kMicrosecond);

// A g-flag grain of period 300 at the g of argument 1: its random source
// and its output, each around index 0 with room for any grain scale.
struct GrainCase {
    static constexpr int period = 300;
    static constexpr int half = 2048;
    double ratio;
    std::vector<double> src = random_samples(2 * half, 0);
    std::vector<double> dst = std::vector<double>(2 * half);
    SampleSpan source{src.data() + half, -half, half};
    SampleSpan grain{dst.data() + half, -half, half};

    explicit GrainCase(const benchmark::State& state)
        : ratio(std::pow(10.0, static_cast<double>(state.range(1)) / 200.0)) {}
};

// One g-flag grain of period 300 at g = +-20: one sine per output sample
// against one per tap.
void BM_SincGrain(benchmark::State& state) {
    GrainCase c(state);
    const double ratio = c.ratio;
    constexpr int period = GrainCase::period;
    const SampleSpan source = c.source, grain = c.grain;
    std::vector<double>& dst = c.dst;
    for (auto _ : state) {
        if (state.range(0) < 0) {
            sinc_resample_plain(-period, period, grain, ratio, 0, source);
        } else {
            sinc_resample(-period, period, grain, ratio, 0, source);
        }
        benchmark::DoNotOptimize(dst.data());
    }
}
BENCHMARK(BM_SincGrain)
    ->ArgNames({"fast", "g"})
    ->Args({-1, 20})
    ->Args({0, 20})
    ->Args({-1, -20})
    ->Args({0, -20})
    ->Unit(benchmark::kMicrosecond);

// One grain of period 300 at g = 20 and g = 100 from a prepared sinc table,
// on each unit (unit -1: sinc_resample, every weight computed).
void BM_SincTableGrain(benchmark::State& state) {
    if (skip_unavailable(state)) return;
    GrainCase c(state);
    const double ratio = c.ratio;
    constexpr int period = GrainCase::period;
    const SampleSpan source = c.source, grain = c.grain;
    std::vector<double>& dst = c.dst;
    SincTable table = make_sinc_table(ratio, static_cast<int>(period * ratio) + 8);
    prepare_sinc_rows(table, static_cast<int>(period * ratio));
    for (auto _ : state) {
        if (state.range(0) < 0) {
            sinc_resample(-period, period, grain, ratio, 0, source);
        } else {
            sinc_resample(static_cast<VectorUnit>(state.range(0)), table, -period, period, grain, 0, source);
        }
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int>(2 * period * ratio));
}
BENCHMARK(BM_SincTableGrain)
    ->ArgNames({"unit", "g"})
    ->ArgsProduct({{-1, 0, 1, 2}, {20, 100}})
    ->Unit(benchmark::kMicrosecond);

// Eight grains of period 300 at g = 20 and g = 100 side by side, per
// grain: sources put into lanes, then resampled together, on each unit,
// from a full table and from a mirrored one (mirrored 1: the negative rows
// read backwards). Against BM_SincTableGrain, one grain at a time.
void BM_SincLanesGrain(benchmark::State& state) {
    if (skip_unavailable(state)) return;
    GrainCase c(state);
    const double ratio = c.ratio;
    constexpr int period = GrainCase::period;
    const auto unit = static_cast<VectorUnit>(state.range(0));
    const int H = static_cast<int>(period * ratio);
    SincTable table = make_sinc_table(ratio, H + 8, nullptr, state.range(2) != 0);
    prepare_sinc_rows(table, H);
    const TapRange rows = sinc_lane_taps(table, -H, H);
    std::vector<double> lanes(static_cast<std::size_t>(rows.last - rows.first) * SINC_LANES);
    double* x = lanes.data() - static_cast<std::ptrdiff_t>(rows.first) * SINC_LANES;
    std::vector<double> out(static_cast<std::size_t>(2 * (H + 8)) * SINC_LANES);
    double* y[SINC_LANES];
    for (int g = 0; g < SINC_LANES; ++g) y[g] = out.data() + (2 * g + 1) * (H + 8);
    long long offset[SINC_LANES];
    int first[SINC_LANES], last[SINC_LANES];
    for (int g = 0; g < SINC_LANES; ++g) {
        offset[g] = g;  // eight overlapping grains of the same source
        first[g] = -period;
        last[g] = period;
    }
    for (auto _ : state) {
        fill_lanes(unit, c.source.origin, offset, first, last, rows, x);
        sinc_resample_lanes(unit, table, -H, H, x, y);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * SINC_LANES * 2 * H);
}
BENCHMARK(BM_SincLanesGrain)
    ->ArgNames({"unit", "g", "mirrored"})
    ->ArgsProduct({{0, 1, 2}, {20, 100}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// The weights of a Hann window of 1,000 samples: the C library's cosine in
// the plain loop (unit -1), window_cosine on each unit.
void BM_HannWeights(benchmark::State& state) {
    if (skip_unavailable(state)) return;
    constexpr int n = 1000;
    std::vector<double> weights(n);
    for (auto _ : state) {
        if (state.range(0) < 0) {
            const double step = TWO_PI / n;
            for (int i = 0; i < n; ++i) weights[i] = 0.5 - 0.5 * std::cos(i * step);
        } else {
            hann_weights(static_cast<VectorUnit>(state.range(0)), weights.data(), n);
        }
        benchmark::DoNotOptimize(weights.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_HannWeights)->Apply(unit_args)->Unit(benchmark::kMicrosecond);

// The Hann window of a 600-sample grain: cosines each time, or the weights
// from the cache.
void BM_HannWindowGrain(benchmark::State& state) {
    constexpr int n = 600;
    std::vector<double> values = random_samples(n, 0);
    const SampleSpan view{values.data(), 0, n};
    HannWindowCache cache;
    for (auto _ : state) {
        if (state.range(0) < 0) {
            apply_hann_window(view, n);
        } else {
            apply_window_weights(view, hann_window(cache, n), n);
        }
        benchmark::DoNotOptimize(values.data());
    }
}
BENCHMARK(BM_HannWindowGrain)->ArgName("cached")->Arg(-1)->Arg(0)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qern
