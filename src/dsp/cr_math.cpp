#include "dsp/cr_math.h"

#include <array>
#include <cmath>

namespace qern {

namespace {

// ------------------------------------------------------------ double-double
// A value hi + lo with |lo| <= ulp(hi) / 2, so that hi is the value rounded
// to double.
struct DoubleDouble {
    double hi;
    double lo;
};

// a + b exactly, for any a and b.
DoubleDouble two_sum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    const double e = (a - (s - bb)) + (b - bb);
    return {s, e};
}

// a + b exactly, for |a| >= |b| (or a == 0).
DoubleDouble quick_two_sum(double a, double b) {
    const double s = a + b;
    const double e = b - (s - a);
    return {s, e};
}

// a * b exactly (Dekker), for arguments far from overflow.
DoubleDouble two_product(double a, double b) {
    constexpr double SPLITTER = 134217729.0;  // 2^27 + 1
    const double p = a * b;
    const double ta = SPLITTER * a;
    const double a_hi = ta - (ta - a);
    const double a_lo = a - a_hi;
    const double tb = SPLITTER * b;
    const double b_hi = tb - (tb - b);
    const double b_lo = b - b_hi;
    const double e = ((a_hi * b_hi - p) + a_hi * b_lo + a_lo * b_hi) + a_lo * b_lo;
    return {p, e};
}

DoubleDouble add(DoubleDouble a, DoubleDouble b) {
    DoubleDouble s = two_sum(a.hi, b.hi);
    const DoubleDouble t = two_sum(a.lo, b.lo);
    s.lo += t.hi;
    s = quick_two_sum(s.hi, s.lo);
    s.lo += t.lo;
    return quick_two_sum(s.hi, s.lo);
}

DoubleDouble add(DoubleDouble a, double b) {
    DoubleDouble s = two_sum(a.hi, b);
    s.lo += a.lo;
    return quick_two_sum(s.hi, s.lo);
}

DoubleDouble negate(DoubleDouble a) { return {-a.hi, -a.lo}; }

DoubleDouble multiply(DoubleDouble a, DoubleDouble b) {
    DoubleDouble p = two_product(a.hi, b.hi);
    p.lo += a.hi * b.lo + a.lo * b.hi;
    return quick_two_sum(p.hi, p.lo);
}

DoubleDouble multiply(DoubleDouble a, double b) {
    DoubleDouble p = two_product(a.hi, b);
    p.lo += a.lo * b;
    return quick_two_sum(p.hi, p.lo);
}

DoubleDouble divide(DoubleDouble a, DoubleDouble b) {
    const double q1 = a.hi / b.hi;
    DoubleDouble r = add(a, negate(multiply(b, q1)));
    const double q2 = r.hi / b.hi;
    r = add(r, negate(multiply(b, q2)));
    const double q3 = r.hi / b.hi;
    return add(quick_two_sum(q1, q2), q3);
}

// ---------------------------------------------------------- coefficients
// 1/n! for n = 0 .. 30, and 1/(2j + 1) for j = 0 .. 23, as double-doubles.
// Computed once by double-double division, the same way everywhere.
struct Coefficients {
    std::array<DoubleDouble, 31> inverse_factorial;
    std::array<DoubleDouble, 24> inverse_odd;
};

Coefficients make_coefficients() {
    Coefficients c{};
    DoubleDouble factorial{1.0, 0.0};
    for (int n = 0; n < 31; ++n) {
        if (n > 0) factorial = multiply(factorial, static_cast<double>(n));
        c.inverse_factorial[n] = divide(DoubleDouble{1.0, 0.0}, factorial);
    }
    for (int j = 0; j < 24; ++j) {
        c.inverse_odd[j] = divide(DoubleDouble{1.0, 0.0}, DoubleDouble{2.0 * j + 1.0, 0.0});
    }
    return c;
}

const Coefficients& coefficients() {
    static const Coefficients c = make_coefficients();
    return c;
}

// ------------------------------------------------------------ sin and cos
// pi/2 as the sum of five parts of 33 bits each, so that k times a part is
// exact for |k| < 2^20.
constexpr double PIO2_1 = 0x1.921fb544p+0;
constexpr double PIO2_2 = 0x1.0b4611a6p-34;
constexpr double PIO2_3 = 0x1.3198a2ep-69;
constexpr double PIO2_4 = 0x1.b839a252p-104;
constexpr double PIO2_5 = 0x1.27044534p-142;
constexpr double TWO_OVER_PI = 0x1.45f306dc9c883p-1;
constexpr double REDUCTION_LIMIT = 0x1p20;

// x - k pi/2 as a double-double, |x| <= 2^20.
DoubleDouble reduce(double x, double k) {
    // x - k * PIO2_1 is exact: k * PIO2_1 has at most 53 bits and lies
    // within a factor of two of x.
    const double r1 = x - k * PIO2_1;
    DoubleDouble r = two_sum(r1, -k * PIO2_2);
    r = add(r, -k * PIO2_3);
    r = add(r, -k * PIO2_4);
    r = add(r, -k * PIO2_5);
    return r;
}

// (-1)^j / n!, the signed Taylor coefficient of the power n = 2j or 2j + 1.
DoubleDouble alternating(int n, int j) {
    const DoubleDouble c = coefficients().inverse_factorial[n];
    return j % 2 == 0 ? c : negate(c);
}

// sin(r) and cos(r) for |r| <= pi/4 (a little more is fine): the Taylor
// series to the powers 29 and 28, whose terms are below 2^-110.
DoubleDouble sin_series(DoubleDouble r) {
    const DoubleDouble r2 = multiply(r, r);
    DoubleDouble sum = alternating(29, 14);
    for (int j = 13; j >= 0; --j) sum = add(multiply(sum, r2), alternating(2 * j + 1, j));
    return multiply(sum, r);
}

DoubleDouble cos_series(DoubleDouble r) {
    const DoubleDouble r2 = multiply(r, r);
    DoubleDouble sum = alternating(28, 14);
    for (int j = 13; j >= 0; --j) sum = add(multiply(sum, r2), alternating(2 * j, j));
    return sum;
}

// sin(i/64) and cos(i/64) for i = 0 .. 52 (52/64 > pi/4 plus the slack of
// the reduction), from the series, once.
struct SinCosTable {
    std::array<DoubleDouble, 53> sin;
    std::array<DoubleDouble, 53> cos;
};

SinCosTable make_table() {
    SinCosTable t{};
    for (int i = 0; i < 53; ++i) {
        const DoubleDouble a = {i / 64.0, 0.0};
        t.sin[i] = sin_series(a);
        t.cos[i] = cos_series(a);
    }
    return t;
}

const SinCosTable& table() {
    static const SinCosTable t = make_table();
    return t;
}

// The quick evaluation: sin(r) (want_cos false) or cos(r) for
// r = r.hi + r.lo, |r| <= pi/4 + a little, from the table entry a = i/64
// nearest to r and d = r - a, |d| <= 1/128:
//   sin(a + d) = S + C d + (S (cos d - 1) + C (sin d - d))
//   cos(a + d) = C - S d + (C (cos d - 1) - S (sin d - d))
// Its error stays below 2^-63 of the result (the correction terms are
// below 2^-14 and carry a relative error near 2^-50); the result is
// accepted when an error of 2^-60 of it cannot change the rounding.
bool quick_sin_cos(DoubleDouble r, bool want_cos, double& result) {
    const double sign = r.hi < 0.0 ? -1.0 : 1.0;
    const double rh = sign * r.hi;
    const double rl = sign * r.lo;
    const int i = static_cast<int>(rh * 64.0 + 0.5);
    if (i > 52) return false;
    const double dh = rh - i / 64.0;  // exact
    const double d2 = dh * dh;
    // sin d - d and cos d - 1 for |d| <= 1/128, as far as the d^9 and d^8
    // terms; rl enters through the first-order terms below.
    const double sd = dh * d2 * (-1.0 / 6 + d2 * (1.0 / 120 + d2 * (-1.0 / 5040 + d2 * (1.0 / 362880))));
    const double cd = d2 * (-0.5 + d2 * (1.0 / 24 + d2 * (-1.0 / 720 + d2 * (1.0 / 40320))));
    const SinCosTable& t = table();
    const DoubleDouble s = t.sin[i];
    const DoubleDouble c = t.cos[i];
    DoubleDouble main;
    double rest;
    if (!want_cos) {
        // S + C d, with C dh exact and the rest in the low part.
        const DoubleDouble p = two_product(c.hi, dh);
        main = two_sum(s.hi, p.hi);
        rest = p.lo + s.lo + c.hi * rl + c.lo * dh - s.hi * dh * rl + (s.hi * cd + c.hi * sd);
    } else {
        const DoubleDouble p = two_product(s.hi, dh);
        main = two_sum(c.hi, -p.hi);
        rest = -p.lo + c.lo - s.hi * rl - s.lo * dh - c.hi * dh * rl + (c.hi * cd - s.hi * sd);
    }
    const DoubleDouble y = quick_two_sum(main.hi, main.lo + rest);
    const double bound = std::fabs(y.hi) * 0x1p-60;
    const double up = y.hi + (y.lo + bound);
    const double down = y.hi + (y.lo - bound);
    if (up != down) return false;
    // sin is odd in r, cos even.
    result = want_cos ? up : sign * up;
    return true;
}

// The value of sin (quadrant offset 0) or cos (offset 1) of x.
double sin_or_cos(double x, int offset) {
    if (std::isnan(x) || std::isinf(x)) return x - x;
    const double a = std::fabs(x);
    if (a < 0x1p-27) {
        // sin x = x - x^3/6 and cos x = 1 - x^2/2 round to x and 1.
        return offset == 0 ? x : 1.0;
    }
    if (a > REDUCTION_LIMIT) return offset == 0 ? std::sin(x) : std::cos(x);
    const double k = std::floor(x * TWO_OVER_PI + 0.5);
    const DoubleDouble r = reduce(x, k);
    // The quadrant of x, plus one for cos: 0 sin, 1 cos, 2 -sin, 3 -cos.
    long long quadrant = static_cast<long long>(k) + offset;
    quadrant = ((quadrant % 4) + 4) % 4;
    const bool want_cos = quadrant % 2 == 1;
    double result = 0.0;
    if (!quick_sin_cos(r, want_cos, result)) {
        const DoubleDouble v = want_cos ? cos_series(r) : sin_series(r);
        result = v.hi + v.lo;
    }
    return quadrant >= 2 ? -result : result;
}

// -------------------------------------------------------------- log, exp
constexpr DoubleDouble LN2 = {0x1.62e42fefa39efp-1, 0x1.abc9e3b39803fp-56};

// ln x for finite x > 0.
DoubleDouble log_dd(double x) {
    int e = 0;
    double m = std::frexp(x, &e);  // x = m 2^e, m in [0.5, 1)
    if (m < 0.70710678118654752) {
        m *= 2.0;
        e -= 1;
    }
    // ln m = 2 atanh(s), s = (m - 1) / (m + 1), |s| <= 0.1716; the series
    // s^(2j+1) / (2j+1) drops below 2^-110 of s by j = 22.
    const DoubleDouble s = divide(DoubleDouble{m - 1.0, 0.0}, two_sum(m, 1.0));
    const DoubleDouble s2 = multiply(s, s);
    const Coefficients& c = coefficients();
    DoubleDouble sum = c.inverse_odd[23];
    for (int j = 22; j >= 0; --j) sum = add(multiply(sum, s2), c.inverse_odd[j]);
    const DoubleDouble log_m = multiply(multiply(sum, s), 2.0);
    return add(multiply(LN2, static_cast<double>(e)), log_m);
}

// e^z for a double-double z, as a double.
double exp_dd(DoubleDouble z) {
    if (z.hi > 709.8) return HUGE_VAL;
    if (z.hi < -745.2) return 0.0;
    const double k = std::floor(z.hi / LN2.hi + 0.5);
    const DoubleDouble r = add(z, negate(multiply(LN2, k)));  // |r| <= 0.35
    // e^r = (e^(r / 2^10))^(2^10): u = e^(r / 2^10) - 1 by its Taylor series
    // to the 9th power, then ten times u <- 2u + u^2, which is e^(2t) - 1
    // for u = e^t - 1 and keeps the small value's precision.
    const DoubleDouble t = {std::ldexp(r.hi, -10), std::ldexp(r.lo, -10)};
    const Coefficients& c = coefficients();
    DoubleDouble u = c.inverse_factorial[9];
    for (int n = 8; n >= 1; --n) u = add(multiply(u, t), c.inverse_factorial[n]);
    u = multiply(u, t);
    for (int i = 0; i < 10; ++i) u = add(multiply(u, 2.0), multiply(u, u));
    const DoubleDouble one_plus_u = add(u, 1.0);
    const int scale = static_cast<int>(k);
    // Results in the subnormal range are rounded twice; no caller comes
    // near them.
    return std::ldexp(one_plus_u.hi + one_plus_u.lo, scale);
}

bool is_integer(double y) { return std::floor(y) == y; }

bool is_odd_integer(double y) {
    return is_integer(y) && std::fabs(y) < 0x1p53 && std::fmod(y, 2.0) != 0.0;
}

}  // namespace

double cr_sin(double x) { return sin_or_cos(x, 0); }

double cr_cos(double x) { return sin_or_cos(x, 1); }

double cr_pow(double x, double y) {
    if (y == 0.0 || x == 1.0) return 1.0;
    if (std::isnan(x) || std::isnan(y)) return x + y;
    if (x == 0.0 || std::isinf(x) || std::isinf(y)) return std::pow(x, y);
    if (x < 0.0) {
        if (!is_integer(y)) return std::pow(x, y);  // NaN, domain error
        const double magnitude = cr_pow(-x, y);
        return is_odd_integer(y) ? -magnitude : magnitude;
    }
    if (y == 1.0) return x;
    return exp_dd(multiply(log_dd(x), y));
}

}  // namespace qern
