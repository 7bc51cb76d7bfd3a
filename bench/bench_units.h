// The vector-unit argument of the kernel benchmarks: -1 the plain loops,
// 0, 1, 2 VectorUnit baseline, avx2, avx512.
#pragma once

#include <benchmark/benchmark.h>

#include "dsp/vector_unit.h"

namespace qern::bench {

// Skips (with a note) a case on a unit this processor does not have.
inline bool skip_unavailable(benchmark::State& state) {
    const auto unit = state.range(0);
    if (unit >= 0 && !vector_unit_available(static_cast<VectorUnit>(unit))) {
        state.SkipWithError("vector unit not available");
        return true;
    }
    return false;
}

// Every unit as an argument, the plain loops first.
inline void unit_args(benchmark::internal::Benchmark* b) {
    b->ArgName("unit");
    for (int unit = -1; unit <= 2; ++unit) b->Arg(unit);
}

}  // namespace qern::bench
