// Reading numbers from argument text, and double-to-int conversion without
// undefined behaviour.
#pragma once

namespace qern {

// The leading decimal integer of `text`: white space skipped, an optional
// sign, the digits up to the first other character. No digits read as 0.
// Values beyond the range of int saturate at INT_MIN or INT_MAX.
int read_leading_int(const char* text);

// The leading decimal real number of `text`: white space skipped, an
// optional sign, digits with an optional fraction and exponent. Text
// without a number reads as 0.0; "inf", "nan" and hexadecimal forms are not
// numbers. A magnitude too large for a double reads as an infinity.
double read_leading_real(const char* text);

// Truncates toward zero; values beyond the range of int saturate at INT_MIN
// or INT_MAX, and NaN gives 0.
int truncate_to_int(double value);

}  // namespace qern
