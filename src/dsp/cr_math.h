// Sine, cosine and power with the same results on every platform.
//
// The C libraries round these functions differently: glibc, and the x87
// code that mingw-w64 links into the Windows executable, disagree in the
// last bit for a fraction of a percent of the arguments, which is enough
// to move a truncated period or a pitch mark. These versions evaluate in
// double-double arithmetic (about 104 bits) and round once, so they return
// the correctly rounded result except when the exact value lies within
// about 2^-100 of a rounding boundary. They use only +, -, *, / of IEEE
// doubles (no fused multiply-add, no extended precision), so every
// platform computes the same bits.
//
// The signal code still calls the C library: on the voices and calls that
// scripts/test-windows.sh compares, the one-bit differences have not reached
// a .pmk file or an output sample yet. Calling these instead guarantees
// identical results, at a cost (about 60 ns per sin on Linux, against 10 ns;
// on 32-bit Windows about the same as the runtime's x87 code).
#pragma once

namespace qern {

// sin and cos. Arguments beyond +-2^20 (never used by this program) fall
// back to the C library.
double cr_sin(double x);
double cr_cos(double x);

// x raised to the power y, with the C library's special cases (zero,
// infinities, NaN, negative bases with integer exponents).
double cr_pow(double x, double y);

}  // namespace qern
