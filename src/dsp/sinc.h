// Pi, 2 pi and the sinc function, as every signal kernel of the program takes them.
#pragma once

#include <cmath>

namespace qern {

// To double precision, written out: M_PI is not defined everywhere.
inline constexpr double PI = 3.141592653589793;
inline constexpr double TWO_PI = 6.283185307179586;

// sin(d) / d, exactly 1 at d = 0.
inline double sinc(double d) { return d == 0.0 ? 1.0 : std::sin(d) / d; }

}  // namespace qern
