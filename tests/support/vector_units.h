// The vector units this processor runs, for tests that compare each.
#pragma once

#include <vector>

#include "dsp/vector_unit.h"

namespace qern::test {

inline std::vector<VectorUnit> available_units() {
    std::vector<VectorUnit> units;
    for (const VectorUnit unit : {VectorUnit::baseline, VectorUnit::avx2, VectorUnit::avx512}) {
        if (vector_unit_available(unit)) units.push_back(unit);
    }
    return units;
}

}  // namespace qern::test
