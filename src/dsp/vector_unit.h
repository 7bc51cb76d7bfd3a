// The vector unit the signal kernels run on, chosen once per process from
// what the processor offers.
#pragma once

// Builds that carry the AVX2 and AVX-512 code paths: x86 with GCC or clang,
// not Windows.
#if (defined(__x86_64__) || defined(__i386__)) && !defined(_WIN32) && defined(__GNUC__)
#define QERN_HAVE_WIDE_VECTORS 1
#else
#define QERN_HAVE_WIDE_VECTORS 0
#endif

namespace qern {

// Narrowest first. `baseline` is what every build of the target has (SSE2 on
// x86, the plain code elsewhere); the wider ones exist only on x86 builds
// outside Windows (mingw cannot keep 32- and 64-byte stack slots aligned).
// Every unit gives the same results bit for bit: each sum keeps its order.
enum class VectorUnit { baseline, avx2, avx512 };

// Whether this build has the code for `unit` and the processor (and its
// operating system) can run it.
bool vector_unit_available(VectorUnit unit);

// The widest available unit, decided on the first call. The environment
// variable QERN_VECTOR_UNIT ("baseline", "avx2" or "avx512") narrows the
// choice for comparisons; a unit that is not available is not taken.
VectorUnit best_vector_unit();

// "baseline", "avx2" or "avx512".
const char* vector_unit_name(VectorUnit unit);

}  // namespace qern
