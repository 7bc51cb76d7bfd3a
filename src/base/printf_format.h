// Marks a function that takes a printf format, so that the compiler checks
// its arguments against the format (GCC and clang; nothing elsewhere).
#pragma once

#if defined(__GNUC__)
#define QERN_PRINTF_FORMAT(format_index, first_arg) \
    __attribute__((format(printf, format_index, first_arg)))
#else
#define QERN_PRINTF_FORMAT(format_index, first_arg)
#endif
