#include "dsp/vector_unit.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace qern {

namespace {

VectorUnit detect_vector_unit() {
    VectorUnit best = VectorUnit::baseline;
    if (vector_unit_available(VectorUnit::avx512)) {
        best = VectorUnit::avx512;
    } else if (vector_unit_available(VectorUnit::avx2)) {
        best = VectorUnit::avx2;
    }
    const char* wanted = std::getenv("QERN_VECTOR_UNIT");
    if (wanted == nullptr) return best;
    for (const VectorUnit unit : {VectorUnit::baseline, VectorUnit::avx2}) {
        if (std::strcmp(wanted, vector_unit_name(unit)) == 0 && unit < best) return unit;
    }
    return best;
}

}  // namespace

bool vector_unit_available(VectorUnit unit) {
    if (unit == VectorUnit::baseline) return true;
#if QERN_HAVE_WIDE_VECTORS
    __builtin_cpu_init();
    if (unit == VectorUnit::avx2) return __builtin_cpu_supports("avx2");
    if (unit == VectorUnit::avx512) return __builtin_cpu_supports("avx512f");
#endif
    return false;
}

VectorUnit best_vector_unit() {
    static const VectorUnit unit = detect_vector_unit();
    return unit;
}

const char* vector_unit_name(VectorUnit unit) {
    switch (unit) {
        case VectorUnit::avx2:
            return "avx2";
        case VectorUnit::avx512:
            return "avx512";
        case VectorUnit::baseline:
            break;
    }
    return "baseline";
}

}  // namespace qern
