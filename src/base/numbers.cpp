#include "base/numbers.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>

namespace qern {

namespace {

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int read_leading_int(const char* text) {
    const char* p = text;
    while (is_space(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long long value = 0;  // saturates at INT_MAX + 1, enough to tell overflow
    for (; is_digit(*p); ++p) {
        value = value * 10 + (*p - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

double read_leading_real(const char* text) {
    const char* p = text;
    while (is_space(*p)) ++p;
    const char* start = p;
    if (*p == '+' || *p == '-') ++p;
    const char* digits = p;
    while (is_digit(*p)) ++p;
    bool any_digit = p != digits;
    if (*p == '.') {
        const char* fraction = ++p;
        while (is_digit(*p)) ++p;
        any_digit = any_digit || p != fraction;
    }
    if (!any_digit) return 0.0;
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        if (*q == '+' || *q == '-') ++q;
        if (is_digit(*q)) {
            while (is_digit(*q)) ++q;
            p = q;
        }
    }
    // strtod on exactly the decimal prefix found above.
    const std::string number(start, p);
    return std::strtod(number.c_str(), nullptr);
}

int truncate_to_int(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483648.0) return INT_MAX;
    if (value <= -2147483649.0) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace qern
